// Splitting registry paths into root, subkey path and value name.
#include "ktRegIni.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct SplitCase {
    const char* path;
    HKEY root;
    const char* subKey;
    const char* valueName;
};

const SplitCase kSplitCases[] = {
    {"HKCU\\Software\\A\\B", HKEY_CURRENT_USER, "Software\\A", "B"},
    {"HKCU\\Software\\A\\B\\", HKEY_CURRENT_USER, "Software\\A\\B", ""},
    {"HKLM\\X", HKEY_LOCAL_MACHINE, "", "X"},
    {"HKLM\\", HKEY_LOCAL_MACHINE, "", ""},
    {"HKLM", nullptr, "", "HKLM"},
    {"hklm\\Software\\A", nullptr, "Software", "A"},
    {"HKLM\\S\\'C:\\DIR\\F.DLL'", HKEY_LOCAL_MACHINE, "S", "C:\\DIR\\F.DLL"},
    {"HKLM\\S\\'it''s'", HKEY_LOCAL_MACHINE, "S", "it's"},
    {"HKLM\\S\\'a'b", HKEY_LOCAL_MACHINE, "S", "a"},
    {"HKLM\\S\\\"a\\b\"", HKEY_LOCAL_MACHINE, "S", "\"a\\b\""},
    {"HKLM\\S\\a'b", nullptr, "", "HKLM\\S\\a'b"},
    {"HKLM\\It's\\V", HKEY_LOCAL_MACHINE, "It's", "V"},
    {"HKCR\\CLSID\\{1}\\", HKEY_CLASSES_ROOT, "CLSID\\{1}", ""},
    {"HKU\\.DEFAULT\\V", HKEY_USERS, ".DEFAULT", "V"},
    {"HKUX\\A\\V", nullptr, "A", "V"},
    {"HKEY_LOCAL_MACHINE\\A\\V", nullptr, "A", "V"},
    {"", nullptr, "", ""},
    {"HKCU\\S\\''", HKEY_CURRENT_USER, "S", ""},
    {"HKCU\\S\\'a''", nullptr, "", "HKCU\\S\\'a''"},
    {"HKCU\\S\\'a'''", HKEY_CURRENT_USER, "S", "a'"},
    {"HKCU\\S\\'x\"y'", HKEY_CURRENT_USER, "S", "x\"y"},
    {"HKCU\\S\\\"it's\"", HKEY_CURRENT_USER, "S", "\"it's\""},
    {"HKCU\\'Q'\\V", HKEY_CURRENT_USER, "'Q'", "V"},
    // Empty parts of the key part name nothing.
    {"HKLM\\SOFTWARE\\\\Microsoft\\", HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft", ""},
    {"HKCU\\\\Software\\A\\\\V", HKEY_CURRENT_USER, "Software\\A", "V"},
    {"HKCU\\Software\\\\A", HKEY_CURRENT_USER, "Software", "A"},
    {"HKLM\\\\", HKEY_LOCAL_MACHINE, "", ""},
};

class RegPathSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(RegPathSplit, GivesRootSubKeyAndValueName) {
    const SplitCase& c = GetParam();
    HKEY root = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234));
    std::string subKey = "stale";
    std::string valueName = "stale";
    SplitRegPath(c.path, root, subKey, valueName);
    EXPECT_EQ(root, c.root) << c.path;
    EXPECT_EQ(subKey, c.subKey) << c.path;
    EXPECT_EQ(valueName, c.valueName) << c.path;
    EXPECT_EQ(ExtractRegValueName(c.path), c.valueName) << c.path;
}

INSTANTIATE_TEST_SUITE_P(Table, RegPathSplit, ::testing::ValuesIn(kSplitCases));

struct SeparatorCase {
    const char* path;
    int separator;
    const char* keyPart;
};

const SeparatorCase kSeparatorCases[] = {
    {"HKLM\\X", 5, "HKLM"},
    {"HKCU\\Software\\A\\B", 16, "HKCU\\Software\\A"},
    {"HKLM\\", 5, "HKLM"},
    {"HKLM", 0, ""},
    {"", 0, ""},
    {"\\", 1, ""},
    {"\\\\", 2, "\\"},
    {"HKLM\\S\\'C:\\DIR\\F.DLL'", 7, "HKLM\\S"},
    {"HKLM\\S\\\"a\\b\"", 7, "HKLM\\S"},
    // The single quote never closes, so every backslash lies inside it.
    {"HKLM\\S\\a'b", 0, ""},
    // A double quote inside a single-quoted stretch is ordinary text.
    {"HKLM\\S\\'x\"\\y'", 7, "HKLM\\S"},
    // After the closing quote the scan goes on to the left.
    {"HKLM\\It's\\V", 10, "HKLM\\It's"},
    {"HKLM\\S\\'a'b\\c", 12, "HKLM\\S\\'a'b"},
};

class RegPathSeparator : public ::testing::TestWithParam<SeparatorCase> {};

TEST_P(RegPathSeparator, IsTheLastUnquotedBackslash) {
    const SeparatorCase& c = GetParam();
    EXPECT_EQ(FindRegPathSeparator(c.path), c.separator) << c.path;
    EXPECT_EQ(ExtractRegKeyPath(c.path), c.keyPart) << c.path;
}

INSTANTIATE_TEST_SUITE_P(Table, RegPathSeparator, ::testing::ValuesIn(kSeparatorCases));

TEST(RegPath, ValueNameWithoutLeadingQuoteIsTakenUnchanged) {
    EXPECT_EQ(ExtractRegValueName("HKLM\\S\\a'b'"), "a'b'");
    EXPECT_EQ(ExtractRegValueName("HKLM\\S\\ 'a'"), " 'a'");
}

TEST(RegPath, RootAbbreviationsAreCaseSensitive) {
    for (const char* path : {"Hkcu\\S\\V", "hkcr\\S\\V", "HKlm\\S\\V", "hku\\S\\V"}) {
        HKEY root = HKEY_CURRENT_USER;
        std::string subKey;
        std::string valueName;
        SplitRegPath(path, root, subKey, valueName);
        EXPECT_EQ(root, nullptr) << path;
    }
}

} // namespace
