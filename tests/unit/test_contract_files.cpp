// Contract of the file calls where files are more than names and bytes: the
// rights an open asks for, truncation without write access, bad buffers,
// device names and the \\?\ and \\.\ prefixes.
// The same tables run over pal/ natively and over the real API under Wine;
// where Wine and Windows differ the test says so in its name.
#include "TestSupport.h"
#include "guardpage.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE Open(const std::string& path, DWORD access, DWORD disposition, DWORD share = kShareAll) {
    return CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

DWORD Position(HANDLE handle) {
    return SetFilePointer(handle, 0, nullptr, FILE_CURRENT);
}

class ContractFiles : public TempDirTest {};

// ---- Truncation ----------------------------------------------------------------

// The open's own share mode denies others only: one that does not share
// writing still truncates, beside a handle that shares everything too.
TEST_F(ContractFiles, TruncatingOpensNeedNoWriteAccessButKeepTheirRights) {
    struct Case {
        DWORD disposition;
        DWORD access;
        DWORD share;
        bool held;   // another handle reads the file, sharing everything
        DWORD error; // last error after the open
    } cases[] = {
        {CREATE_ALWAYS, GENERIC_READ, kShareAll, false, ERROR_ALREADY_EXISTS},
        {CREATE_ALWAYS, 0, kShareAll, false, ERROR_ALREADY_EXISTS},
        {CREATE_ALWAYS, FILE_READ_DATA, kShareAll, false, ERROR_ALREADY_EXISTS},
        {CREATE_ALWAYS, FILE_READ_ATTRIBUTES, kShareAll, false, ERROR_ALREADY_EXISTS},
        {CREATE_ALWAYS, FILE_APPEND_DATA, kShareAll, false, ERROR_ALREADY_EXISTS},
        {CREATE_ALWAYS, GENERIC_READ, FILE_SHARE_READ, false, ERROR_ALREADY_EXISTS},
        {CREATE_ALWAYS, GENERIC_READ, 0, false, ERROR_ALREADY_EXISTS},
        {CREATE_ALWAYS, 0, 0, false, ERROR_ALREADY_EXISTS},
        {CREATE_ALWAYS, FILE_READ_DATA, FILE_SHARE_READ | FILE_SHARE_DELETE, false,
         ERROR_ALREADY_EXISTS},
        {CREATE_ALWAYS, GENERIC_READ, FILE_SHARE_READ, true, ERROR_ALREADY_EXISTS},
        {TRUNCATE_EXISTING, GENERIC_WRITE, kShareAll, false, ERROR_SUCCESS},
        {TRUNCATE_EXISTING, FILE_WRITE_DATA, kShareAll, false, ERROR_SUCCESS},
        {TRUNCATE_EXISTING, GENERIC_WRITE, 0, false, ERROR_SUCCESS},
    };
    const std::string path = PathOf("t.txt");
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "disposition " << c.disposition << std::hex << " access " << c.access
                     << " share " << c.share << (c.held ? " held" : ""));
        WriteBytes(path, "0123456789");
        HANDLE holder = c.held ? Open(path, GENERIC_READ, OPEN_EXISTING) : INVALID_HANDLE_VALUE;
        SetLastError(12345);
        HANDLE handle = Open(path, c.access, c.disposition, c.share);
        DWORD error = GetLastError();
        if (holder != INVALID_HANDLE_VALUE) {
            CloseHandle(holder);
        }
        ASSERT_NE(handle, INVALID_HANDLE_VALUE) << error;
        EXPECT_EQ(error, c.error);
        DWORD count = 99;
        bool writes = (c.access & (GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
        EXPECT_EQ(WriteFile(handle, "x", 1, &count, nullptr) != FALSE, writes);
        CloseHandle(handle);
        EXPECT_EQ(ReadBytes(path), writes ? "x" : "");
    }
}

