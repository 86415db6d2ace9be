// The engine's write-back: through a temporary file, so that a failure at
// any step leaves the file as it was; byte order marks; values read after
// the stored name; the engine cache at program exit.
#include "TestSupport.h"
#include "ktFileUtils.h"
#include "ktIniFile.h"
#include "ktIniCache.h"
#include "ktText.h"
#include "ktPlatform.h"

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

TEST_F(WriteBackTest, ReplacesTheFileKeepingItsAttributesOnBothFamilies) {
    for (DWORD platform : kPlatforms) {
        SetPlatformId(platform);
        WriteBytes(IniPath(), "[S]\r\na=1\r\n");
        ASSERT_TRUE(SetFileAttributesA(IniPath().c_str(), FILE_ATTRIBUTE_HIDDEN));
        // Left by a write-back that a crash cut short: the file is whole.
        WriteBytes(IniPath() + ".~new0", "[S]\r\na=0\r\n");
        // Named in upper case, as the engine cache names files: the file
        // keeps the letter case of its own name.
        auto ini =
            std::make_unique<TktIniFile>(UpperCase(IniPath()), false, true, true, true, true, true);
        ini->WriteString("S", "a", "2");
        EXPECT_TRUE(ini->UpdateFile()) << "platform " << platform;
        EXPECT_FALSE(ini->Modified());
        EXPECT_EQ(ReadBytes(IniPath()), "[S]\r\na=2\r\n") << "platform " << platform;
        DWORD attributes = GetFileAttributesA(IniPath().c_str());
        EXPECT_NE(attributes & FILE_ATTRIBUTE_HIDDEN, 0u) << "platform " << platform;
        EXPECT_EQ(FolderNames(), Lines{"test.ini"}) << "platform " << platform;
        // The engine still keeps other writers out after the replacement.
        HANDLE other =
            CreateFileA(IniPath().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_EQ(other, INVALID_HANDLE_VALUE) << "platform " << platform;
        if (other != INVALID_HANDLE_VALUE) {
            CloseHandle(other);
        }
        ini.reset();
        SetFileAttributesA(IniPath().c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(IniPath().c_str());
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
