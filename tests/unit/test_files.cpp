// Files and directories through the Win32 calls the program makes: share
// modes (in this process and from a second one), attributes, find handles,
// file pointers, short names, moves and the restart-time rename list.
#include "TestSupport.h"

#include <string>
#include <vector>

namespace {

// Wine running as root lets the read-only attribute pass opens for writing,
// and keeps a name's letter case on a rename that changes only the case;
// tests of those Windows rules run everywhere else.
bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition = OPEN_EXISTING) {
    return CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

// Attributes without the archive bit, which Windows sets on its own.
DWORD AttributesOf(const std::string& path) {
    DWORD attrs = GetFileAttributesA(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) {
        return attrs;
    }
    attrs &= ~static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE);
    return attrs == 0 ? FILE_ATTRIBUTE_NORMAL : attrs;
}

std::vector<std::string> FindNames(const std::string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        names.push_back(data.cFileName);
    } while (FindNextFileA(find, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    FindClose(find);
    return names;
}

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    for (const auto& item : names) {
        if (item == name) {
            return true;
        }
    }
    return false;
}

class FilesTest : public TempDirTest {};

// ---- Share modes ---------------------------------------------------------------

constexpr DWORD R = GENERIC_READ;
constexpr DWORD W = GENERIC_WRITE;
constexpr DWORD SR = FILE_SHARE_READ;
constexpr DWORD SW = FILE_SHARE_WRITE;
constexpr DWORD SD = FILE_SHARE_DELETE;

struct ShareCase {
    DWORD firstAccess;
    DWORD firstShare;
    DWORD secondAccess;
    DWORD secondShare;
    bool secondOpens;
};

TEST_F(FilesTest, SecondOpenFollowsTheShareRules) {
    const ShareCase cases[] = {
        {R, SR, R, SR, true},
        {R, SR, W, SR | SW, false}, // the first does not share writing
        {R, SR | SW, W, SR | SW, true},
        {W, SR, R, SR | SW, true},
        {W, SR, R, SR, false}, // the second would deny the first's writing
        {W, 0, R, SR | SW | SD, false},
        {R | W, SR | SW, R | W, SR | SW, true},
        {R | W, SR, R, SR | SW, true}, // a writable engine lets readers in
        {R, SR | SW, R | W, SR, true}, // a reader does not keep the engine out
        {R | W, SR, R | W, SR, false}, // a writable engine keeps other writers out
        {R, 0, 0, 0, true},            // an open without data access takes no part
        {0, 0, R | W, 0, true},
        {R, SR | SW | SD, DELETE, SR | SW | SD, true},
        {R, SR | SW, DELETE, SR | SW | SD, false},
        {DELETE, SR | SW | SD, R, SR | SW, false},
    };
    const std::string path = PathOf("shared.txt");
    WriteBytes(path, "data");
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << std::hex << "first " << c.firstAccess << "/" << c.firstShare << ", second "
                     << c.secondAccess << "/" << c.secondShare);
        HANDLE first = Open(path, c.firstAccess, c.firstShare);
        ASSERT_NE(first, INVALID_HANDLE_VALUE);
        HANDLE second = Open(path, c.secondAccess, c.secondShare);
        if (c.secondOpens) {
            EXPECT_NE(second, INVALID_HANDLE_VALUE);
        } else {
            EXPECT_EQ(second, INVALID_HANDLE_VALUE);
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        }
        if (second != INVALID_HANDLE_VALUE) {
            CloseHandle(second);
        }
        CloseHandle(first);
    }
}

TEST_F(FilesTest, ClosingTheHandleEndsItsShareMode) {
    const std::string path = PathOf("closed.txt");
    WriteBytes(path, "x");
    HANDLE first = Open(path, R | W, 0);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(path, R, SR | SW), INVALID_HANDLE_VALUE);
    CloseHandle(first);
    HANDLE again = Open(path, R | W, 0);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
}