TEST_F(ContractFiles, TruncateExistingWithoutWriteDataFails_WindowsDocumented_NotUnderWine) {
    if (UnderWine()) {
        GTEST_SKIP() << "Wine truncates; Windows documents that TRUNCATE_EXISTING needs "
                        "GENERIC_WRITE";
    }
    const std::string path = PathOf("t.txt");
    WriteBytes(path, "0123456789");
    for (DWORD access : {static_cast<DWORD>(GENERIC_READ), static_cast<DWORD>(0),
                         static_cast<DWORD>(FILE_APPEND_DATA)}) {
        SetLastError(0);
        EXPECT_EQ(Open(path, access, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE) << access;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        EXPECT_EQ(ReadBytes(path), "0123456789");
    }
}

TEST_F(ContractFiles, TruncationKeepsTheBytesOfAFileSharedWithoutWriting_NotUnderWine) {
    if (UnderWine()) {
        GTEST_SKIP() << "Wine truncates through an open without write access even when "
                        "another handle denies writing";
    }
    const std::string path = PathOf("held.txt");
    WriteBytes(path, "precious");
    HANDLE holder = Open(path, GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    for (DWORD access : {static_cast<DWORD>(GENERIC_READ), static_cast<DWORD>(0)}) {
        SetLastError(0);
        EXPECT_EQ(Open(path, access, CREATE_ALWAYS), INVALID_HANDLE_VALUE) << access;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    CloseHandle(holder);
    EXPECT_EQ(ReadBytes(path), "precious");
}

// ---- Specific access rights ----------------------------------------------------

TEST_F(ContractFiles, SpecificRightsGovernReadsAndWrites) {
    struct Case {
        DWORD access;
        bool reads;
        const char* after;  // the file after "AB" is written at offset 2; null: refused
        DWORD pointerAfter; // where the write leaves the pointer
    } cases[] = {
        {FILE_READ_DATA, true, nullptr, 2},
        {FILE_WRITE_DATA, false, "01AB456789", 4},
        {FILE_APPEND_DATA, false, "0123456789AB", 12}, // appending writes at the end
        {FILE_READ_DATA | FILE_APPEND_DATA, true, "0123456789AB", 12},
        {FILE_WRITE_DATA | FILE_APPEND_DATA, false, "01AB456789", 4},
        {FILE_EXECUTE, false, nullptr, 2},
        {FILE_GENERIC_READ, true, nullptr, 2},
        {FILE_GENERIC_WRITE, false, "01AB456789", 4},
        {FILE_GENERIC_EXECUTE, false, nullptr, 2},
        {GENERIC_EXECUTE, false, nullptr, 2},
        {FILE_READ_ATTRIBUTES, false, nullptr, 2},
    };
    const std::string path = PathOf("rights.txt");
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << "access " << c.access);
        WriteBytes(path, "0123456789");
        HANDLE handle = Open(path, c.access, OPEN_EXISTING);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE) << GetLastError();
        char buffer[4] = {};
        DWORD count = 99;
        SetLastError(0);
        EXPECT_EQ(ReadFile(handle, buffer, 3, &count, nullptr) != FALSE, c.reads);
        EXPECT_EQ(count, c.reads ? 3u : 0u);
        if (!c.reads) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        }
        SetFilePointer(handle, 2, nullptr, FILE_BEGIN);
        SetLastError(0);
        EXPECT_EQ(WriteFile(handle, "AB", 2, &count, nullptr) != FALSE, c.after != nullptr);
        if (c.after == nullptr) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        }
        EXPECT_EQ(Position(handle), c.pointerAfter);
        CloseHandle(handle);
        EXPECT_EQ(ReadBytes(path), c.after != nullptr ? c.after : "0123456789");
    }
}

TEST_F(ContractFiles, SpecificRightsTakePartInSharing) {
    constexpr DWORD SR = FILE_SHARE_READ;
    constexpr DWORD SW = FILE_SHARE_WRITE;
    constexpr DWORD SD = FILE_SHARE_DELETE;
    struct Case {
        DWORD firstAccess;
        DWORD firstShare;
        DWORD secondAccess;
        DWORD secondShare;
        bool secondOpens;
    } cases[] = {
        {FILE_READ_DATA, 0, GENERIC_READ, kShareAll, false},
        {FILE_WRITE_DATA, SR, GENERIC_WRITE, kShareAll, false},
        {FILE_APPEND_DATA, SR, GENERIC_WRITE, kShareAll, false},
        {FILE_EXECUTE, SW, GENERIC_READ, kShareAll, false}, // executing is reading
        {GENERIC_READ, SR, FILE_APPEND_DATA, kShareAll, false},
        {GENERIC_READ, SW, FILE_READ_DATA, kShareAll, false},
        {GENERIC_READ, SR | SD, FILE_EXECUTE, SR, true},
        {FILE_GENERIC_WRITE, kShareAll, GENERIC_READ, SR, false}, // the second denies writing
        // Rights to attributes, extended attributes and security are no data access.
        {FILE_READ_ATTRIBUTES, 0, GENERIC_READ, 0, true},
        {FILE_WRITE_ATTRIBUTES, 0, GENERIC_WRITE, 0, true},
        {FILE_READ_EA | FILE_WRITE_EA, 0, GENERIC_READ, 0, true},
        {READ_CONTROL | SYNCHRONIZE, 0, GENERIC_WRITE, 0, true},
    };
    const std::string path = PathOf("shared.txt");
    WriteBytes(path, "data");
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << std::hex << "first " << c.firstAccess << "/" << c.firstShare << ", second "
                     << c.secondAccess << "/" << c.secondShare);
        HANDLE first = Open(path, c.firstAccess, OPEN_EXISTING, c.firstShare);
        ASSERT_NE(first, INVALID_HANDLE_VALUE);
        SetLastError(0);
        HANDLE second = Open(path, c.secondAccess, OPEN_EXISTING, c.secondShare);
        EXPECT_EQ(second != INVALID_HANDLE_VALUE, c.secondOpens);
        if (second != INVALID_HANDLE_VALUE) {
            CloseHandle(second);
        } else {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        }
        CloseHandle(first);
    }
}

