// The engine's write-back: through a temporary file, so that a failure at
// any step leaves the file as it was; byte order marks; values read after
// the stored name; the engine cache at program exit.
#include "TestSupport.h"
#include "ktFileUtils.h"
#include "ktIniFile.h"
#include "ktIniCache.h"
#include "ktText.h"
#include "ktPlatform.h"
#include "ktSafeWriteNames.h"

#include <memory>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

std::string Utf16(const std::string& ascii) {
    std::string bytes;
    for (char c : ascii) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

class WriteBackTest : public TempDirTest {
  protected:
    void SetUp() override {
        TempDirTest::SetUp();
        savedPlatform_ = PlatformId();
    }
    void TearDown() override {
        FreeIniFiles();
        SetPlatformId(savedPlatform_);
        TempDirTest::TearDown();
    }
    std::string IniPath() const { return PathOf("test.ini"); }
    std::unique_ptr<TktIniFile> Open(bool readOnly) {
        return std::make_unique<TktIniFile>(IniPath(), readOnly, true, true, true, true, true);
    }
    std::unique_ptr<TktIniFile> Load(const std::string& bytes, bool readOnly = false) {
        WriteBytes(IniPath(), bytes);
        return Open(readOnly);
    }
    // The names in the test folder, so that no temporary file goes unseen.
    Lines FolderNames() const { return FolderListing(Dir()); }

  private:
    DWORD savedPlatform_ = VER_PLATFORM_WIN32_NT;
};

const DWORD kPlatforms[] = {VER_PLATFORM_WIN32_NT, VER_PLATFORM_WIN32_WINDOWS};

} // namespace

namespace {

// Writes a temporary file of ours, named for its bytes.
void OurTemp(const std::string& file, const std::string& bytes, TTempKind kind) {
    WriteBytes(TTempName::Fresh(file, Crc32(bytes), kind).Path(), bytes);
}

} // namespace

