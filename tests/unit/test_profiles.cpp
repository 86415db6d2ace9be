// The engine cache by file name: one engine per upper-cased name, read-only
// engines replaced by writable ones, changes written only when an engine
// leaves the cache.
#include "TestSupport.h"

#include "ktIniFile.h"
#include "ktIniCache.h"
#include "ktText.h"

#include <algorithm>
#include <cctype>

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

int CountOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class ProfilesTest : public TempDirTest {
  protected:
    void SetUp() override {
        TempDirTest::SetUp();
        FreeIniFiles();
    }
    void TearDown() override {
        // Writable engines hold their files open; let them go first.
        FreeIniFiles();
        TempDirTest::TearDown();
    }
};

TEST_F(ProfilesTest, NamesDifferingOnlyInCaseShareOneEngine) {
    std::string path = PathOf("Shared.ini");
    WriteBytes(path, "[S]\r\nkey=first\r\n");
    EXPECT_EQ(IniReadString(path, "S", "key", "none"), "first");
    ASSERT_TRUE(DeleteFileA(path.c_str()));

    // Served from the cached engine, whatever the letter case of the name.
    EXPECT_EQ(IniReadString(Lower(path), "S", "key", "none"), "first");
    EXPECT_EQ(IniReadString(UpperCase(path), "s", "KEY", "none"), "first");

    // Once the cache is flushed the next read goes to the disk again.
    FreeIniFiles();
    EXPECT_EQ(IniReadString(path, "S", "key", "none"), "none");
}

TEST_F(ProfilesTest, NamesDifferingInMoreThanCaseLoadSeparately) {
    std::string path = PathOf("Twice.ini");
    std::string other = Dir() + ".\\Twice.ini";
    WriteBytes(path, "[S]\r\nkey=value\r\n");
    EXPECT_EQ(IniReadString(path, "S", "key", "none"), "value");
    ASSERT_TRUE(DeleteFileA(path.c_str()));
    EXPECT_EQ(IniReadString(path, "S", "key", "none"), "value");
    // The second name gets an engine of its own, loaded from the disk now.
    EXPECT_EQ(IniReadString(other, "S", "key", "none"), "none");
}

TEST_F(ProfilesTest, ReadOnlyEngineIsReplacedByWritableOneFromDisk) {
    std::string path = PathOf("replace.ini");
    WriteBytes(path, "[S]\r\na=1\r\nb=2\r\n");
    EXPECT_EQ(IniReadString(path, "S", "a", ""), "1");

    // A read-only engine keeps no file open, so the file can change under it.
    WriteBytes(path, "[S]\r\na=10\r\nb=2\r\n");
    EXPECT_EQ(IniReadString(path, "S", "a", ""), "1");

    IniDeleteKey(path, "S", "b");
    EXPECT_EQ(IniReadString(path, "S", "a", ""), "10");
    EXPECT_EQ(IniReadString(path, "S", "b", "gone"), "gone");

    FreeIniFiles();
    std::string bytes = ReadBytes(path);
    EXPECT_NE(bytes.find("a=10"), std::string::npos) << bytes;
    EXPECT_EQ(bytes.find("b=2"), std::string::npos) << bytes;
}

TEST_F(ProfilesTest, WritableEngineServesReadsAndKeepsChangesInMemoryUntilFlush) {
    std::string path = PathOf("pending.ini");
    std::string original = "[S]\r\na=1\r\nb=2\r\n";
    WriteBytes(path, original);

    IniDeleteKey(path, "S", "a");
    EXPECT_EQ(IniReadString(path, "S", "a", "default"), "default");
    EXPECT_EQ(IniReadString(path, "S", "b", "default"), "2");
    EXPECT_EQ(ReadBytes(path), original);

    FreeIniFile(Lower(path));
    EXPECT_EQ(ReadBytes(path), "[S]\r\nb=2\r\n");
}