// ---- Bad buffers ---------------------------------------------------------------

// A buffer the call cannot use fails the whole call: nothing is transferred,
// the count is 0 and the file pointer stays where it was.
TEST_F(ContractFiles, BadBuffersTransferNothing) {
    char* edge = BufferBeforeGuardPage(10); // 10 usable bytes, then none
    ASSERT_NE(edge, nullptr);
    static const char kReadOnly[] = "read-only";
    struct Case {
        const char* name;
        bool write;
        void* buffer;
        DWORD size;
        DWORD start; // file pointer before the call
        DWORD error;
    } cases[] = {
        {"read into null", false, nullptr, 10, 0, ERROR_NOACCESS},
        {"read past the buffer's end", false, edge, 50, 0, ERROR_NOACCESS},
        {"read into no memory", false, edge + 10, 50, 40, ERROR_NOACCESS},
        {"read into read-only memory", false, const_cast<char*>(kReadOnly), 5, 0, ERROR_NOACCESS},
        {"write from null", true, nullptr, 10, 0, ERROR_INVALID_USER_BUFFER},
        {"write past the buffer's end", true, edge, 50, 0, ERROR_INVALID_USER_BUFFER},
        {"write past the buffer's end at the end", true, edge, 50, 100, ERROR_INVALID_USER_BUFFER},
        {"write from no memory", true, edge + 10, 50, 40, ERROR_INVALID_USER_BUFFER},
    };
    const std::string path = PathOf("buffers.txt");
    const std::string bytes(100, 'x');
    WriteBytes(path, bytes);
    HANDLE handle = Open(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetFilePointer(handle, static_cast<LONG>(c.start), nullptr, FILE_BEGIN);
        DWORD count = 99;
        SetLastError(0);
        EXPECT_FALSE(c.write ? WriteFile(handle, c.buffer, c.size, &count, nullptr)
                             : ReadFile(handle, c.buffer, c.size, &count, nullptr));
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(count, 0u);
        EXPECT_EQ(Position(handle), c.start);
    }
    // An empty transfer needs no buffer.
    DWORD count = 99;
    EXPECT_TRUE(ReadFile(handle, nullptr, 0, &count, nullptr));
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(WriteFile(handle, nullptr, 0, &count, nullptr));
    CloseHandle(handle);
    EXPECT_EQ(ReadBytes(path), bytes);
}

// ---- Device names --------------------------------------------------------------

