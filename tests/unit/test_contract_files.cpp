// Contract of the file calls where files are more than names and bytes: the
// rights an open asks for, truncation without write access and bad buffers.
// The same tables run over pal/ natively and over the real API under Wine;
// where Wine and Windows differ the test says so in its name.
#include "TestSupport.h"
#include "guardpage.h"

#include <string>

namespace {

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

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

TEST_F(ContractFiles, TruncatingOpensNeedNoWriteAccessButKeepTheirRights) {
    struct Case {
        DWORD disposition;
        DWORD access;
        DWORD error; // last error after the open
    } cases[] = {
        {CREATE_ALWAYS, GENERIC_READ, ERROR_ALREADY_EXISTS},
        {CREATE_ALWAYS, 0, ERROR_ALREADY_EXISTS},
        {CREATE_ALWAYS, FILE_READ_DATA, ERROR_ALREADY_EXISTS},
        {CREATE_ALWAYS, FILE_READ_ATTRIBUTES, ERROR_ALREADY_EXISTS},
        {CREATE_ALWAYS, FILE_APPEND_DATA, ERROR_ALREADY_EXISTS},
        {TRUNCATE_EXISTING, GENERIC_WRITE, ERROR_SUCCESS},
        {TRUNCATE_EXISTING, FILE_WRITE_DATA, ERROR_SUCCESS},
    };
    const std::string path = PathOf("t.txt");
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "disposition " << c.disposition << std::hex << " access " << c.access);
        WriteBytes(path, "0123456789");
        SetLastError(12345);
        HANDLE handle = Open(path, c.access, c.disposition);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE) << GetLastError();
        EXPECT_EQ(GetLastError(), c.error);
        DWORD count = 99;
        bool writes = (c.access & (GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA)) != 0;
        EXPECT_EQ(WriteFile(handle, "x", 1, &count, nullptr) != FALSE, writes);
        CloseHandle(handle);
        EXPECT_EQ(ReadBytes(path), writes ? "x" : "");
    }
}

TEST_F(ContractFiles, TruncateExistingWithoutWriteDataFails_WindowsDocumented_NotUnderWine) {
    if (RunningUnderWine()) {
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
    if (RunningUnderWine()) {
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

} // namespace
