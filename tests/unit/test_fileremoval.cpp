// Deleting files now, and scheduling them for deletion at the next restart in
// the system's rename list or in "wininit.ini".
#include "TestSupport.h"

#include "ktFileUtils.h"
#include "ktFileUtilsRemoval.h"
#include "ktHandle.h"
#include "ktIniFile.h"

#include "ktPlatform.h"
#include "ktIniCache.h"

#include <vector>

namespace {

const DWORD kUnwantedAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

bool EndsWithIgnoreCase(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && SameText(text.substr(text.size() - tail.size()), tail);
}

int CountOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// How many pairs of the rename list delete `path` (no target name).
int PendingDeletionsOf(const std::string& path) {
    std::vector<std::string> names = PendingRenameNames();
    int count = 0;
    for (size_t i = 0; i + 1 < names.size(); i += 2) {
        if (EndsWithIgnoreCase(names[i], path) && names[i + 1].empty()) {
            ++count;
        }
    }
    return count;
}

// Takes the pairs that name `path` out of the rename list again, so that the
// test leaves the machine's list as it found it.
void RemovePendingDeletionsOf(const std::string& path) {
    std::vector<std::string> names = PendingRenameNames();
    std::string data;
    for (size_t i = 0; i + 1 < names.size(); i += 2) {
        if (EndsWithIgnoreCase(names[i], path)) {
            continue;
        }
        data += names[i] + '\0' + names[i + 1] + '\0';
    }
    SetPendingRenames(data);
}

class FileRemovalTest : public TempDirTest {
  protected:
    void SetUp() override {
        TempDirTest::SetUp();
        FreeIniFiles();
        savedPlatform_ = PlatformId();
    }
    void TearDown() override {
        FreeIniFiles();
        SetPlatformId(savedPlatform_);
        TempDirTest::TearDown();
    }

