// The native layer keeps a file's owner, group and mode where Windows keeps
// its access list: SetFileSecurityA and ReplaceFileA give them to another
// file, or fail and change nothing when the process may not give the owner
// away. Native only: under Windows the rights are an access list, which
// these tests cannot read as modes.
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const SECURITY_INFORMATION kRights =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

// A folder outside the machine folder that anyone may write (native paths
// reach it through every call).
class FileOwner : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/vt-owner-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
        ASSERT_EQ(chmod(dir_.c_str(), 0777), 0);
    }
    void TearDown() override {
        for (const char* name : {"a.ini", "b.ini"}) {
            unlink((dir_ + "/" + name).c_str());
        }
        rmdir(dir_.c_str());
    }
    std::string PathOf(const char* name) const { return dir_ + "/" + name; }
    static std::vector<BYTE> Descriptor(const std::string& path) {
        std::vector<BYTE> descriptor(256);
        DWORD needed = 0;
        EXPECT_TRUE(GetFileSecurityA(path.c_str(), kRights, descriptor.data(),
                                     static_cast<DWORD>(descriptor.size()), &needed));
        return descriptor;
    }
    static struct stat Stat(const std::string& path) {
        struct stat st = {};
        EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
        return st;
    }
    std::string dir_;
};

TEST_F(FileOwner, RightsGoToAnotherFile_NeedsRootToGiveFilesAway) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "only root may give a file to another owner";
    }
    const std::string a = PathOf("a.ini");
    const std::string b = PathOf("b.ini");
    WriteBytes(a, "a");
    WriteBytes(b, "b");
    ASSERT_EQ(chown(a.c_str(), 4321, 4322), 0);
    ASSERT_EQ(chmod(a.c_str(), 0640), 0);
    ASSERT_TRUE(SetFileSecurityA(b.c_str(), kRights, Descriptor(a).data()));
    struct stat st = Stat(b);
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 4322u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    // The mode alone, from the access list.
    ASSERT_EQ(chmod(a.c_str(), 0604), 0);
    ASSERT_TRUE(SetFileSecurityA(b.c_str(), DACL_SECURITY_INFORMATION, Descriptor(a).data()));
    EXPECT_EQ(Stat(b).st_mode & 07777, 0604u);
}

// A user who may not give files away: the replacement of root's file, and
// the rights of root's file given to the user's own, both fail; the files
// stay as they were.
TEST_F(FileOwner, AnOwnerThatCannotBeGivenFailsTheCall_NeedsRootToBecomeAnotherUser) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "only root can become a user without the right to give files away";
    }
    const std::string a = PathOf("a.ini");
    const std::string b = PathOf("b.ini");
    WriteBytes(a, "root's");
    ASSERT_EQ(chmod(a.c_str(), 0666), 0);
    std::vector<BYTE> rootRights = Descriptor(a);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int failed = 0;
        if (setgid(65534) != 0 || setuid(65534) != 0) {
            _exit(100);
        }
        WriteBytes(b, "user's");
        SetLastError(0);
        if (ReplaceFileA(a.c_str(), b.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                         nullptr) ||
            GetLastError() != ERROR_UNABLE_TO_REMOVE_REPLACED) {
            failed |= 1;
        }
        SetLastError(0);
        if (SetFileSecurityA(b.c_str(), kRights, rootRights.data()) ||
            GetLastError() != ERROR_INVALID_OWNER) {
            failed |= 2;
        }
        _exit(failed);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: ReplaceFileA, 2: SetFileSecurityA did not fail";
    EXPECT_EQ(ReadBytes(a), "root's");
    EXPECT_EQ(Stat(a).st_uid, 0u);
    EXPECT_EQ(ReadBytes(b), "user's");
    EXPECT_EQ(Stat(b).st_uid, 65534u);
}

} // namespace