TEST_F(FilesTest, ARefusedOpenDoesNotTruncate) {
    const std::string path = PathOf("keep.txt");
    WriteBytes(path, "precious");
    HANDLE holder = Open(path, R, SR);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(path, W, SR, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(holder);
    EXPECT_EQ(ReadBytes(path), "precious");
}

TEST_F(FilesTest, AFileOpenWithoutDeleteSharingCannotBeDeleted) {
    const std::string path = PathOf("open.txt");
    WriteBytes(path, "x");
    HANDLE handle = Open(path, R, SR | SW);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(DeleteFileA(path.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(PathExists(path));
    CloseHandle(handle);
    EXPECT_TRUE(DeleteFileA(path.c_str()));
    EXPECT_FALSE(PathExists(path));
}

TEST_F(FilesTest, AFileOpenWithDeleteSharingIsGoneOnceClosed) {
    const std::string path = PathOf("sharedelete.txt");
    WriteBytes(path, "x");
    HANDLE handle = Open(path, R, SR | SD);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(DeleteFileA(path.c_str()));
    CloseHandle(handle);
    EXPECT_FALSE(PathExists(path));
}

// ---- A second process -----------------------------------------------------------

// Runs holdfile on a file and waits until it holds it; releases it and
// waits for its end when destroyed. Every wait is bounded.
class Holder {
  public:
    Holder(const std::string& file, const std::string& dir)
        : ready_(dir + "holder.ready"), release_(dir + "holder.release") {
        std::string parameters = "\"" + file + "\" \"" + ready_ + "\" \"" + release_ + "\"";
        SHELLEXECUTEINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
        info.lpFile = VANTREL_HOLDFILE;
        info.lpParameters = parameters.c_str();
        info.lpDirectory = dir.c_str();
        info.nShow = SW_HIDE;
        if (!ShellExecuteExA(&info) || info.hProcess == nullptr) {
            return;
        }
        process_ = info.hProcess;
        for (int waited = 0; waited < 30000; waited += 10) {
            if (PathExists(ready_)) {
                holding_ = true;
                return;
            }
            DWORD code = 0;
            if (GetExitCodeProcess(process_, &code) && code != STILL_ACTIVE) {
                return;
            }
            Sleep(10);
        }
    }
    ~Holder() { Release(); }
    // Lets holdfile go and returns its exit code (STILL_ACTIVE if it hangs).
    DWORD Release() {
        if (process_ == nullptr) {
            return exitCode_;
        }
        WriteBytes(release_, "");
        DWORD code = STILL_ACTIVE;
        for (int waited = 0; waited < 30000 && code == STILL_ACTIVE; waited += 10) {
            if (!GetExitCodeProcess(process_, &code)) {
                break;
            }
            if (code == STILL_ACTIVE) {
                Sleep(10);
            }
        }
        CloseHandle(process_);
        process_ = nullptr;
        exitCode_ = code;
        return code;
    }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;
    bool Holding() const { return holding_; }

  private:
    std::string ready_;
    std::string release_;
    HANDLE process_ = nullptr;
    bool holding_ = false;
    DWORD exitCode_ = STILL_ACTIVE;
};

TEST_F(FilesTest, AFileHeldByAnotherProcessCanNeitherBeOpenedNorDeleted) {
    const std::string path = PathOf("held.txt");
    WriteBytes(path, "held");
    {
        Holder holder(path, Dir());
        ASSERT_TRUE(holder.Holding()) << "holdfile did not take the file";
        EXPECT_EQ(Open(path, W, SR | SW | SD), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        EXPECT_EQ(Open(path, R, SR | SW | SD), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        EXPECT_FALSE(DeleteFileA(path.c_str()));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        EXPECT_TRUE(PathExists(path));
        // Attributes can still be read and changed, as the removal code does.
        EXPECT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL));
        EXPECT_EQ(holder.Release(), 0u);
    }
    EXPECT_EQ(ReadBytes(path), "held");
    EXPECT_TRUE(DeleteFileA(path.c_str()));
}

TEST_F(FilesTest, HoldfileCannotTakeAFileThisProcessHoldsWithoutSharing) {
    const std::string path = PathOf("mine.txt");
    WriteBytes(path, "mine");
    HANDLE mine = Open(path, R, 0);
    ASSERT_NE(mine, INVALID_HANDLE_VALUE);
    {
        Holder holder(path, Dir());
        EXPECT_FALSE(holder.Holding());
        EXPECT_EQ(holder.Release(), 2u); // holdfile's "cannot open"
    }
    CloseHandle(mine);
}

// ---- Attributes -------------------------------------------------------------------

TEST_F(FilesTest, AttributesRoundTrip) {
    const std::string path = PathOf("attrs.txt");
    WriteBytes(path, "x");
    EXPECT_EQ(AttributesOf(path), static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
    const DWORD sets[] = {
        FILE_ATTRIBUTE_HIDDEN,
        FILE_ATTRIBUTE_SYSTEM,
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
        FILE_ATTRIBUTE_READONLY,
        FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
        FILE_ATTRIBUTE_NORMAL,
    };
    for (DWORD attrs : sets) {
        SCOPED_TRACE(attrs);
        EXPECT_TRUE(SetFileAttributesA(path.c_str(), attrs));
        EXPECT_EQ(AttributesOf(path), attrs);
    }
}

TEST_F(FilesTest, DirectoriesCarryTheDirectoryAttribute) {
    const std::string dir = PathOf("sub");
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    EXPECT_EQ(AttributesOf(dir), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_TRUE(SetFileAttributesA(dir.c_str(), FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(AttributesOf(dir),
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_TRUE(SetFileAttributesA(dir.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(AttributesOf(dir), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
}

TEST_F(FilesTest, AttributesOfAMissingPathFail) {
    EXPECT_EQ(GetFileAttributesA(PathOf("missing.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(GetFileAttributesA(PathOf("nodir\\missing.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(SetFileAttributesA(PathOf("missing.txt").c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FilesTest, AReadOnlyFileCannotBeDeletedUntilItsAttributeIsCleared) {
    const std::string path = PathOf("readonly.txt");
    WriteBytes(path, "ro");
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(DeleteFileA(path.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(ReadBytes(path), "ro"); // reading is still allowed
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL));
    EXPECT_TRUE(DeleteFileA(path.c_str()));
}

TEST_F(FilesTest, AReadOnlyFileCannotBeOpenedForWriting_NotUnderWineAsRoot) {
    if (RunningUnderWine()) {
        GTEST_SKIP() << "Wine running as root opens read-only files for writing";
    }
    const std::string path = PathOf("readonly.txt");
    WriteBytes(path, "ro");
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    for (DWORD disposition : {static_cast<DWORD>(OPEN_EXISTING), static_cast<DWORD>(OPEN_ALWAYS),
                              static_cast<DWORD>(CREATE_ALWAYS)}) {
        SCOPED_TRACE(disposition);
        EXPECT_EQ(Open(path, R | W, SR, disposition), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    EXPECT_EQ(ReadBytes(path), "ro");
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(FilesTest, CreateAlwaysKeepsAHiddenFileUnlessAskedForHidden_NotUnderWineAsRoot) {
    if (RunningUnderWine()) {
        GTEST_SKIP() << "Wine running as root replaces hidden files";
    }
    const std::string path = PathOf("hidden.txt");
    WriteBytes(path, "h");
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(Open(path, W, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_HIDDEN, nullptr);
    EXPECT_NE(handle, INVALID_HANDLE_VALUE);
    CloseHandle(handle);
}

// ---- Opening and creating ------------------------------------------------------------

struct DispositionCase {
    const char* name;
    DWORD disposition;
    bool exists;
    bool opens;
    DWORD error; // last error after the call
    const char* contentAfter;
};

TEST_F(FilesTest, DispositionsFollowWindows) {
    const DispositionCase cases[] = {
        {"new on missing", CREATE_NEW, false, true, ERROR_SUCCESS, ""},
        {"new on existing", CREATE_NEW, true, false, ERROR_FILE_EXISTS, "old"},
        {"always on missing", CREATE_ALWAYS, false, true, ERROR_SUCCESS, ""},
        {"always on existing", CREATE_ALWAYS, true, true, ERROR_ALREADY_EXISTS, ""},
        {"open on missing", OPEN_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
        {"open on existing", OPEN_EXISTING, true, true, ERROR_SUCCESS, "old"},
        {"open always on missing", OPEN_ALWAYS, false, true, ERROR_SUCCESS, ""},
        {"open always on existing", OPEN_ALWAYS, true, true, ERROR_ALREADY_EXISTS, "old"},
        {"truncate on missing", TRUNCATE_EXISTING, false, false, ERROR_FILE_NOT_FOUND, nullptr},
        {"truncate on existing", TRUNCATE_EXISTING, true, true, ERROR_SUCCESS, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = PathOf("disp.txt");
        DeleteFileA(path.c_str());
        if (c.exists) {
            WriteBytes(path, "old");
        }
        SetLastError(12345);
        HANDLE handle = Open(path, R | W, 0, c.disposition);
        DWORD error = GetLastError();
        EXPECT_EQ(handle != INVALID_HANDLE_VALUE, c.opens);
        EXPECT_EQ(error, c.error);
        if (handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
        if (c.contentAfter == nullptr) {
            EXPECT_FALSE(PathExists(path));
        } else {
            EXPECT_EQ(ReadBytes(path), c.contentAfter);
        }
    }
}

TEST_F(FilesTest, OpeningFailsWithTheRightError) {
    EXPECT_EQ(Open(PathOf("nodir\\x.txt"), R, SR), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(Open(PathOf("nodir\\x.txt"), W, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    ASSERT_TRUE(CreateDirectoryA(PathOf("adir").c_str(), nullptr));
    EXPECT_EQ(Open(PathOf("adir"), R, SR), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(Open(PathOf("adir"), R, SR, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
}

TEST_F(FilesTest, HandlesReadAndWriteOnlyWhatTheyWereOpenedFor) {
    const std::string path = PathOf("rw.txt");
    WriteBytes(path, "abc");
    char buffer[4] = {};
    DWORD count = 99;
    HANDLE reader = Open(path, R, SR | SW);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(WriteFile(reader, "z", 1, &count, nullptr));
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(ReadFile(reader, buffer, 3, &count, nullptr));
    EXPECT_EQ(std::string(buffer, count), "abc");
    EXPECT_TRUE(ReadFile(reader, buffer, 3, &count, nullptr));
    EXPECT_EQ(count, 0u); // end of file is success with nothing read
    CloseHandle(reader);
    HANDLE writer = Open(path, W, SR | SW);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(ReadFile(writer, buffer, 3, &count, nullptr));
    EXPECT_TRUE(WriteFile(writer, "xy", 2, &count, nullptr));
    EXPECT_EQ(count, 2u);
    CloseHandle(writer);
    EXPECT_EQ(ReadBytes(path), "xyc");
}

TEST_F(FilesTest, FilePointerSizeAndEndOfFile) {
    const std::string path = PathOf("pointer.txt");
    HANDLE handle = Open(path, R | W, 0, CREATE_ALWAYS);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    DWORD count = 0;
    ASSERT_TRUE(WriteFile(handle, "0123456789", 10, &count, nullptr));
    EXPECT_EQ(GetFileSize(handle, nullptr), 10u);
    DWORD high = 7;
    EXPECT_EQ(GetFileSize(handle, &high), 10u);
    EXPECT_EQ(high, 0u);
    EXPECT_EQ(SetFilePointer(handle, 0, nullptr, FILE_CURRENT), 10u);
    EXPECT_EQ(SetFilePointer(handle, 4, nullptr, FILE_BEGIN), 4u);
    EXPECT_EQ(SetFilePointer(handle, 2, nullptr, FILE_CURRENT), 6u);
    EXPECT_EQ(SetFilePointer(handle, -3, nullptr, FILE_END), 7u);
    char byte = 0;
    ASSERT_TRUE(ReadFile(handle, &byte, 1, &count, nullptr));
    EXPECT_EQ(byte, '7');
    EXPECT_EQ(SetFilePointer(handle, -2, nullptr, FILE_CURRENT), 6u);
    ASSERT_TRUE(SetEndOfFile(handle));
    EXPECT_EQ(GetFileSize(handle, nullptr), 6u);

    EXPECT_EQ(SetFilePointer(handle, -1, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
    EXPECT_EQ(SetFilePointer(handle, 0, nullptr, FILE_CURRENT), 6u); // unmoved

    LONG moveHigh = 0;
    EXPECT_EQ(SetFilePointer(handle, 12, &moveHigh, FILE_BEGIN), 12u);
    EXPECT_EQ(moveHigh, 0);
    ASSERT_TRUE(SetEndOfFile(handle)); // grows the file with zero bytes
    EXPECT_EQ(GetFileSize(handle, nullptr), 12u);
    CloseHandle(handle);
    EXPECT_EQ(ReadBytes(path), std::string("012345") + std::string(6, '\0'));
}

TEST_F(FilesTest, ClosedAndUnknownHandlesAreRefused) {
    HANDLE handle = Open(PathOf("h.txt"), W, 0, CREATE_ALWAYS);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(CloseHandle(handle));
    DWORD count = 0;
    EXPECT_FALSE(WriteFile(handle, "x", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(CloseHandle(handle));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// ---- Names ---------------------------------------------------------------------------

TEST_F(FilesTest, NamesResolveWithoutRegardToLetterCase) {
    ASSERT_TRUE(CreateDirectoryA(PathOf("SubDir").c_str(), nullptr));
    WriteBytes(PathOf("SubDir\\Foo.TXT"), "found");
    EXPECT_EQ(ReadBytes(PathOf("subdir\\foo.txt")), "found");
    EXPECT_EQ(ReadBytes(PathOf("SUBDIR/FOO.txt")), "found");
    EXPECT_EQ(AttributesOf(PathOf("sUbDiR")), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    // Writing through another case changes the one file, not a second one.
    WriteBytes(PathOf("subdir\\FOO.TXT"), "changed");
    EXPECT_EQ(FindNames(PathOf("SubDir\\*.txt")), std::vector<std::string>{"Foo.TXT"});
    EXPECT_EQ(ReadBytes(PathOf("SubDir\\Foo.TXT")), "changed");
    // A find by another case reports the name as stored.
    EXPECT_EQ(FindNames(PathOf("subdir\\foo.txt")), std::vector<std::string>{"Foo.TXT"});
    EXPECT_TRUE(DeleteFileA(PathOf("SUBDIR\\foo.TXT").c_str()));
    EXPECT_FALSE(PathExists(PathOf("SubDir\\Foo.TXT")));
}

TEST_F(FilesTest, AccentedNamesResolveWithoutRegardToCase) {
    WriteBytes(PathOf("\xc9t\xe9.txt"), "accents"); // "Été.txt" in code page 1252
    EXPECT_EQ(ReadBytes(PathOf("\xe9t\xc9.TXT")), "accents");
}

TEST_F(FilesTest, DotsAndRepeatedSeparatorsAreApplied) {
    ASSERT_TRUE(CreateDirectoryA(PathOf("a").c_str(), nullptr));
    WriteBytes(PathOf("a\\file.txt"), "dots");
    EXPECT_EQ(ReadBytes(PathOf("a\\.\\file.txt")), "dots");
    EXPECT_EQ(ReadBytes(PathOf("missing\\..\\a\\file.txt")), "dots");
    EXPECT_EQ(ReadBytes(PathOf("a\\\\file.txt")), "dots");
    EXPECT_EQ(ReadBytes("C:\\..\\..\\" + PathOf("a\\file.txt").substr(3)), "dots");
}

TEST_F(FilesTest, NamesWithCharactersWindowsForbidsAreRefused) {
    for (const char* name : {"a*b.txt", "a?b.txt", "a<b", "a>b", "a|b", "a\"b", "tab\tname"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Open(PathOf(name), W, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
        EXPECT_FALSE(CreateDirectoryA(PathOf(name).c_str(), nullptr));
        EXPECT_EQ(GetFileAttributesA(PathOf(name).c_str()), INVALID_FILE_ATTRIBUTES);
    }
    EXPECT_EQ(FindNames(PathOf("*")), (std::vector<std::string>{".", ".."}));
}

TEST_F(FilesTest, ATrailingSeparatorNamesADirectoryOnly) {
    ASSERT_TRUE(CreateDirectoryA(PathOf("d").c_str(), nullptr));
    WriteBytes(PathOf("f.txt"), "f");
    EXPECT_EQ(AttributesOf(PathOf("d\\")), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(GetFileAttributesA(PathOf("f.txt\\").c_str()), INVALID_FILE_ATTRIBUTES);
}

// ---- Find ---------------------------------------------------------------------------------

TEST_F(FilesTest, FindTellsWhetherAFileExists) {
    WriteBytes(PathOf("there.txt"), "x");
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(PathOf("there.txt").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, "there.txt");
    EXPECT_EQ(data.nFileSizeLow, 1u);
    EXPECT_EQ(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_FALSE(FindNextFileA(find, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(find));

    EXPECT_EQ(FindFirstFileA(PathOf("absent.txt").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(FindFirstFileA(PathOf("nodir\\*").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(FindFirstFileA(PathOf("none*").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FilesTest, FindOfAFolderNamesTheFolderItself) {
    ASSERT_TRUE(CreateDirectoryA(PathOf("Folder").c_str(), nullptr));
    EXPECT_EQ(FindNames(PathOf("folder")), std::vector<std::string>{"Folder"});
}

TEST_F(FilesTest, WildcardsListMatchingEntries) {
    ASSERT_TRUE(CreateDirectoryA(PathOf("w").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(PathOf("w\\inner").c_str(), nullptr));
    for (const char* name : {"a.txt", "b.txt", "ab.log", "c.text"}) {
        WriteBytes(PathOf(std::string("w\\") + name), name);
    }
    std::vector<std::string> all = FindNames(PathOf("w\\*"));
    EXPECT_EQ(all.size(), 7u);
    for (const char* name : {".", "..", "inner", "a.txt", "b.txt", "ab.log", "c.text"}) {
        EXPECT_TRUE(Contains(all, name)) << name;
    }
    EXPECT_EQ(FindNames(PathOf("w\\*.*")).size(), 7u);
    std::vector<std::string> texts = FindNames(PathOf("w\\*.TXT"));
    EXPECT_EQ(texts.size(), 2u);
    EXPECT_TRUE(Contains(texts, "a.txt") && Contains(texts, "b.txt"));
    EXPECT_EQ(FindNames(PathOf("w\\?.txt")).size(), 2u);
    EXPECT_EQ(FindNames(PathOf("w\\a?.*")), std::vector<std::string>{"ab.log"});
    EXPECT_EQ(FindNames(PathOf("w\\*.text")), std::vector<std::string>{"c.text"});
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(PathOf("w\\inn*").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_NE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    FindClose(find);
}

// ---- Directories -----------------------------------------------------------------------------

TEST_F(FilesTest, CreateAndRemoveDirectories) {
    const std::string dir = PathOf("made");
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    EXPECT_FALSE(CreateDirectoryA(dir.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(CreateDirectoryA(PathOf("no\\such").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    WriteBytes(dir + "\\inside.txt", "x");
    EXPECT_FALSE(RemoveDirectoryA(dir.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
    EXPECT_FALSE(RemoveDirectoryA((dir + "\\inside.txt").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
    ASSERT_TRUE(DeleteFileA((dir + "\\inside.txt").c_str()));
    EXPECT_TRUE(RemoveDirectoryA(dir.c_str()));
    EXPECT_FALSE(PathExists(dir));
    EXPECT_FALSE(RemoveDirectoryA(dir.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FilesTest, DeleteFileRefusesFoldersAndMissingFiles) {
    ASSERT_TRUE(CreateDirectoryA(PathOf("folder").c_str(), nullptr));
    EXPECT_FALSE(DeleteFileA(PathOf("folder").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(DeleteFileA(PathOf("nothing.txt").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(DeleteFileA(PathOf("nodir\\nothing.txt").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// ---- Short names -------------------------------------------------------------------------------

bool FitsEightDotThree(const std::string& name) {
    size_t dot = name.find('.');
    size_t base = dot == std::string::npos ? name.size() : dot;
    size_t ext = dot == std::string::npos ? 0 : name.size() - dot - 1;
    return base >= 1 && base <= 8 && ext <= 3 && name.find(' ') == std::string::npos &&
           (dot == std::string::npos || name.find('.', dot + 1) == std::string::npos);
}

TEST_F(FilesTest, AShortPathOpensTheSameFile) {
    ASSERT_TRUE(CreateDirectoryA(PathOf("A Long Folder Name").c_str(), nullptr));
    const std::string longPath = PathOf("A Long Folder Name\\Some Long File Name.text");
    WriteBytes(longPath, "long");
    char shortPath[MAX_PATH] = {};
    DWORD length = GetShortPathNameA(longPath.c_str(), shortPath, sizeof shortPath);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
    EXPECT_EQ(length, std::string(shortPath).size());
    std::string text = shortPath;
    ASSERT_NE(text, longPath);
    std::string tail = text.substr(text.find_last_of('\\', text.find_last_of('\\') - 1) + 1);
    std::string folder = tail.substr(0, tail.find('\\'));
    std::string file = tail.substr(tail.find('\\') + 1);
    EXPECT_TRUE(FitsEightDotThree(folder)) << folder;
    EXPECT_TRUE(FitsEightDotThree(file)) << file;
    EXPECT_EQ(ReadBytes(text), "long");
    EXPECT_NE(GetFileAttributesA(shortPath), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FilesTest, LongNamesOfOneStemGetDistinctShortNames) {
    const char* const names[] = {"Program Files.text", "Program Data.text", "Programs Old.text",
                                 "PROGRA~1.TEX longer.text", "program files.texts"};
    std::vector<std::string> shortPaths;
    for (const char* name : names) {
        WriteBytes(PathOf(name), name);
    }
    for (const char* name : names) {
        char buffer[MAX_PATH] = {};
        ASSERT_GT(GetShortPathNameA(PathOf(name).c_str(), buffer, sizeof buffer), 0u) << name;
        std::string shortPath = buffer;
        EXPECT_TRUE(FitsEightDotThree(shortPath.substr(shortPath.find_last_of('\\') + 1)))
            << shortPath;
        EXPECT_EQ(ReadBytes(shortPath), name) << shortPath;
        EXPECT_FALSE(Contains(shortPaths, shortPath)) << shortPath;
        shortPaths.push_back(shortPath);
    }
    // Deleting one file leaves the short names of the others as they were.
    ASSERT_TRUE(DeleteFileA(PathOf(names[0]).c_str()));
    for (size_t i = 1; i < shortPaths.size(); ++i) {
        EXPECT_EQ(ReadBytes(shortPaths[i]), names[i]) << shortPaths[i];
    }
}

TEST_F(FilesTest, ShortPathBufferSizesFollowWindows) {
    const std::string path = PathOf("SHORT.TXT");
    WriteBytes(path, "s");
    char buffer[MAX_PATH] = {};
    DWORD length = GetShortPathNameA(path.c_str(), buffer, sizeof buffer);
    ASSERT_GT(length, 0u);
    std::string result = buffer;
    EXPECT_EQ(result.substr(result.size() - 9), "SHORT.TXT"); // a short name stays
    EXPECT_EQ(GetShortPathNameA(path.c_str(), nullptr, 0), length + 1);
    char small[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(GetShortPathNameA(path.c_str(), small, sizeof small), length + 1);
    EXPECT_EQ(GetShortPathNameA(path.c_str(), buffer, length), length + 1);
    EXPECT_EQ(GetShortPathNameA(path.c_str(), buffer, length + 1), length);
}

TEST_F(FilesTest, ShortPathOfAMissingFileFails) {
    char buffer[MAX_PATH];
    EXPECT_EQ(GetShortPathNameA(PathOf("missing file.text").c_str(), buffer, sizeof buffer), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(GetShortPathNameA(PathOf("no dir\\missing").c_str(), buffer, sizeof buffer), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

// ---- Moving and copying --------------------------------------------------------------------

TEST_F(FilesTest, MoveRenamesAndRespectsExistingTargets) {
    const std::string from = PathOf("from.txt");
    const std::string to = PathOf("to.txt");
    WriteBytes(from, "moved");
    ASSERT_TRUE(MoveFileExA(from.c_str(), to.c_str(), 0));
    EXPECT_FALSE(PathExists(from));
    EXPECT_EQ(ReadBytes(to), "moved");

    WriteBytes(from, "second");
    EXPECT_FALSE(MoveFileExA(from.c_str(), to.c_str(), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(ReadBytes(to), "moved");
    EXPECT_TRUE(MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(ReadBytes(to), "second");

    EXPECT_FALSE(MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FilesTest, MoveCanChangeLetterCaseOnly_NotUnderWine) {
    if (RunningUnderWine()) {
        GTEST_SKIP() << "Wine keeps the old letter case when only the case changes";
    }
    WriteBytes(PathOf("lower.txt"), "case");
    ASSERT_TRUE(MoveFileExA(PathOf("lower.txt").c_str(), PathOf("LOWER.TXT").c_str(), 0));
    EXPECT_EQ(FindNames(PathOf("*.txt")), std::vector<std::string>{"LOWER.TXT"});
}

TEST_F(FilesTest, AnOpenFileCannotBeMovedWithoutDeleteSharing) {
    const std::string from = PathOf("busy.txt");
    WriteBytes(from, "busy");
    HANDLE handle = Open(from, R, SR | SW);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(MoveFileExA(from.c_str(), PathOf("elsewhere.txt").c_str(), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    CloseHandle(handle);
    EXPECT_TRUE(MoveFileExA(from.c_str(), PathOf("elsewhere.txt").c_str(), 0));
}

TEST_F(FilesTest, CopyFileCopiesBytesAndHonoursFailIfExists) {
    const std::string from = PathOf("orig.bin");
    const std::string to = PathOf("copy.bin");
    const std::string bytes("a\0b\r\n\xff", 6);
    WriteBytes(from, bytes);
    ASSERT_TRUE(CopyFileA(from.c_str(), to.c_str(), TRUE));
    EXPECT_EQ(ReadBytes(to), bytes);
    WriteBytes(from, "new");
    EXPECT_FALSE(CopyFileA(from.c_str(), to.c_str(), TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(ReadBytes(to), bytes);
    EXPECT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE));
    EXPECT_EQ(ReadBytes(to), "new");
    EXPECT_FALSE(CopyFileA(PathOf("none").c_str(), to.c_str(), FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FilesTest, CopyFileOntoItselfFailsAndKeepsTheBytes) {
    const std::string path = PathOf("self.txt");
    WriteBytes(path, "self");
    EXPECT_FALSE(CopyFileA(path.c_str(), path.c_str(), FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(CopyFileA(path.c_str(), PathOf("SELF.TXT").c_str(), FALSE));
    EXPECT_EQ(ReadBytes(path), "self");
}

// ---- Restart-time renames ----------------------------------------------------------------------

const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kPending[] = "PendingFileRenameOperations";

// Reads the rename list; `present` tells whether the value exists.
std::string ReadPending(bool& present) {
    present = false;
    HKEY key = nullptr;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kSessionManager, &key) != ERROR_SUCCESS) {
        return {};
    }
    DWORD type = 0;
    DWORD size = 0;
    std::string data;
    if (RegQueryValueExA(key, kPending, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        present = true;
        data.resize(size);
        if (size > 0) {
            RegQueryValueExA(key, kPending, nullptr, &type, reinterpret_cast<BYTE*>(&data[0]),
                             &size);
        }
        data.resize(size);
        EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    }
    RegCloseKey(key);
    return data;
}

// Puts the rename list back as it was, so the test leaves no entries.
void RestorePending(bool present, const std::string& data) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kSessionManager, &key), ERROR_SUCCESS);
    if (present) {
        RegSetValueExA(key, kPending, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
                       static_cast<DWORD>(data.size()));
    } else {
        RegDeleteValueA(key, kPending);
    }
    RegCloseKey(key);
}

TEST_F(FilesTest, DelayedDeletionIsAddedToTheRenameList) {
    bool present = false;
    const std::string before = ReadPending(present);
    const std::string first = PathOf("later.dll");
    const std::string second = PathOf("missing-too.dll");
    WriteBytes(first, "x");
    EXPECT_TRUE(MoveFileExA(first.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    EXPECT_TRUE(MoveFileExA(second.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
    bool presentAfter = false;
    const std::string after = ReadPending(presentAfter);
    RestorePending(present, before);

    EXPECT_TRUE(PathExists(first)); // nothing happens before the restart
    const std::string pairs =
        std::string("\\??\\") + first + '\0' + '\0' + "\\??\\" + second + '\0' + '\0' + '\0';
    ASSERT_TRUE(presentAfter);
    ASSERT_GE(after.size(), pairs.size());
    EXPECT_EQ(after.substr(after.size() - pairs.size()), pairs);
    // Entries made before stay in front, unchanged.
    if (before.size() > 1) {
        EXPECT_EQ(after.substr(0, before.size() - 1), before.substr(0, before.size() - 1));
    }
}

// ---- Folders of the system --------------------------------------------------------------------

TEST(SystemFolders, WindowsDirectoryFollowsTheBufferConvention) {
    UINT needed = GetWindowsDirectoryA(nullptr, 0);
    ASSERT_GT(needed, 3u);
    std::vector<char> buffer(needed);
    EXPECT_EQ(GetWindowsDirectoryA(buffer.data(), needed), needed - 1);
    std::string dir(buffer.data());
    EXPECT_EQ(dir.size(), needed - 1);
    EXPECT_EQ(dir[1], ':');
    EXPECT_NE(dir.back(), '\\');
    EXPECT_EQ(GetWindowsDirectoryA(buffer.data(), needed - 1), needed);
    EXPECT_EQ(AttributesOf(dir), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
}

TEST(SystemFolders, TempPathEndsInABackslashAndExists) {
    char buffer[MAX_PATH] = {};
    DWORD length = GetTempPathA(sizeof buffer, buffer);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(length, std::string(buffer).size());
    EXPECT_EQ(buffer[length - 1], '\\');
    EXPECT_NE(GetFileAttributesA(buffer) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(GetTempPathA(0, nullptr), length + 1);
}

} // namespace
