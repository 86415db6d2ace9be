// Moving and copying files, and the restart-time rename list, through the
// Win32 calls the program makes.
#include "FileTestSupport.h"

#include <string>
#include <vector>

namespace {

using namespace filetest;

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
    if (UnderWine()) {
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

// ---- Replacing ---------------------------------------------------------------------------

// ReplaceFileA as Windows documents it: the replacement takes the replaced
// file's name (the old content going to the backup name when one is given);
// a missing file or an open that does not share deletion stops it before
// anything changes.
TEST_F(FilesTest, ReplaceFileTakesTheNameOrChangesNothing) {
    struct Case {
        const char* name;
        bool replacedThere;
        bool replacementThere;
        bool held;          // the replaced file open without delete sharing
        const char* backup; // or null
        bool replaces;
        DWORD error; // when it does not; 0: not checked
    };
    const Case cases[] = {
        {"plain", true, true, false, nullptr, true, 0},
        {"with a backup", true, true, false, "backup.txt", true, 0},
        {"replaced missing", false, true, false, nullptr, false, ERROR_FILE_NOT_FOUND},
        {"replacement missing", true, false, false, nullptr, false, ERROR_FILE_NOT_FOUND},
        {"replaced held", true, true, true, nullptr, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string replaced = PathOf("replaced.txt");
        const std::string replacement = PathOf("replacement.txt");
        if (c.replacedThere) {
            WriteBytes(replaced, "old");
        }
        if (c.replacementThere) {
            WriteBytes(replacement, "new");
        }
        HANDLE holder = c.held ? Open(replaced, R, SR | SW) : INVALID_HANDLE_VALUE;
        const std::string backup = c.backup ? PathOf(c.backup) : std::string();
        BOOL done = ReplaceFileA(replaced.c_str(), replacement.c_str(),
                                 c.backup ? backup.c_str() : nullptr, 0, nullptr, nullptr);
        DWORD error = GetLastError();
        if (holder != INVALID_HANDLE_VALUE) {
            CloseHandle(holder);
        }
        EXPECT_EQ(done != FALSE, c.replaces);
        if (c.replaces) {
            EXPECT_EQ(ReadBytes(replaced), "new");
            EXPECT_FALSE(PathExists(replacement));
            if (c.backup) {
                EXPECT_EQ(ReadBytes(backup), "old");
            }
        } else {
            if (c.error != 0) {
                EXPECT_EQ(error, c.error);
            }
            EXPECT_EQ(PathExists(replaced) ? ReadBytes(replaced) : "-",
                      c.replacedThere ? "old" : "-");
            EXPECT_EQ(PathExists(replacement) ? ReadBytes(replacement) : "-",
                      c.replacementThere ? "new" : "-");
        }
        for (const std::string& name : {replaced, replacement, backup}) {
            DeleteFileA(name.c_str());
        }
    }
}