TEST_F(ContractFiles, NulIsASinkThatNeverBecomesAFile) {
    const DWORD dispositions[] = {CREATE_NEW, CREATE_ALWAYS, OPEN_EXISTING, OPEN_ALWAYS,
                                  TRUNCATE_EXISTING};
    for (const std::string& name :
         {std::string("NUL"), PathOf("NUL"), PathOf("nul.txt"), PathOf("Nul.tar.gz"),
          std::string("\\\\.\\NUL"), std::string("\\\\?\\nul")}) {
        for (DWORD disposition : dispositions) {
            SCOPED_TRACE(name + " disposition " + std::to_string(disposition));
            SetLastError(12345);
            HANDLE sink = Open(name, GENERIC_READ | GENERIC_WRITE, disposition);
            ASSERT_NE(sink, INVALID_HANDLE_VALUE) << GetLastError();
            EXPECT_EQ(GetLastError(),
                      static_cast<DWORD>(disposition == OPEN_ALWAYS ? ERROR_ALREADY_EXISTS
                                                                    : ERROR_SUCCESS));
            DWORD count = 0;
            EXPECT_TRUE(WriteFile(sink, "hello", 5, &count, nullptr));
            EXPECT_EQ(count, 5u);
            char buffer[8];
            count = 99;
            EXPECT_TRUE(ReadFile(sink, buffer, sizeof buffer, &count, nullptr));
            EXPECT_EQ(count, 0u);
            EXPECT_EQ(GetFileSize(sink, nullptr), 0u);
            CloseHandle(sink);
        }
    }
    SetLastError(0);
    EXPECT_FALSE(DeleteFileA("\\\\.\\NUL"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    WriteBytes(PathOf("src.txt"), "abc");
    EXPECT_TRUE(CopyFileA(PathOf("src.txt").c_str(), PathOf("nul.dat").c_str(), FALSE));
    EXPECT_EQ(FolderListing(Dir()), std::vector<std::string>{"src.txt"});
}

// Every call on a device name answers for the device, in any folder and with
// any extension. Under Wine a port may exist (it opens); this machine's
// layer has no console and no ports, which fail to open as on a Windows
// machine without them.
TEST_F(ContractFiles, DeviceNamesNameDevicesNotFiles) {
    enum Kind { kNul, kConsole, kPort };
    struct Case {
        const char* name;
        Kind kind;
        const char* found; // FindFirstFileA's name
    } cases[] = {
        {"NUL", kNul, "NUL"},        {"nul.txt", kNul, "nul"}, {"Nul.tar.gz", kNul, "Nul"},
        {"NUL:", kNul, "NUL"},       {"CON", kConsole, "CON"}, {"con.log", kConsole, "con"},
        {"AUX", kPort, "AUX"},       {"PRN", kPort, "PRN"},    {"COM9", kPort, "COM9"},
        {"com9.log", kPort, "com9"}, {"LPT1", kPort, "LPT1"},  {"lpt9.txt", kPort, "lpt9"},
    };
    const std::string source = PathOf("src.txt");
    WriteBytes(source, "abc");
    char folder[MAX_PATH];
    ASSERT_GT(GetShortPathNameA(Dir().c_str(), folder, MAX_PATH), 0u);
    for (const Case& c : cases) {
        const std::string path = PathOf(c.name);
        SCOPED_TRACE(path);
        SetLastError(0);
        HANDLE device = Open(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
        DWORD openError = device == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
        bool present = device != INVALID_HANDLE_VALUE;
        if (present) {
            CloseHandle(device);
        }
        switch (c.kind) {
        case kNul:
            EXPECT_TRUE(present);
            break;
        case kConsole: // a program without a console
            EXPECT_TRUE(present ? UnderWine() : openError == ERROR_INVALID_HANDLE);
            break;
        case kPort:
            EXPECT_TRUE(present ? UnderWine() : openError == ERROR_FILE_NOT_FOUND);
            break;
        }
        EXPECT_EQ(GetFileAttributesA(path.c_str()), static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA(path.c_str(), &data);
        ASSERT_NE(find, INVALID_HANDLE_VALUE);
        EXPECT_STREQ(data.cFileName, c.found);
        EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
        EXPECT_EQ(data.nFileSizeLow, 0u);
        EXPECT_FALSE(FindNextFileA(find, &data));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
        FindClose(find);
        char shortPath[MAX_PATH] = {};
        EXPECT_GT(GetShortPathNameA(path.c_str(), shortPath, MAX_PATH), 0u);
        EXPECT_EQ(shortPath, std::string(folder) + c.found);

        SetLastError(0);
        EXPECT_EQ(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN) != FALSE, present);
        if (!present) {
            EXPECT_EQ(GetLastError(), openError);
        }
        DWORD removeError = present ? ERROR_INVALID_PARAMETER : openError;
        SetLastError(0);
        EXPECT_FALSE(DeleteFileA(path.c_str()));
        EXPECT_EQ(GetLastError(), removeError);
        SetLastError(0);
        EXPECT_FALSE(MoveFileExA(path.c_str(), PathOf("moved.txt").c_str(), 0));
        EXPECT_EQ(GetLastError(), removeError);
        SetLastError(0);
        EXPECT_FALSE(MoveFileExA(source.c_str(), path.c_str(), 0));
        EXPECT_EQ(GetLastError(),
                  static_cast<DWORD>(present && c.kind == kPort ? ERROR_ALREADY_EXISTS
                                                                : ERROR_BAD_DEV_TYPE));
        EXPECT_EQ(FolderListing(Dir()), std::vector<std::string>{"src.txt"});
    }
}

TEST_F(ContractFiles, DeviceNamesInAMissingFolderAreMissingPaths) {
    for (const char* name : {"missing\\NUL", "missing\\nul.txt", "missing\\CON", "missing\\com9"}) {
        const std::string path = PathOf(name);
        SCOPED_TRACE(path);
        SetLastError(0);
        EXPECT_EQ(Open(path, GENERIC_WRITE, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
        SetLastError(0);
        EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
        WIN32_FIND_DATAA data;
        SetLastError(0);
        EXPECT_EQ(FindFirstFileA(path.c_str(), &data), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
        SetLastError(0);
        EXPECT_FALSE(DeleteFileA(path.c_str()));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    }
}

TEST_F(ContractFiles, NamesThatOnlyLookLikeDevicesAreFiles) {
    for (const char* name : {"COM0", "LPT0", "COM10", "NULL.txt", "CONSOLE", "xnul", "AUX1.log"}) {
        SCOPED_TRACE(name);
        const std::string path = PathOf(name);
        HANDLE file = Open(path, GENERIC_WRITE, CREATE_NEW);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
        CloseHandle(file);
        EXPECT_EQ(FolderListing(Dir()), std::vector<std::string>{name});
        EXPECT_TRUE(DeleteFileA(path.c_str()));
    }
}

// ---- \\?\ and \\.\ ----------------------------------------------------------------

TEST_F(ContractFiles, LongPathAndDevicePrefixesNameFiles) {
    WriteBytes(PathOf("g.txt"), "gg");
    ASSERT_TRUE(CreateDirectoryA(PathOf("sub").c_str(), nullptr));
    const std::string literal = "\\\\?\\" + Dir();
    const std::string device = "\\\\.\\" + Dir();
    struct Case {
        std::string path;
        DWORD error; // 0: opens g.txt
    } cases[] = {
        {literal + "g.txt", 0},
        {literal + "G.TXT", 0}, // letter case still does not matter
        {device + "g.txt", 0},
        {device + "sub\\..\\g.txt", 0},                   // \\.\ paths are normalised
        {literal + "sub\\..\\g.txt", ERROR_INVALID_NAME}, // \\?\ paths are not
        {literal + "sub/../g.txt", ERROR_INVALID_NAME},
        {literal + "h.txt", ERROR_FILE_NOT_FOUND},
        {literal + "nul", ERROR_FILE_NOT_FOUND}, // a file name here, not the device
        {device + "nul.txt", ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        SetLastError(0);
        HANDLE file = Open(c.path, GENERIC_READ, OPEN_EXISTING);
        EXPECT_EQ(file != INVALID_HANDLE_VALUE, c.error == 0);
        EXPECT_EQ(GetLastError(), c.error);
        if (file != INVALID_HANDLE_VALUE) {
            char buffer[4];
            DWORD count = 0;
            EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &count, nullptr));
            EXPECT_EQ(std::string(buffer, count), "gg");
            CloseHandle(file);
        }
        EXPECT_EQ(GetFileAttributesA(c.path.c_str()) != INVALID_FILE_ATTRIBUTES, c.error == 0);
    }
    // Through \\?\ a file can even be called NUL; it takes the prefix to reach it.
    HANDLE made = Open(literal + "nul", GENERIC_WRITE, CREATE_NEW);
    ASSERT_NE(made, INVALID_HANDLE_VALUE) << GetLastError();
    CloseHandle(made);
    EXPECT_TRUE(MoveFileExA((literal + "nul").c_str(), (literal + "sub\\nul.txt").c_str(), 0));
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((literal + "sub\\*.txt").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, "nul.txt");
    FindClose(find);
    EXPECT_TRUE(DeleteFileA((literal + "sub\\nul.txt").c_str()));
    EXPECT_TRUE(RemoveDirectoryA((literal + "sub").c_str()));
    EXPECT_EQ(FolderListing(Dir()), std::vector<std::string>{"g.txt"});
}

} // namespace
