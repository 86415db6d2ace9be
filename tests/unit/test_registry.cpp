// Registry values and keys through path strings, and the removal of what an
// install log recorded.
#include "RegTestSupport.h"
#include "TestSupport.h"
#include "ktHandle.h"
#include "ktLedger.h"
#include "ktRegIni.h"

#include <string>
#include <vector>

namespace {

// A registry entry's removal as a run does it, through the ledger (no
// report): true when the value or key went.
bool RemoveRegEntry(const std::string& path) {
    int before = Ledger().Count(TOutcome::Removed);
    Ledger().RemoveRegistryEntry(path + "=", path);
    return Ledger().Count(TOutcome::Removed) > before;
}

class RegIni : public TempRegTest {
  protected:
    // KeyPath() + "\" + rest.
    std::string P(const std::string& rest) const { return KeyPath() + "\\" + rest; }

    void SetRaw(const std::string& subKey, const char* name, DWORD type, const std::string& data) {
        TScopedRegKey key;
        ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, (SubKey() + subKey).c_str(), key.Receive()),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key.Get(), name, 0, type,
                                 reinterpret_cast<const BYTE*>(data.data()),
                                 static_cast<DWORD>(data.size())),
                  ERROR_SUCCESS);
    }
    void MakeKey(const std::string& subKey) {
        TScopedRegKey key;
        ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, (SubKey() + subKey).c_str(), key.Receive()),
                  ERROR_SUCCESS);
    }
    bool RawKeyExists(const std::string& subKey) {
        TScopedRegKey key;
        return RegOpenKeyA(HKEY_CURRENT_USER, (SubKey() + subKey).c_str(), key.Receive()) ==
               ERROR_SUCCESS;
    }
    bool RawValueExists(const std::string& subKey, const char* name) {
        TScopedRegKey key;
        if (RegOpenKeyA(HKEY_CURRENT_USER, (SubKey() + subKey).c_str(), key.Receive()) !=
            ERROR_SUCCESS) {
            return false;
        }
        return RegQueryValueExA(key.Get(), name, nullptr, nullptr, nullptr, nullptr) ==
               ERROR_SUCCESS;
    }
    std::vector<std::string> SubKeyNames(const std::string& path) {
        TStringList list;
        GetRegSubKeyNames(path, list);
        return list.ToVector();
    }
    std::vector<std::string> ValueNames(const std::string& path) {
        TStringList list;
        GetRegValueNames(path, list);
        return list.ToVector();
    }
};

using Names = std::vector<std::string>;

TEST_F(RegIni, IntegersRoundTripAndCreateTheirKeys) {
    for (int32_t value : {0, 42, -1, -2147483647 - 1, 2147483647}) {
        ASSERT_TRUE(WriteRegInteger(P("Deep\\Er\\Count"), value));
        EXPECT_EQ(ReadRegInteger(P("Deep\\Er\\Count"), 7), value);
    }
    DWORD type = 0;
    char data[8];
    DWORD size = sizeof data;
    TScopedRegKey key;
    ASSERT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, (SubKey() + "\\Deep\\Er").c_str(), key.Receive()),
              ERROR_SUCCESS);
    ASSERT_EQ(
        RegQueryValueExA(key.Get(), "Count", nullptr, &type, reinterpret_cast<BYTE*>(data), &size),
        ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(size, 4u);
}

TEST_F(RegIni, ReadIntegerFallsBackToTheDefault) {
    SetRaw("", "Long", REG_BINARY, "12345");
    for (const std::string& path :
         {P("Missing"), P("NoKey\\Value"), std::string("HKXX\\Software\\V"), std::string(""),
          std::string("hkcu\\Software\\V"), P("Long")}) {
        EXPECT_EQ(ReadRegInteger(path, -5), -5) << path;
    }
}

TEST_F(RegIni, ReadIntegerOfShortDataLeavesTheOtherBytesZero) {
    SetRaw("", "Two", REG_BINARY, "\x34\x12");
    SetRaw("", "Text", REG_SZ, std::string("ab\0", 3));
    SetRaw("", "Empty", REG_BINARY, "");
    EXPECT_EQ(ReadRegInteger(P("Two"), -1), 0x1234);
    EXPECT_EQ(ReadRegInteger(P("Text"), -1), 0x6261);
    EXPECT_EQ(ReadRegInteger(P("Empty"), -1), 0);
}

TEST_F(RegIni, ReadValueReportsShortBuffers) {
    SetRaw("", "Data", REG_BINARY, "abcdef");
    char buffer[16];
    DWORD size = 3;
    EXPECT_FALSE(ReadRegValue(P("Data"), buffer, size));
    size = 6;
    ASSERT_TRUE(ReadRegValue(P("Data"), buffer, size));
    EXPECT_EQ(std::string(buffer, size), "abcdef");
}

