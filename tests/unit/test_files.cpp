// Files through the Win32 calls the program makes: share modes (in this
// process and from a second one), attributes, opening and creating, and file
// pointers. Names are in test_file_names.cpp, moves in test_file_moves.cpp.
#include "FileTestSupport.h"

#include <string>
#include <vector>

namespace {

using namespace filetest;

// ---- Share modes ---------------------------------------------------------------

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
    if (UnderWine()) {
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
    if (UnderWine()) {
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

} // namespace
