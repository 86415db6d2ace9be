// Files in use moved aside before their deletion at restart: the mark's
// names, a loaded library (deleted: refused; renamed: allowed, on both
// builds) moved aside and its new name scheduled, and a file opened without
// shared deletion scheduled under its own name.
#include "TestSupport.h"

#include "ktFileUtils.h"
#include "ktFileUtilsRemoval.h"
#include "ktHandle.h"
#include "ktMoveAside.h"
#include "ktPlatform.h"
#include "ktStringList.h"

#include <vector>

namespace {

// The pairs of the restart-time list: (source without "\??\", target).
std::vector<std::pair<std::string, std::string>> PendingPairs() {
    std::vector<std::pair<std::string, std::string>> pairs;
    std::vector<std::string> names = PendingRenameNames();
    for (size_t i = 0; i + 1 < names.size() && !names[i].empty(); i += 2) {
        std::string source = names[i].compare(0, 4, "\\??\\") == 0 ? names[i].substr(4) : names[i];
        pairs.emplace_back(source, names[i + 1]);
    }
    return pairs;
}

int DeletionsOf(const std::string& path) {
    int count = 0;
    for (const auto& pair : PendingPairs()) {
        count += SameText(pair.first, path) && pair.second.empty() ? 1 : 0;
    }
    return count;
}

// Leaves the machine's list without this test's pairs.
void ForgetPendingIn(const std::string& dir) {
    std::string data;
    for (const auto& pair : PendingPairs()) {
        if (!SameText(pair.first.substr(0, dir.size()), dir)) {
            data += "\\??\\" + pair.first + '\0' + pair.second + '\0';
        }
    }
    SetPendingRenames(data);
}

class MoveAsideTest : public TempDirTest {
  protected:
    void SetUp() override {
        TempDirTest::SetUp();
        saved_ = PlatformId();
        SetPlatformId(VER_PLATFORM_WIN32_NT);
    }
    void TearDown() override {
        ForgetPendingIn(Dir());
        SetPlatformId(saved_);
        TempDirTest::TearDown();
    }

  private:
    DWORD saved_ = VER_PLATFORM_WIN32_NT;
};

TEST(MovedAsideNames, AreOurMarkOnly) {
    const struct {
        const char* name;
        bool ours;
    } cases[] = {
        {"~vt0a1b2.tmp", true},   {"~VT0A1B2.TMP", true},
        {"~vtfffff.tmp", true},   {"~vt0a1b.tmp", false},
        {"~vt0a1b2c.tmp", false}, {"~vt0a1g2.tmp", false},
        {"~vt0a1b2.dll", false},  {"vt0a1b2.tmp", false},
        {"~vt0a1b2.tmp2", false}, {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsMovedAsideName(c.name), c.ours) << c.name;
    }
}

TEST_F(MoveAsideTest, CandidatesAreFreeNamesOfOurMarkBesideTheFile) {
    std::string first = MoveAsideCandidate(PathOf("app.dll"));
    std::string second = MoveAsideCandidate(PathOf("app.dll"));
    for (const std::string& candidate : {first, second}) {
        EXPECT_TRUE(SameText(candidate.substr(0, Dir().size()), Dir())) << candidate;
        EXPECT_TRUE(IsMovedAsideName(candidate.substr(Dir().size()))) << candidate;
        EXPECT_EQ(GetFileAttributesA(candidate.c_str()), INVALID_FILE_ATTRIBUTES) << candidate;
    }
    EXPECT_NE(first, second);
}

// A loaded library cannot be deleted but can be renamed: it goes aside, and
// the new name, hidden, is what the restart deletes; the old name is free.
TEST_F(MoveAsideTest, LoadedLibraryIsMovedAsideAndItsNewNameScheduled) {
    std::string path = PathOf("loaded.dll");
    ASSERT_TRUE(CopyFileA(VANTREL_PLAIN_DLL, path.c_str(), FALSE));
    TScopedLibrary library(LoadLibraryA(path.c_str()));
    ASSERT_TRUE(library) << GetLastError();
    EXPECT_FALSE(RemoveFile(path));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    std::string moved;
    ASSERT_TRUE(DeleteOnRestart(path, &moved));
    EXPECT_TRUE(IsMovedAsideName(moved.substr(Dir().size()))) << moved;
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    DWORD attributes = GetFileAttributesA(moved.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(DeletionsOf(moved), 1);
    EXPECT_EQ(DeletionsOf(path), 0);
    // The folder now holds only the moved-aside file.
    EXPECT_TRUE(HoldsOnlyMovedAside(RemoveBackslash(Dir()), {}));
    WriteBytes(PathOf("other.txt"), "x");
    EXPECT_FALSE(HoldsOnlyMovedAside(RemoveBackslash(Dir()), {}));
    DeleteFileA(PathOf("other.txt").c_str());
    library.Close();
    EXPECT_TRUE(RemoveFile(moved));
}

// Opened without shared deletion, a file can be neither deleted nor renamed:
// it is scheduled under its own name, without a moved-aside name.
TEST_F(MoveAsideTest, FileHeldWithoutSharedDeletionKeepsItsName) {
    std::string path = PathOf("held.dat");
    WriteBytes(path, "held");
    TScopedHandle held(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    EXPECT_FALSE(RemoveFile(path));
    std::string moved;
    ASSERT_TRUE(DeleteOnRestart(path, &moved));
    EXPECT_TRUE(moved.empty()) << moved;
    EXPECT_NE(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(DeletionsOf(path), 1);
}

} // namespace