TEST_F(RegIni, WriteValueAndTheDefaultValue) {
    ASSERT_TRUE(WriteRegValue(P("Sub\\"), REG_SZ, "def", 4));
    EXPECT_TRUE(RawValueExists("\\Sub", ""));
    EXPECT_TRUE(RegValueExists(P("Sub\\")));
    EXPECT_FALSE(RegValueExists(P("Sub")));
    EXPECT_TRUE(RegKeyExists(P("Sub")));
    char buffer[8];
    DWORD size = sizeof buffer;
    ASSERT_TRUE(ReadRegValue(P("Sub\\"), buffer, size));
    EXPECT_STREQ(buffer, "def");
    EXPECT_FALSE(WriteRegValue("HKXX\\Software\\V", REG_SZ, "x", 2));
    EXPECT_FALSE(WriteRegValue("NoSeparator", REG_SZ, "x", 2));
}

TEST_F(RegIni, KeyAndValueTests) {
    MakeKey("\\K");
    SetRaw("\\K", "V", REG_BINARY, "1");
    struct {
        std::string path;
        bool key;
        bool value;
    } const cases[] = {
        {P("K"), true, false},    {P("K\\"), true, false},          {P("K\\V"), false, true},
        {P("k\\v"), false, true}, {P("Missing"), false, false},     {"HKCU", true, false},
        {"HKCU\\", true, false},  {"hkcu\\Software", false, false}, {"", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RegKeyExists(c.path), c.key) << c.path;
        EXPECT_EQ(RegValueExists(c.path), c.value) << c.path;
    }
}

TEST_F(RegIni, QuotedValueNamesHoldBackslashesAndQuotes) {
    ASSERT_TRUE(WriteRegInteger(P("'C:\\DIR\\F.DLL'"), 3));
    ASSERT_TRUE(WriteRegInteger(P("'it''s'"), 4));
    EXPECT_TRUE(RawValueExists("", "C:\\DIR\\F.DLL"));
    EXPECT_TRUE(RawValueExists("", "it's"));
    EXPECT_EQ(ReadRegInteger(P("'c:\\dir\\f.dll'"), 0), 3);
    EXPECT_TRUE(DeleteRegValue(P("'C:\\DIR\\F.DLL'")));
    EXPECT_FALSE(RawValueExists("", "C:\\DIR\\F.DLL"));
    EXPECT_FALSE(DeleteRegValue(P("'C:\\DIR\\F.DLL'")));
}

TEST_F(RegIni, DeleteValue) {
    SetRaw("", "V", REG_BINARY, "1");
    SetRaw("", "", REG_BINARY, "1");
    EXPECT_TRUE(DeleteRegValue(P("V")));
    EXPECT_FALSE(DeleteRegValue(P("V")));
    EXPECT_TRUE(DeleteRegValue(KeyPath() + "\\"));
    EXPECT_FALSE(RawValueExists("", ""));
    EXPECT_FALSE(DeleteRegValue(P("NoKey\\V")));
    EXPECT_TRUE(RawKeyExists(""));
}

TEST_F(RegIni, ListingsClearTheListAndKeepTheRegistryOrder) {
    for (const char* name : {"b", "A", "c"}) {
        MakeKey(std::string("\\") + name);
    }
    for (const char* name : {"One", "Three", "Two"}) {
        SetRaw("", name, REG_BINARY, "1");
    }
    EXPECT_EQ(SubKeyNames(KeyPath()), (Names{"A", "b", "c"}));
    EXPECT_EQ(SubKeyNames(KeyPath() + "\\"), (Names{"A", "b", "c"}));
    EXPECT_EQ(ValueNames(KeyPath()), (Names{"One", "Three", "Two"}));

    TStringList list{"stale", "lines"};
    GetRegSubKeyNames(P("Missing"), list);
    EXPECT_EQ(list.Count(), 0);
    list.Add("stale");
    GetRegValueNames(P("A"), list);
    EXPECT_EQ(list.Count(), 0);
    list.Add("stale");
    GetRegSubKeyNames("", list);
    EXPECT_EQ(list.Count(), 0);
}

TEST_F(RegIni, ListingEndsAtANameThatDoesNotFitTheBuffer) {
    // Created in name order, so both enumeration orders agree.
    std::string fits = "B" + std::string(1022, 'x');
    std::string tooLong = "C" + std::string(1023, 'x');
    SetRaw("", "A", REG_BINARY, "1");
    SetRaw("", fits.c_str(), REG_BINARY, "1");
    SetRaw("", tooLong.c_str(), REG_BINARY, "1");
    SetRaw("", "D", REG_BINARY, "1");
    EXPECT_EQ(ValueNames(KeyPath()), (Names{"A", fits}));
}