  private:
    DWORD savedPlatform_ = VER_PLATFORM_WIN32_NT;
};

TEST_F(FileRemovalTest, RemovesFilesWhateverTheirAttributes) {
    const DWORD attributes[] = {
        FILE_ATTRIBUTE_NORMAL,
        FILE_ATTRIBUTE_READONLY,
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
        FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
    };
    int n = 0;
    for (DWORD attribute : attributes) {
        std::string path = PathOf("file" + std::to_string(n++) + ".dat");
        WriteBytes(path, "data");
        ASSERT_TRUE(SetFileAttributesA(path.c_str(), attribute));
        EXPECT_TRUE(RemoveFile(path)) << "attributes " << attribute;
        EXPECT_FALSE(PathExists(path)) << "attributes " << attribute;
    }
}

TEST_F(FileRemovalTest, MissingFileOrFolderIsNotRemoved) {
    EXPECT_FALSE(RemoveFile(PathOf("missing.dat")));
    EXPECT_FALSE(RemoveFile(PathOf("no-folder\\missing.dat")));
    EXPECT_FALSE(RemoveFile(""));
    std::string folder = PathOf("folder");
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    EXPECT_FALSE(RemoveFile(folder));
    EXPECT_TRUE(PathExists(folder));
}

TEST_F(FileRemovalTest, FileInUseStaysWithNormalAttributes) {
    std::string path = PathOf("in-use.dll");
    WriteBytes(path, "code");
    ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    // Open without delete sharing, as a program that runs the file would.
    TScopedHandle holder(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder.IsValid());
    EXPECT_FALSE(RemoveFile(path));
    EXPECT_TRUE(PathExists(path));
    DWORD attributes = GetFileAttributesA(path.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(attributes & kUnwantedAttributes, 0u) << attributes;
    holder.Close();
    EXPECT_TRUE(RemoveFile(path));
}

TEST_F(FileRemovalTest, ShortPathNamesTheSameFileOrIsThePathItself) {
    std::string missing = PathOf("no such long file name.text");
    EXPECT_EQ(GetShortPath(missing), missing);
    EXPECT_EQ(GetShortPath(""), "");

    std::string path = PathOf("a rather long file name.text");
    WriteBytes(path, "content");
    std::string shortPath = GetShortPath(path);
    ASSERT_FALSE(shortPath.empty());
    EXPECT_LE(shortPath.size(), path.size());
    EXPECT_EQ(ReadBytes(shortPath), "content");
}

TEST_F(FileRemovalTest, NtFamilyUsesTheSystemRenameList) {
    SetPlatformId(VER_PLATFORM_WIN32_NT);
    std::string path = PathOf("locked.dll");
    std::string missing = PathOf("already-gone.dll");
    WriteBytes(path, "code");
    std::string wininit = AddBackslash(GetWindowsDir()) + "wininit.ini";
    bool hadWininit = PathExists(wininit);
    std::string wininitBefore = ReadBytes(wininit);

    DeleteOnRestart(path);
    DeleteOnRestart(missing);
    int scheduled = PendingDeletionsOf(path);
    int scheduledMissing = PendingDeletionsOf(missing);
    RemovePendingDeletionsOf(path);
    RemovePendingDeletionsOf(missing);

    EXPECT_EQ(scheduled, 1);
    // A file that is gone is not scheduled: a reinstalled file of that name
    // would be deleted at the restart.
    EXPECT_EQ(scheduledMissing, 0);
    EXPECT_TRUE(PathExists(path)) << "the deletion waits for the restart";
    FreeIniFiles();
    EXPECT_EQ(PathExists(wininit), hadWininit);
    EXPECT_EQ(ReadBytes(wininit), wininitBefore);
}

TEST(DeviceNames, AreKnownInAnyFolderWithOrWithoutExtension) {
    for (const char* device :
         {"CON", "prn", "Aux", "NUL", "nul.txt", "C:\\App\\COM1", "C:\\App\\com9.log",
          "C:/App/LPT1", "D:lpt9.tar.gz", "C:\\App\\CON .txt"}) {
        EXPECT_TRUE(IsDeviceName(device)) << device;
    }
    for (const char* file : {"", "C:\\App\\", "CONSOLE", "C:\\App\\COM10", "C:\\App\\LPT0",
                             "C:\\App\\COM", "C:\\NUL\\app.exe", "xnul.txt", "C:\\App\\.nul"}) {
        EXPECT_FALSE(IsDeviceName(file)) << file;
    }
}

TEST_F(FileRemovalTest, DeviceNamesAreNeitherDeletedNorScheduled) {
    SetPlatformId(VER_PLATFORM_WIN32_NT);
    // Serial and printer ports are left out here: Windows would try to open them.
    for (const char* name : {"CON", "nul.txt", "Nul.Dll"}) {
        std::string path = PathOf(name);
        // Natively the machine folder can hold a file of that name; Windows
        // opens the device instead (or fails to) and shows the device's own
        // attributes. Either way the removal must leave them as they were.
        {
            TScopedHandle made(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
        }
        DWORD attributes = GetFileAttributesA(path.c_str());
        EXPECT_FALSE(RemoveFile(path)) << name;
        DeleteOnRestart(path);
        int scheduled = PendingDeletionsOf(path);
        RemovePendingDeletionsOf(path);
        EXPECT_EQ(scheduled, 0) << name;
        EXPECT_EQ(GetFileAttributesA(path.c_str()), attributes) << name;
    }
}

TEST(WindowsDir, IsAFolderThatExists) {
    std::string dir = GetWindowsDir();
    ASSERT_FALSE(dir.empty());
    DWORD attributes = GetFileAttributesA(dir.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Keeps the machine's wininit.ini as it was, whatever a test writes into it.
class WininitTest : public FileRemovalTest {
  protected:
    void SetUp() override {
        FileRemovalTest::SetUp();
        wininit_ = AddBackslash(GetWindowsDir()) + "wininit.ini";
        existed_ = PathExists(wininit_);
        saved_ = ReadBytes(wininit_);
    }
    void TearDown() override {
        FreeIniFiles();
        if (existed_) {
            WriteBytes(wininit_, saved_);
        } else {
            DeleteFileA(wininit_.c_str());
        }
        FileRemovalTest::TearDown();
    }
    const std::string& Wininit() const { return wininit_; }

  private:
    std::string wininit_;
    std::string saved_;
    bool existed_ = false;
};

TEST_F(WininitTest, EachFileGetsItsOwnLineAndOtherLinesSurvive) {
    SetPlatformId(VER_PLATFORM_WIN32_WINDOWS);
    WriteBytes(Wininit(), "; written by another setup\r\n"
                          "[Rename]\r\n"
                          "NUL=C:\\OTHER\\PENDING.DLL\r\n"
                          "C:\\NEW.DLL=C:\\OLD.DLL\r\n");
    std::string first = PathOf("first file.dll");
    std::string second = PathOf("second.dll");
    WriteBytes(first, "1");
    WriteBytes(second, "2");
    std::vector<std::string> pendingBefore = PendingRenameNames();

    DeleteOnRestart(first);
    DeleteOnRestart(second);
    DeleteOnRestart(first);
    DeleteOnRestart(PathOf("gone.dll"));
    // Nothing reaches the disk before the flush.
    EXPECT_EQ(CountOf(ReadBytes(Wininit()), "NUL="), 1);
    FreeIniFiles();

    std::string bytes = ReadBytes(Wininit());
    EXPECT_NE(bytes.find("; written by another setup\r\n"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("NUL=C:\\OTHER\\PENDING.DLL\r\n"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("C:\\NEW.DLL=C:\\OLD.DLL\r\n"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("NUL=" + GetShortPath(first) + "\r\n"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("NUL=" + GetShortPath(second) + "\r\n"), std::string::npos) << bytes;
    EXPECT_EQ(CountOf(bytes, "NUL="), 3) << bytes;
    EXPECT_EQ(bytes.find("GONE.DLL"), std::string::npos) << bytes;
    EXPECT_EQ(bytes.find("gone.dll"), std::string::npos) << bytes;
    // This form makes no entry in the system's own list.
    EXPECT_EQ(PendingRenameNames(), pendingBefore);
}

TEST_F(WininitTest, MissingWininitIsCreatedAtTheFlush) {
    for (DWORD platform : {DWORD(VER_PLATFORM_WIN32s), DWORD(VER_PLATFORM_WIN32_WINDOWS)}) {
        SetPlatformId(platform);
        DeleteFileA(Wininit().c_str());
        std::string path = PathOf("scheduled" + std::to_string(platform) + ".dll");
        WriteBytes(path, "x");
        DeleteOnRestart(path);
        EXPECT_FALSE(PathExists(Wininit()));
        FreeIniFiles();
        std::string bytes = ReadBytes(Wininit());
        EXPECT_EQ(bytes, "[Rename]\r\nNUL=" + GetShortPath(path) + "\r\n\r\n")
            << "platform " << platform;
    }
}

TEST_F(WininitTest, NothingScheduledLeavesWininitAlone) {
    SetPlatformId(VER_PLATFORM_WIN32_WINDOWS);
    std::string original = "[Rename]\r\nNUL=C:\\KEEP.DLL\r\n";
    WriteBytes(Wininit(), original);
    DeleteOnRestart(PathOf("never-there.dll"));
    DeleteOnRestart(Dir());
    FreeIniFiles();
    EXPECT_EQ(ReadBytes(Wininit()), original);
}

TEST_F(WininitTest, LockedWininitRaisesTheEngineError) {
    SetPlatformId(VER_PLATFORM_WIN32_WINDOWS);
    WriteBytes(Wininit(), "[Rename]\r\n");
    std::string path = PathOf("pending.dll");
    WriteBytes(path, "x");
    TScopedHandle holder(CreateFileA(Wininit().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder.IsValid());
    EXPECT_THROW(DeleteOnRestart(path), EIniFileError);
}

} // namespace
