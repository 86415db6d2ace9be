// Contract of the file calls where handles meet: folders opened by handle
// (backup semantics), which take part in sharing like files, and copies
// made beside handles that other code holds on the source or the target.
// The same tables run over pal/ natively and over the real API under Wine.
#include "TestSupport.h"

#include <string>

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE Open(const std::string& path, DWORD access, DWORD share, DWORD disposition,
            DWORD flags = FILE_FLAG_BACKUP_SEMANTICS) {
    return CreateFileA(path.c_str(), access, share, nullptr, disposition, flags, nullptr);
}

class ContractFileSharing : public TempDirTest {};

TEST_F(ContractFileSharing, FoldersOpenByHandleWithBackupSemantics) {
    ASSERT_TRUE(CreateDirectoryA(PathOf("folder").c_str(), nullptr));
    struct Case {
        const char* name;
        DWORD access, disposition, flags;
        DWORD error; // after the open; ERROR_SUCCESS or ERROR_ALREADY_EXISTS: it opens
    } cases[] = {
        {"folder", GENERIC_READ, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, ERROR_SUCCESS},
        {"folder", 0, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, ERROR_SUCCESS},
        {"folder", GENERIC_WRITE, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, ERROR_SUCCESS},
        {"folder\\", GENERIC_READ, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, ERROR_SUCCESS},
        {"folder", GENERIC_READ, OPEN_ALWAYS, FILE_FLAG_BACKUP_SEMANTICS, ERROR_ALREADY_EXISTS},
        {"folder", GENERIC_READ, CREATE_NEW, FILE_FLAG_BACKUP_SEMANTICS, ERROR_FILE_EXISTS},
        {"folder", GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, ERROR_ACCESS_DENIED},
        {"missing", GENERIC_READ, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.name << std::hex << " access " << c.access
                                        << " disposition " << c.disposition);
        SetLastError(12345);
        HANDLE handle = Open(PathOf(c.name), c.access, kShareAll, c.disposition, c.flags);
        EXPECT_EQ(GetLastError(), c.error);
        bool opens = c.error == ERROR_SUCCESS || c.error == ERROR_ALREADY_EXISTS;
        EXPECT_EQ(handle != INVALID_HANDLE_VALUE, opens);
        if (handle == INVALID_HANDLE_VALUE) {
            continue;
        }
        // A folder's handle has no bytes to read.
        if (c.access == GENERIC_READ) {
            char buffer[4];
            DWORD count = 99;
            SetLastError(0);
            EXPECT_FALSE(ReadFile(handle, buffer, sizeof buffer, &count, nullptr));
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_FUNCTION));
            EXPECT_EQ(count, 0u);
            EXPECT_EQ(GetFileSize(handle, nullptr), 0u);
        }
        EXPECT_TRUE(CloseHandle(handle));
    }
}

TEST_F(ContractFileSharing, AFolderHeldWithoutSharingStaysUntilItsHandleCloses) {
    const std::string folder = PathOf("held");
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    HANDLE holder = Open(folder, GENERIC_READ, 0, OPEN_EXISTING);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    SetLastError(0);
    EXPECT_EQ(Open(folder, GENERIC_READ, kShareAll, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    SetLastError(0);
    EXPECT_FALSE(RemoveDirectoryA(folder.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(CloseHandle(holder));
    EXPECT_TRUE(RemoveDirectoryA(folder.c_str()));
}

// CopyFileA reads the source beside any handle that shares reading (writers
// included) and writes the target beside any handle that shares reading and
// writing, or holds no data access at all.
TEST_F(ContractFileSharing, CopiesBesideHandlesThatShareWhatTheCopyNeeds) {
    struct Case {
        const char* what;
        bool onTarget; // the handle is held on the target, else on the source
        DWORD access, share;
        bool copies;
    } cases[] = {
        {"source written, sharing reading", false, GENERIC_WRITE, FILE_SHARE_READ, true},
        {"source written, sharing all", false, GENERIC_WRITE, kShareAll, true},
        {"source held for deleting", false, DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE, true},
        {"source read, sharing nothing", false, GENERIC_READ, 0, false},
        {"source read, not sharing reading", false, GENERIC_READ,
         FILE_SHARE_WRITE | FILE_SHARE_DELETE, false},
        {"target read, sharing reading and writing", true, GENERIC_READ,
         FILE_SHARE_READ | FILE_SHARE_WRITE, true},
        {"target written, sharing all", true, GENERIC_WRITE, kShareAll, true},
        {"target read, not sharing reading", true, GENERIC_READ,
         FILE_SHARE_WRITE | FILE_SHARE_DELETE, true},
        {"target held without data access", true, FILE_READ_ATTRIBUTES, 0, true},
        {"target read, sharing reading", true, GENERIC_READ, FILE_SHARE_READ, false},
        {"target read, not sharing writing", true, GENERIC_READ,
         FILE_SHARE_READ | FILE_SHARE_DELETE, false},
        {"target held for deleting", true, DELETE, kShareAll, false},
    };
    const std::string source = PathOf("source.txt");
    const std::string target = PathOf("target.txt");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes(source, "the new bytes");
        WriteBytes(target, "old");
        HANDLE holder = Open(c.onTarget ? target : source, c.access, c.share, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        SetLastError(0);
        EXPECT_EQ(CopyFileA(source.c_str(), target.c_str(), FALSE) != FALSE, c.copies);
        if (!c.copies) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        }
        CloseHandle(holder);
        EXPECT_EQ(ReadBytes(target), c.copies ? "the new bytes" : "old");
        EXPECT_EQ(ReadBytes(source), "the new bytes");
    }
}

} // namespace