TEST_F(ProfilesTest, WriteStringTwiceLeavesOneLineWithTheSecondValue) {
    std::string path = PathOf("twice.ini");
    EXPECT_TRUE(IniWriteString(path, "S", "k", "one"));
    EXPECT_TRUE(IniWriteString(path, "S", "k", "two"));
    EXPECT_FALSE(PathExists(path));
    FreeIniFiles();
    std::string bytes = ReadBytes(path);
    EXPECT_EQ(CountOf(bytes, "k="), 1) << bytes;
    EXPECT_NE(bytes.find("k=two"), std::string::npos) << bytes;
}

TEST_F(ProfilesTest, FileThatWasOnlyReadIsNeverRewritten) {
    std::string path = PathOf("readonly.ini");
    // Comments, blanks around "=" and quotes: any rewrite in the engine's own
    // form would change these bytes.
    std::string original = "; comment\r\n[S]\r\n  a = \"1\"  \r\nnoequals\r\n\r\n[T]\r\nb=2\r\n";
    WriteBytes(path, original);
    TStringList values;
    IniReadSectionValues(path, "S", values);
    EXPECT_EQ(IniReadString(path, "T", "b", ""), "2");
    FreeIniFiles();
    EXPECT_EQ(ReadBytes(path), original);
}

TEST_F(ProfilesTest, SecondWritableEngineOnTheSameFileFailsToOpen) {
    std::string path = PathOf("held.ini");
    std::string other = Dir() + ".\\held.ini";
    WriteBytes(path, "[S]\r\na=1\r\nb=2\r\n");

    IniReadString(other, "S", "a", "");
    IniDeleteKey(path, "S", "a");
    EXPECT_THROW(IniDeleteKey(other, "S", "b"), EIniFileError);

    // The first engine is untouched by the failure and writes its change.
    FreeIniFiles();
    std::string bytes = ReadBytes(path);
    EXPECT_EQ(bytes.find("a=1"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("b=2"), std::string::npos) << bytes;
}

TEST_F(ProfilesTest, OpenErrorNamesTheFile) {
    std::string path = PathOf("locked.ini");
    WriteBytes(path, "[S]\r\na=1\r\n");
    HANDLE holder = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    try {
        IniWriteString(path, "S", "a", "2");
        ADD_FAILURE() << "no error for a file held without write sharing";
    } catch (const EIniFileError& error) {
        EXPECT_NE(std::string(error.what()).find("Cannot open file"), std::string::npos);
        EXPECT_NE(std::string(error.what()).find(UpperCase(path)), std::string::npos)
            << error.what();
    }
    CloseHandle(holder);
    // Nothing was cached for the failed request: a later one loads afresh.
    EXPECT_TRUE(IniWriteString(path, "S", "a", "3"));
    FreeIniFiles();
    EXPECT_NE(ReadBytes(path).find("a=3"), std::string::npos);
}

TEST_F(ProfilesTest, MissingFiles) {
    std::string missing = PathOf("missing.ini");
    EXPECT_EQ(IniReadString(missing, "S", "k", "dflt"), "dflt");
    TStringList list{"keep=1"};
    IniReadSectionValues(missing, "S", list);
    EXPECT_EQ(list.ToVector(), (std::vector<std::string>{"keep=1"}));
    IniDeleteKey(missing, "S", "k");
    FreeIniFiles();
    EXPECT_FALSE(PathExists(missing));

    // Writing creates the file and its missing folders at the flush.
    std::string nested = PathOf("new\\deeper\\created.ini");
    IniWriteString(nested, "Sec", "k", "v");
    FreeIniFiles();
    EXPECT_EQ(IniReadString(nested, "Sec", "k", ""), "v");

    EXPECT_EQ(IniReadString("", "S", "k", "empty name"), "empty name");
}

TEST_F(ProfilesTest, ReadSectionValuesAddsToTheListWithoutEmptyingIt) {
    std::string path = PathOf("values.ini");
    WriteBytes(path, "[S]\r\nA=1\r\nb=2\r\nA=3\r\n[T]\r\nc=4\r\n");
    TStringList list{"first=0", "b=old"};
    IniReadSectionValues(path, "s", list);
    EXPECT_EQ(list.ToVector(), (std::vector<std::string>{"first=0", "b=2", "A=3"}));
}

TEST_F(ProfilesTest, AddLineAppendsEachDistinctLineOnce) {
    std::string path = PathOf("rename.ini");
    WriteBytes(path, "[Rename]\r\nNUL=C:\\OTHER.DLL\r\n");
    IniAddLine(path, "Rename", "NUL", "C:\\A.DLL");
    IniAddLine(path, "Rename", "NUL", "C:\\B.DLL");
    IniAddLine(path, "Rename", "NUL", "C:\\A.DLL");
    FreeIniFiles();
    EXPECT_EQ(ReadBytes(path),
              "[Rename]\r\nNUL=C:\\OTHER.DLL\r\nNUL=C:\\A.DLL\r\nNUL=C:\\B.DLL\r\n");
}

TEST_F(ProfilesTest, FreeIniFileWritesOnlyThatFile) {
    std::string one = PathOf("one.ini");
    std::string two = PathOf("two.ini");
    IniWriteString(one, "S", "k", "1");
    IniWriteString(two, "S", "k", "2");
    FreeIniFile(UpperCase(one));
    EXPECT_TRUE(PathExists(one));
    EXPECT_FALSE(PathExists(two));
    FreeIniFile(PathOf("never-cached.ini"));
    EXPECT_FALSE(PathExists(two));
    FreeIniFiles();
    EXPECT_TRUE(PathExists(two));
}

TEST_F(ProfilesTest, GetIniFileKeepsOneEnginePerNameAndRules) {
    const TIniRules log = TIniRules::InstallLog;
    const TIniRules profile = TIniRules::Profile;
    std::string path = PathOf("engine.ini");
    TktIniFile* reader = GetIniFile(path, true, log);
    ASSERT_NE(reader, nullptr);
    EXPECT_TRUE(reader->ReadOnly());
    EXPECT_EQ(reader->Rules(), log);
    EXPECT_EQ(reader->FileName(), UpperCase(path));
    EXPECT_EQ(GetIniFile(Lower(path), true, log), reader);

    // A read by other rules loads the file again by those.
    TktIniFile* profileReader = GetIniFile(path, true, profile);
    EXPECT_TRUE(profileReader->ReadOnly());
    EXPECT_EQ(profileReader->Rules(), profile);

    TktIniFile* writer = GetIniFile(path, false, profile);
    ASSERT_NE(writer, nullptr);
    EXPECT_FALSE(writer->ReadOnly());
    EXPECT_EQ(writer->Rules(), profile);
    // A writable engine serves every read, whatever the rules asked for; a
    // read never replaces it.
    EXPECT_EQ(GetIniFile(path, true, log), writer);
    EXPECT_EQ(GetIniFile(path, true, profile), writer);
    EXPECT_EQ(GetIniFile(path, false, profile), writer);
}

// One file read both ways: the install log's reads keep the log's rules,
// the edits of another program's file read it as the system does.
TEST_F(ProfilesTest, LogReadsKeepTheLogRulesAndEditsReadAsTheSystem) {
    std::string path = PathOf("both.ini");
    WriteBytes(path, "[S] ; note\n  k = 1\nj=2\n");
    // LF-only line ends: one line to the log's rules, so no section.
    EXPECT_EQ(IniReadString(path, "S", "j", "none"), "none");
    IniDeleteKey(path, "S", "k");
    // The writable engine serves the read, by the system's rules.
    EXPECT_EQ(IniReadString(path, "S", "j", "none"), "2");
    FreeIniFiles();
    EXPECT_EQ(ReadBytes(path), "[S] ; note\nj=2\n");
    EXPECT_EQ(IniReadString(path, "S", "j", "none"), "none");
}

} // namespace