TEST_F(RegIni, RemoveEntryPrefersTheValue) {
    SetRaw("\\App", "Setting", REG_BINARY, "1");
    MakeKey("\\App\\Setting\\Deeper");
    EXPECT_TRUE(RemoveRegEntry(P("App\\Setting")));
    EXPECT_FALSE(RawValueExists("\\App", "Setting"));
    EXPECT_TRUE(RawKeyExists("\\App\\Setting\\Deeper"));
    // The key that held the value stays, even when empty now.
    SetRaw("\\Lone", "V", REG_BINARY, "1");
    EXPECT_TRUE(RemoveRegEntry(P("Lone\\V")));
    EXPECT_TRUE(RawKeyExists("\\Lone"));
}

TEST_F(RegIni, RemoveEntryDeletesAKeyWithEverythingBelow) {
    SetRaw("\\App", "V1", REG_SZ, std::string("x\0", 2));
    SetRaw("\\App\\A", "V2", REG_BINARY, "1");
    SetRaw("\\App\\A\\B\\C", "V3", REG_DWORD, "1234");
    SetRaw("\\App\\A\\B\\C", "", REG_SZ, std::string("d\0", 2));
    MakeKey("\\App\\Z\\Y");
    EXPECT_TRUE(RemoveRegEntry(P("App")));
    EXPECT_FALSE(RawKeyExists("\\App"));
    EXPECT_TRUE(RawKeyExists(""));
}

TEST_F(RegIni, SubKeyNamedInSingleQuotesIsSoughtUnquotedAndStays) {
    SetRaw("\\App\\'q'", "V", REG_BINARY, "1");
    MakeKey("\\App\\Plain");
    EXPECT_FALSE(DeleteRegKey(P("App")));
    EXPECT_TRUE(RawKeyExists("\\App\\'q'"));
    EXPECT_FALSE(RawValueExists("\\App\\'q'", "V"));
    EXPECT_FALSE(RawKeyExists("\\App\\Plain"));
}

TEST_F(RegIni, RemoveEntryOfNothingChangesNothing) {
    SetRaw("\\App", "V", REG_BINARY, "1");
    EXPECT_FALSE(RemoveRegEntry(P("App\\Missing")));
    EXPECT_FALSE(RemoveRegEntry(P("Missing\\")));
    EXPECT_FALSE(RemoveRegEntry("hkcu\\" + SubKey() + "\\App"));
    EXPECT_FALSE(RemoveRegEntry(""));
    EXPECT_TRUE(RawValueExists("\\App", "V"));
}

TEST_F(RegIni, RemoveEntryWithTrailingBackslashTakesTheDefaultValueFirst) {
    SetRaw("\\App", "", REG_SZ, std::string("d\0", 2));
    SetRaw("\\App", "Other", REG_BINARY, "1");
    EXPECT_TRUE(RemoveRegEntry(P("App\\")));
    EXPECT_TRUE(RawKeyExists("\\App"));
    EXPECT_FALSE(RawValueExists("\\App", ""));
    EXPECT_TRUE(RawValueExists("\\App", "Other"));
    EXPECT_TRUE(RemoveRegEntry(P("App\\")));
    EXPECT_FALSE(RawKeyExists("\\App"));
}

TEST_F(RegIni, DeleteKeyWithAndWithoutTrailingBackslash) {
    for (const char* suffix : {"", "\\"}) {
        SetRaw("\\App\\Sub", "V", REG_BINARY, "1");
        EXPECT_TRUE(DeleteRegKey(P("App") + suffix)) << suffix;
        EXPECT_FALSE(RawKeyExists("\\App")) << suffix;
        EXPECT_FALSE(DeleteRegKey(P("App") + suffix)) << suffix;
    }
}

TEST_F(RegIni, DeleteKeyDirectlyBelowARoot) {
    std::string name = "VantrelTestTop-" + std::to_string(GetCurrentProcessId());
    TScopedRegKey top;
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, (name + "\\Child").c_str(), top.Receive()),
              ERROR_SUCCESS);
    top.Close();
    EXPECT_TRUE(DeleteRegKey("HKCU\\" + name));
    EXPECT_NE(RegOpenKeyA(HKEY_CURRENT_USER, name.c_str(), top.Receive()), ERROR_SUCCESS);
    RemoveRegTree(HKEY_CURRENT_USER, name);
}