TEST_F(WriteBackTest, ReplacesTheFileAndRemovesOnlyOurOwnLeftovers) {
    for (DWORD platform : kPlatforms) {
        SCOPED_TRACE(platform);
        SetPlatformId(platform);
        WriteBytes(IniPath(), "[S]\r\na=1\r\n");
        ASSERT_TRUE(SetFileAttributesA(IniPath().c_str(), FILE_ATTRIBUTE_HIDDEN));
        // Left by write-backs that a crash cut short: the file is whole.
        OurTemp(IniPath(), "[S]\r\na=0\r\n", kTempNew);
        OurTemp(IniPath(), "[S]\r\na=1\r\n", kTempOld);
        // A user's files, one read-only, and one in our form whose bytes do
        // not match its name (ours cut short, or not ours): they stay.
        const Lines strangers = {"test.ini.~new0", "test.ini.~old0",
                                 "test.ini.~vt1-0.00000000.new"};
        for (const std::string& name : strangers) {
            WriteBytes(PathOf(name), "[S]\r\nmine=1\r\n");
        }
        ASSERT_TRUE(SetFileAttributesA(PathOf(strangers[1]).c_str(), FILE_ATTRIBUTE_READONLY));
        // Named in upper case, as the engine cache names files: the file
        // keeps the letter case of its own name.
        auto ini =
            std::make_unique<TktIniFile>(UpperCase(IniPath()), false, true, true, true, true, true);
        ini->WriteString("S", "a", "2");
        EXPECT_TRUE(ini->UpdateFile());
        EXPECT_FALSE(ini->Modified());
        EXPECT_EQ(ReadBytes(IniPath()), "[S]\r\na=2\r\n");
        DWORD attributes = GetFileAttributesA(IniPath().c_str());
        EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u);
        Lines expected = {"test.ini"};
        expected.insert(expected.end(), strangers.begin(), strangers.end());
        EXPECT_EQ(FolderNames(), expected);
        // The engine still keeps other writers out after the replacement.
        HANDLE other =
            CreateFileA(IniPath().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_EQ(other, INVALID_HANDLE_VALUE);
        if (other != INVALID_HANDLE_VALUE) {
            CloseHandle(other);
        }
        ini.reset();
        for (const std::string& name : expected) {
            SetFileAttributesA(PathOf(name).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(PathOf(name).c_str());
        }
    }
}

// A write-back on the 95 family stopped between its two renames: the file
// is missing, its original and its complete new copy lie beside it. The
// next writable load puts the new copy in place; anything short of that
// pair of ours, or a read-only load (a preview), changes nothing. Stopped
// after the second rename, the original's copy is removed at that load.
TEST_F(WriteBackTest, WriteBackStoppedBetweenItsRenamesIsFinishedAtLoad) {
    const std::string before = "[S]\r\na=1\r\nb=2\r\n";
    const std::string after = "[S]\r\nb=2\r\n";
    struct Case {
        const char* name;
        bool renamed;   // both renames done: the file in place, no new copy
        bool original;  // the original aside, whole
        bool newWhole;  // the new copy's bytes match its name
        bool sameWrite; // both of one write-back
        bool readOnly;
        bool finished;
    };
    const Case cases[] = {
        {"both copies whole", false, true, true, true, false, true},
        {"new copy cut short", false, true, false, true, false, false},
        {"no original aside", false, false, true, true, false, false},
        {"copies of two write-backs", false, true, true, false, false, false},
        {"read-only load", false, true, true, true, true, false},
        {"stopped before the original went", true, true, true, true, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TTempName fresh = TTempName::Fresh(IniPath(), Crc32(after), kTempNew);
        WriteBytes(c.renamed ? IniPath() : fresh.Path(), c.newWhole ? after : after.substr(0, 5));
        if (c.original) {
            TTempName aside = c.sameWrite ? fresh.Partner(Crc32(before))
                                          : TTempName::Fresh(IniPath(), Crc32(before), kTempOld);
            WriteBytes(aside.Path(), before);
        }
        const Lines left = FolderNames();
        auto ini = std::make_unique<TktIniFile>(UpperCase(IniPath()), c.readOnly, true, true, true,
                                                true, true);
        if (c.finished) {
            EXPECT_EQ(ini->ReadString("S", "b", "none"), "2");
            EXPECT_EQ(ini->ReadString("S", "a", "none"), "none");
            ini.reset();
            EXPECT_EQ(FolderNames(), Lines{"test.ini"});
            EXPECT_EQ(ReadBytes(IniPath()), after);
        } else {
            EXPECT_EQ(ini->ReadString("S", "b", "none"), "none");
            ini.reset();
            EXPECT_EQ(FolderNames(), left);
        }
        for (const std::string& name : FolderNames()) {
            DeleteFileA(PathOf(name).c_str());
        }
    }
}

TEST_F(WriteBackTest, FileThatCannotBeReplacedStaysAndIsReported) {
    const std::string original = "; another program's file\r\n[S]\r\na=1\r\nb=2\r\n";
    for (DWORD platform : kPlatforms) {
        SetPlatformId(platform);
        WriteBytes(IniPath(), original);
        IniDeleteKey(IniPath(), "S", "a");
        // A reader that does not share deletion keeps the file from being
        // replaced or moved.
        HANDLE reader =
            CreateFileA(IniPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(reader, INVALID_HANDLE_VALUE);
        TktIniFile* engine = GetIniFile(IniPath(), false, TIniRules::Profile);
        EXPECT_FALSE(engine->UpdateFile()) << "platform " << platform;
        EXPECT_TRUE(engine->Modified());
        EXPECT_EQ(ReadBytes(IniPath()), original) << "platform " << platform;
        EXPECT_EQ(FolderNames(), Lines{"test.ini"}) << "platform " << platform;
        EXPECT_EQ(FreeIniFiles(), Lines{UpperCase(IniPath())}) << "platform " << platform;
        EXPECT_EQ(ReadBytes(IniPath()), original) << "platform " << platform;
        CloseHandle(reader);
        // Nothing was left pending: a later flush has nothing to write.
        EXPECT_TRUE(FreeIniFiles().empty());
        EXPECT_EQ(ReadBytes(IniPath()), original);
    }
}

TEST_F(WriteBackTest, NewFileIsCreatedWholeAndReportedWhenItCannotBe) {
    std::string fresh = PathOf("sub\\new.ini");
    EXPECT_TRUE(IniWriteString(fresh, "S", "k", "v"));
    // The folder cannot be made where a file stands.
    WriteBytes(PathOf("file"), "x");
    std::string blocked = PathOf("file\\new.ini");
    EXPECT_TRUE(IniWriteString(blocked, "S", "k", "v"));
    EXPECT_EQ(FreeIniFiles(), Lines{UpperCase(blocked)});
    EXPECT_EQ(ReadBytes(fresh), "[S]\r\nk=v\r\n\r\n");
    EXPECT_EQ(ReadBytes(PathOf("file")), "x");
}

TEST_F(WriteBackTest, ReadStringTakesTheTextAfterTheStoredName) {
    auto ini = Load("[S]\r\nStra\xDF"
                    "e=value\r\nk=\r\n",
                    true);
    EXPECT_EQ(ini->ReadString("S", "Strasse", "none"), "value");
    EXPECT_EQ(ini->ReadString("S", "STRASSE", "none"), "value");
    EXPECT_EQ(ini->ReadString("S", "K", "none"), "");
}

TEST_F(WriteBackTest, ByteOrderMarks) {
    // UTF-8: the mark is no part of the first line and stays.
    auto ini = Load("\xEF\xBB\xBF[S]\r\na=1\r\n");
    EXPECT_EQ(ini->ReadString("S", "a", "none"), "1");
    ini->WriteString("S", "b", "2");
    ini.reset();
    EXPECT_EQ(ReadBytes(IniPath()), "\xEF\xBB\xBF[S]\r\na=1\r\nb=2\r\n");

    // UTF-16 LE: read in the ANSI code page, written back in UTF-16 with its
    // mark; lines not changed keep their bytes, even characters that the
    // code page has no place for (U+4E2D here).
    const std::string file = "\xFF\xFE" + Utf16("[S]\r\na=1\r\nname=caf") +
                             std::string("\xE9\0", 2) + Utf16("\r\n") + Utf16("x=") +
                             std::string("\x2D\x4E", 2) + Utf16("\r\n");
    ini = Load(file);
    EXPECT_EQ(ini->ReadString("S", "name", "none"), "caf\xE9");
    EXPECT_EQ(ini->ReadString("S", "a", "none"), "1");
    ini->DeleteKey("S", "a");
    ini->WriteString("S", "new", "\xE9");
    ini.reset();
    EXPECT_EQ(ReadBytes(IniPath()), "\xFF\xFE" + Utf16("[S]\r\nname=caf") +
                                        std::string("\xE9\0", 2) + Utf16("\r\nx=") +
                                        std::string("\x2D\x4E", 2) + Utf16("\r\nnew=") +
                                        std::string("\xE9\0", 2) + Utf16("\r\n"));
    // An odd last byte is no character: it stays, and what is added after it
    // starts on a whole unit (it was read a byte out of step, as nothing).
    ini = Load("\xFF\xFE" + Utf16("[S]\r\na=1") + "A");
    ini->WriteString("T", "k", "v");
    ini.reset();
    EXPECT_EQ(ReadBytes(IniPath()), "\xFF\xFE" + Utf16("[S]\r\na=1") + std::string("A\0", 2) +
                                        Utf16("\r\n[T]\r\nk=v\r\n\r\n"));
    EXPECT_EQ(Load(ReadBytes(IniPath()))->ReadString("T", "k", "none"), "v");
    // A read-only engine reads it too; the profile functions see it so.
    WriteBytes(PathOf("log.ini"), "\xFF\xFE" + Utf16("[CopyFiles]\r\nC:\\a.txt=1\r\n"));
    TStringList list;
    IniReadSectionValues(PathOf("log.ini"), "CopyFiles", list);
    EXPECT_EQ(list.ToVector(), Lines{"C:\\a.txt=1"});
}

TEST_F(WriteBackTest, EngineCacheLeftToTheEndOfTheProgramIsWritten) {
    // A program that ends without FreeIniFiles: the cache goes with the
    // static objects, and the platform must still serve its write-back.
    WriteBytes(IniPath(), "[S]\r\ngone=1\r\nkept=2\r\n");
    std::string parameters = "\"" + IniPath() + "\"";
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpFile = VANTREL_INIEXIT;
    info.lpParameters = parameters.c_str();
    info.nShow = SW_HIDE;
    ASSERT_TRUE(ShellExecuteExA(&info) && info.hProcess != nullptr);
    DWORD code = STILL_ACTIVE;
    for (int waited = 0; waited < 30000 && code == STILL_ACTIVE; waited += 10) {
        if (!GetExitCodeProcess(info.hProcess, &code)) {
            break;
        }
        if (code == STILL_ACTIVE) {
            Sleep(10);
        }
    }
    CloseHandle(info.hProcess);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(ReadBytes(IniPath()), "[S]\r\nkept=2\r\nk=v\r\n");
}