TEST_F(RegIni, ValueDirectlyBelowARootIsStillRemoved) {
    std::string name = "VantrelTestValue-" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(WriteRegInteger("HKCU\\" + name, 1));
    EXPECT_TRUE(RemoveRegEntry("HKCU\\" + name));
    EXPECT_EQ(RegQueryValueExA(HKEY_CURRENT_USER, name.c_str(), nullptr, nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(RegIni, ABareRootIsNeverEmptied) {
    SetRaw("", "Witness", REG_BINARY, "1");
    for (const char* path : {"HKCU", "HKCU\\", "HKLM", "HKLM\\", "HKU\\", "HKCR"}) {
        EXPECT_FALSE(RemoveRegEntry(path)) << path;
        EXPECT_FALSE(DeleteRegKey(path)) << path;
    }
    EXPECT_TRUE(RawValueExists("", "Witness"));
    EXPECT_TRUE(RegKeyExists("HKLM\\Software"));
}

TEST_F(RegIni, UnclosedQuoteInASubKeyNameKeepsItsParents) {
    SetRaw("\\App", "Own", REG_BINARY, "1");
    SetRaw("\\App\\it's", "Inner", REG_BINARY, "1");
    SetRaw("\\App\\Other", "V", REG_BINARY, "1");
    EXPECT_FALSE(DeleteRegKey(P("App")));
    // Emptied, but not deleted: its own path splits without a root.
    EXPECT_TRUE(RawKeyExists("\\App\\it's"));
    EXPECT_FALSE(RawValueExists("\\App\\it's", "Inner"));
    EXPECT_FALSE(RawKeyExists("\\App\\Other"));
    EXPECT_FALSE(RawValueExists("\\App", "Own"));
    EXPECT_TRUE(RawKeyExists("\\App"));
}

TEST_F(RegIni, ValueNamesThatTheSplitCutsElsewhereGoWithTheirKey) {
    SetRaw("\\App", "a\\b", REG_BINARY, "1");
    SetRaw("\\App", "'q'", REG_BINARY, "1");
    EXPECT_TRUE(DeleteRegKey(P("App")));
    EXPECT_FALSE(RawKeyExists("\\App"));
}

TEST_F(RegIni, ProtectedSubKeyKeepsItsParent_NativeOnly) {
    if (!RegistryIsNativeStore()) {
        GTEST_SKIP() << "Wine does not enforce key security; see "
                        "UnclosedQuoteInASubKeyNameKeepsItsParents for both builds";
    }
    SetRaw("\\App", "Own", REG_BINARY, "1");
    SetRaw("\\App\\Locked", "Kept", REG_BINARY, "1");
    SetRaw("\\App\\Other\\Deep", "V", REG_BINARY, "1");
    MakeKey("\\App\\Zulu");
    ASSERT_TRUE(ProtectKeyForTest(HKEY_CURRENT_USER, SubKey() + "\\App\\Locked", true));
    EXPECT_FALSE(DeleteRegKey(P("App")));
    EXPECT_FALSE(RemoveRegEntry(P("App")));
    EXPECT_TRUE(RawKeyExists("\\App\\Locked"));
    EXPECT_TRUE(RawValueExists("\\App\\Locked", "Kept"));
    EXPECT_FALSE(RawKeyExists("\\App\\Other"));
    EXPECT_FALSE(RawKeyExists("\\App\\Zulu"));
    EXPECT_FALSE(RawValueExists("\\App", "Own"));
    EXPECT_EQ(SubKeyNames(P("App")), Names{"Locked"});
    ASSERT_TRUE(ProtectKeyForTest(HKEY_CURRENT_USER, SubKey() + "\\App\\Locked", false));
    EXPECT_TRUE(DeleteRegKey(P("App")));
}

TEST_F(RegIni, AValueThatCannotBeDeletedStopsTheRemovalThere_NativeOnly) {
    if (!RegistryIsNativeStore()) {
        GTEST_SKIP() << "Wine does not enforce key security";
    }
    // "App\Both" is a value of App and a subkey of it. The value reading
    // wins even when the value cannot be deleted: the subkey must stay.
    SetRaw("\\App", "Both", REG_BINARY, "1");
    SetRaw("\\App\\Both", "Inner", REG_BINARY, "1");
    ASSERT_TRUE(ProtectKeyForTest(HKEY_CURRENT_USER, SubKey() + "\\App", true));
    EXPECT_FALSE(RemoveRegEntry(P("App\\Both")));
    EXPECT_TRUE(RawValueExists("\\App", "Both"));
    EXPECT_TRUE(RawValueExists("\\App\\Both", "Inner"));
    ASSERT_TRUE(ProtectKeyForTest(HKEY_CURRENT_USER, SubKey() + "\\App", false));
    EXPECT_TRUE(RemoveRegEntry(P("App\\Both")));
    EXPECT_FALSE(RawValueExists("\\App", "Both"));
    EXPECT_TRUE(RawKeyExists("\\App\\Both"));
    EXPECT_TRUE(RemoveRegEntry(P("App\\Both")));
    EXPECT_FALSE(RawKeyExists("\\App\\Both"));
}

} // namespace
