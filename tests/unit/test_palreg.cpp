// The Win32 registry calls themselves, held to what Windows (and Wine) do:
// error codes, size queries, short buffers, strings with and without their
// NUL, handles of deleted keys, enumeration order.
#include "RegTestSupport.h"
#include "TestSupport.h"
#include "ktHandle.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

class PalRegistry : public TempRegTest {
  protected:
    void SetUp() override {
        TempRegTest::SetUp();
        ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, SubKey().c_str(), key_.Receive()),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        key_.Close();
        TempRegTest::TearDown();
    }
    HKEY Key() const { return key_.Get(); }

    void CreateKey(const std::string& subKey) {
        TScopedRegKey created;
        ASSERT_EQ(RegCreateKeyA(Key(), subKey.c_str(), created.Receive()), ERROR_SUCCESS) << subKey;
    }
    void SetBytes(const char* name, DWORD type, const std::string& bytes) {
        ASSERT_EQ(RegSetValueExA(Key(), name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                 static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS);
    }
    // The stored data, read with a generous buffer.
    std::string Stored(const char* name, DWORD* type = nullptr) {
        char buffer[256];
        DWORD size = sizeof buffer;
        if (RegQueryValueExA(Key(), name, nullptr, type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS) {
            return "<missing>";
        }
        return std::string(buffer, size);
    }
    std::vector<std::string> SubKeys(HKEY key) {
        std::vector<std::string> names;
        char name[300];
        for (DWORD i = 0;; ++i) {
            DWORD size = sizeof name;
            if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                return names;
            }
            names.emplace_back(name, size);
        }
    }
    std::vector<std::string> Values(HKEY key) {
        std::vector<std::string> names;
        char name[300];
        for (DWORD i = 0;; ++i) {
            DWORD size = sizeof name;
            if (RegEnumValueA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                return names;
            }
            names.emplace_back(name, size);
        }
    }

  private:
    TScopedRegKey key_;
};

using Names = std::vector<std::string>;

TEST_F(PalRegistry, OpenWithoutSubKeyGivesTheSameHandle) {
    HKEY same = nullptr;
    EXPECT_EQ(RegOpenKeyA(Key(), "", &same), ERROR_SUCCESS);
    EXPECT_EQ(same, Key());
    same = nullptr;
    EXPECT_EQ(RegOpenKeyA(Key(), nullptr, &same), ERROR_SUCCESS);
    EXPECT_EQ(same, Key());
    EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, "", &same), ERROR_SUCCESS);
    EXPECT_EQ(same, HKEY_CURRENT_USER);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "", 0, KEY_READ, &same), ERROR_SUCCESS);
    EXPECT_EQ(same, HKEY_LOCAL_MACHINE);
}

TEST_F(PalRegistry, OpenExAndCreateWithoutSubKeyGiveANewHandleToTheSameKey) {
    SetBytes("v", REG_BINARY, "\x01");
    TScopedRegKey opened;
    ASSERT_EQ(RegOpenKeyExA(Key(), "", 0, KEY_READ, opened.Receive()), ERROR_SUCCESS);
    EXPECT_NE(opened.Get(), Key());
    EXPECT_EQ(RegQueryValueExA(opened.Get(), "v", nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    TScopedRegKey created;
    ASSERT_EQ(RegCreateKeyA(Key(), "", created.Receive()), ERROR_SUCCESS);
    EXPECT_NE(created.Get(), Key());
    EXPECT_EQ(RegQueryValueExA(created.Get(), "v", nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
}

TEST_F(PalRegistry, SubKeyPathsWithSeveralComponents) {
    CreateKey("A\\B\\C");
    struct {
        const char* path;
        LSTATUS expected;
    } const cases[] = {
        {"A", ERROR_SUCCESS},           {"A\\B", ERROR_SUCCESS},
        {"A\\B\\C", ERROR_SUCCESS},     {"a\\b\\c", ERROR_SUCCESS},
        {"A\\\\B", ERROR_SUCCESS},      {"A\\B\\", ERROR_SUCCESS},
        {"A\\X", ERROR_FILE_NOT_FOUND}, {"A\\B\\C\\D", ERROR_FILE_NOT_FOUND},
        {"\\A", ERROR_BAD_PATHNAME},
    };
    for (const auto& c : cases) {
        TScopedRegKey opened;
        EXPECT_EQ(RegOpenKeyA(Key(), c.path, opened.Receive()), c.expected) << c.path;
        EXPECT_EQ(opened.IsValid(), c.expected == ERROR_SUCCESS) << c.path;
    }
    TScopedRegKey bad;
    EXPECT_EQ(RegCreateKeyA(Key(), "\\C", bad.Receive()), ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegOpenKeyA(Key(), "A", nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(PalRegistry, NamesKeepTheirFirstLetterCase) {
    CreateKey("Kid");
    CreateKey("KID\\x");
    SetBytes("Value", REG_BINARY, "1");
    SetBytes("VALUE", REG_BINARY, "22");
    EXPECT_EQ(SubKeys(Key()), Names{"Kid"});
    EXPECT_EQ(Values(Key()), Names{"Value"});
    EXPECT_EQ(Stored("value"), "22");
}

TEST_F(PalRegistry, SubKeysEnumerateInNameOrderWithoutRegardToCase) {
    for (const char* name : {"b", "A", "c", "Zed", "a1", "B2"}) {
        CreateKey(name);
    }
    EXPECT_EQ(SubKeys(Key()), (Names{"A", "a1", "b", "B2", "c", "Zed"}));
}

TEST_F(PalRegistry, SizeQueryAndShortBuffers) {
    SetBytes("bin", REG_BINARY, std::string("\x01\x02\x03", 3));
    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(Key(), "bin", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(size, 3u);

    char buffer[8];
    std::memset(buffer, 'X', sizeof buffer);
    size = 2;
    EXPECT_EQ(
        RegQueryValueExA(Key(), "bin", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size),
        ERROR_MORE_DATA);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(std::string(buffer, 3), "XXX");

    EXPECT_EQ(
        RegQueryValueExA(Key(), "bin", nullptr, &type, reinterpret_cast<BYTE*>(buffer), nullptr),
        ERROR_INVALID_PARAMETER);
    DWORD reserved = 0;
    EXPECT_EQ(RegQueryValueExA(Key(), "bin", &reserved, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExA(Key(), "BIN", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(Key(), "nothing", nullptr, nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(PalRegistry, StringsAreStoredAsPassed) {
    // With the terminating NUL counted.
    SetBytes("with", REG_SZ, std::string("abc\0", 4));
    // Without it: the byte after the given size is not a NUL.
    ASSERT_EQ(RegSetValueExA(Key(), "without", 0, REG_SZ, reinterpret_cast<const BYTE*>("abcX"), 3),
              ERROR_SUCCESS);
    // Without it, but followed by one: Windows counts the NUL itself.
    ASSERT_EQ(RegSetValueExA(Key(), "forgot", 0, REG_SZ, reinterpret_cast<const BYTE*>("abc"), 3),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(Key(), "empty", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 0),
              ERROR_SUCCESS);
    ASSERT_EQ(
        RegSetValueExA(Key(), "binary", 0, REG_BINARY, reinterpret_cast<const BYTE*>("ab"), 2),
        ERROR_SUCCESS);

    struct {
        const char* name;
        DWORD storedSize;
    } const sizes[] = {{"with", 4}, {"without", 3}, {"forgot", 4}, {"empty", 0}, {"binary", 2}};
    for (const auto& c : sizes) {
        DWORD size = 99;
        EXPECT_EQ(RegQueryValueExA(Key(), c.name, nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
        EXPECT_EQ(size, c.storedSize) << c.name;
    }

    // A string stored without its NUL gets one when the buffer has room;
    // the size does not count it.
    char buffer[8];
    std::memset(buffer, 'X', sizeof buffer);
    DWORD size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExA(Key(), "without", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                               &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(std::string(buffer, 5), std::string("abc\0X", 5));
    std::memset(buffer, 'X', sizeof buffer);
    size = 3;
    EXPECT_EQ(RegQueryValueExA(Key(), "without", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                               &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::string(buffer, 4), "abcX");
    // Not for binary data, nor for an empty string.
    std::memset(buffer, 'X', sizeof buffer);
    size = sizeof buffer;
    RegQueryValueExA(Key(), "binary", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    EXPECT_EQ(std::string(buffer, 3), "abX");
    std::memset(buffer, 'X', sizeof buffer);
    size = sizeof buffer;
    RegQueryValueExA(Key(), "empty", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(buffer[0], 'X');
}

TEST_F(PalRegistry, SetValueArguments) {
    EXPECT_EQ(RegSetValueExA(Key(), "n", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
    EXPECT_EQ(RegSetValueExA(Key(), "n", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    EXPECT_EQ(Stored("n"), "");
    // Any size goes with any type.
    SetBytes("d", REG_DWORD, "\x01\x02");
    DWORD type = 0;
    EXPECT_EQ(Stored("d", &type), "\x01\x02");
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    // Overwriting changes type and data.
    SetBytes("d", REG_SZ, std::string("x\0", 2));
    EXPECT_EQ(Stored("d", &type), std::string("x\0", 2));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    std::string tooLong(20000, 'v');
    EXPECT_EQ(RegSetValueExA(Key(), tooLong.c_str(), 0, REG_BINARY,
                             reinterpret_cast<const BYTE*>("x"), 1),
              ERROR_INVALID_PARAMETER);
}

TEST_F(PalRegistry, DefaultValue) {
    EXPECT_EQ(RegQueryValueExA(Key(), "", nullptr, nullptr, nullptr, nullptr),
              ERROR_FILE_NOT_FOUND);
    SetBytes("", REG_SZ, std::string("def\0", 4));
    EXPECT_EQ(Stored(nullptr), std::string("def\0", 4));
    EXPECT_EQ(RegDeleteValueA(Key(), nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(Key(), nullptr), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueA(Key(), "missing"), ERROR_FILE_NOT_FOUND);
}

TEST_F(PalRegistry, DeleteKey) {
    CreateKey("A\\B");
    EXPECT_EQ(RegDeleteKeyA(Key(), "A"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(Key(), "Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(Key(), nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegDeleteKeyA(Key(), "a\\b\\"), ERROR_SUCCESS);
    EXPECT_EQ(SubKeys(Key()), Names{"A"});
    // Values do not keep a key alive.
    {
        TScopedRegKey a;
        ASSERT_EQ(RegOpenKeyA(Key(), "A", a.Receive()), ERROR_SUCCESS);
        ASSERT_EQ(
            RegSetValueExA(a.Get(), "v", 0, REG_BINARY, reinterpret_cast<const BYTE*>("1"), 1),
            ERROR_SUCCESS);
        // An empty name deletes the key the handle names.
        EXPECT_EQ(RegDeleteKeyA(a.Get(), ""), ERROR_SUCCESS);
    }
    EXPECT_TRUE(SubKeys(Key()).empty());
}

TEST_F(PalRegistry, HandleOfADeletedKey) {
    CreateKey("Gone");
    TScopedRegKey gone;
    ASSERT_EQ(RegOpenKeyA(Key(), "Gone", gone.Receive()), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyA(Key(), "Gone"), ERROR_SUCCESS);
    HKEY h = gone.Get();
    char name[16];
    DWORD size = sizeof name;
    HKEY other = nullptr;
    EXPECT_EQ(RegQueryValueExA(h, "x", nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(RegSetValueExA(h, "x", 0, REG_BINARY, reinterpret_cast<const BYTE*>("1"), 1),
              ERROR_KEY_DELETED);
    EXPECT_EQ(RegDeleteValueA(h, "x"), ERROR_KEY_DELETED);
    EXPECT_EQ(RegEnumKeyExA(h, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_KEY_DELETED);
    size = sizeof name;
    EXPECT_EQ(RegEnumValueA(h, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_KEY_DELETED);
    EXPECT_EQ(RegOpenKeyA(h, "y", &other), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCreateKeyA(h, "y", &other), ERROR_KEY_DELETED);
    // A key of the same name made afterwards is another key.
    CreateKey("Gone");
    EXPECT_EQ(RegQueryValueExA(h, "x", nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(gone.Release()), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(h), ERROR_INVALID_HANDLE);
}

TEST_F(PalRegistry, CloseKey) {
    EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
    // The root still works after its "close".
    TScopedRegKey again;
    EXPECT_EQ(RegOpenKeyA(HKEY_CURRENT_USER, SubKey().c_str(), again.Receive()), ERROR_SUCCESS);
}

TEST_F(PalRegistry, EnumerationBuffers) {
    CreateKey("Abc");
    SetBytes("Xy", REG_BINARY, "123");
    char name[16];
    DWORD size = 3;
    EXPECT_EQ(RegEnumKeyExA(Key(), 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 3u);
    size = 4;
    EXPECT_EQ(RegEnumKeyExA(Key(), 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 3u);
    EXPECT_STREQ(name, "Abc");
    size = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(Key(), 1, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);

    size = 2;
    EXPECT_EQ(RegEnumValueA(Key(), 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 2u);
    size = 3;
    EXPECT_EQ(RegEnumValueA(Key(), 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 2u);
    EXPECT_STREQ(name, "Xy");

    char data[8];
    DWORD dataSize = 1;
    DWORD type = 0;
    size = sizeof name;
    EXPECT_EQ(RegEnumValueA(Key(), 0, name, &size, nullptr, &type, reinterpret_cast<BYTE*>(data),
                            &dataSize),
              ERROR_MORE_DATA);
    EXPECT_EQ(dataSize, 3u);
    dataSize = 0;
    size = sizeof name;
    EXPECT_EQ(RegEnumValueA(Key(), 0, name, &size, nullptr, &type, nullptr, &dataSize),
              ERROR_SUCCESS);
    EXPECT_EQ(dataSize, 3u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    dataSize = sizeof data;
    size = sizeof name;
    EXPECT_EQ(RegEnumValueA(Key(), 0, name, &size, nullptr, &type, reinterpret_cast<BYTE*>(data),
                            &dataSize),
              ERROR_SUCCESS);
    EXPECT_EQ(std::string(data, dataSize), "123");
    size = sizeof name;
    EXPECT_EQ(RegEnumValueA(Key(), 0, nullptr, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_PARAMETER);
    size = sizeof name;
    EXPECT_EQ(RegEnumValueA(Key(), 9, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
}

TEST_F(PalRegistry, EnumerationSeesChangesBetweenCalls) {
    CreateKey("M");
    CreateKey("N");
    char name[16];
    DWORD size = sizeof name;
    ASSERT_EQ(RegEnumKeyExA(Key(), 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "M");
    CreateKey("A");
    size = sizeof name;
    ASSERT_EQ(RegEnumKeyExA(Key(), 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "A");
    ASSERT_EQ(RegDeleteKeyA(Key(), "A"), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyA(Key(), "M"), ERROR_SUCCESS);
    size = sizeof name;
    ASSERT_EQ(RegEnumKeyExA(Key(), 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(name, "N");

    SetBytes("v1", REG_BINARY, "1");
    size = sizeof name;
    ASSERT_EQ(RegEnumValueA(Key(), 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueA(Key(), "v1"), ERROR_SUCCESS);
    size = sizeof name;
    EXPECT_EQ(RegEnumValueA(Key(), 0, name, &size, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
}

TEST_F(PalRegistry, EnumerationSeesChangesByAnotherProcess_NativeOnly) {
    if (!RegistryIsNativeStore()) {
        GTEST_SKIP() << "the store file is the native build's";
    }
    CreateKey("M");
    CreateKey("N");
    EXPECT_EQ(SubKeys(Key()), (Names{"M", "N"}));
    ASSERT_TRUE(AddSubKeyFromOutside(SubKey(), "Between"));
    EXPECT_EQ(SubKeys(Key()), (Names{"Between", "M", "N"}));
}

TEST_F(PalRegistry, ClassesRootIsTheMachineClassesKey) {
    std::string name = "VantrelTestClass-" + SubKey().substr(SubKey().rfind('-') + 1) + "-" +
                       std::to_string(GetCurrentProcessId());
    TScopedRegKey created;
    ASSERT_EQ(RegCreateKeyA(HKEY_CLASSES_ROOT, name.c_str(), created.Receive()), ERROR_SUCCESS);
    created.Close();
    TScopedRegKey machine;
    EXPECT_EQ(
        RegOpenKeyA(HKEY_LOCAL_MACHINE, ("Software\\Classes\\" + name).c_str(), machine.Receive()),
        ERROR_SUCCESS);
    machine.Close();
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, name.c_str()), ERROR_SUCCESS);
}

// Wine keeps values sorted by name; Windows and the native store keep the
// order in which they were created.
TEST_F(PalRegistry, ValuesEnumerateInCreationOrder_NativeOnly) {
    if (!RegistryIsNativeStore()) {
        GTEST_SKIP() << "Wine enumerates values by name";
    }
    for (const char* name : {"zeta", "Alpha", "mid"}) {
        SetBytes(name, REG_BINARY, "1");
    }
    SetBytes("ALPHA", REG_BINARY, "2");
    EXPECT_EQ(Values(Key()), (Names{"zeta", "Alpha", "mid"}));
    ASSERT_EQ(RegDeleteValueA(Key(), "zeta"), ERROR_SUCCESS);
    SetBytes("zeta", REG_BINARY, "1");
    EXPECT_EQ(Values(Key()), (Names{"Alpha", "mid", "zeta"}));
}

TEST_F(PalRegistry, ProtectedKeyRefusesDeletionAndWrites_NativeOnly) {
    if (!RegistryIsNativeStore()) {
        GTEST_SKIP() << "Wine does not enforce key security";
    }
    CreateKey("Locked\\Child");
    TScopedRegKey locked;
    ASSERT_EQ(RegOpenKeyA(Key(), "Locked", locked.Receive()), ERROR_SUCCESS);
    ASSERT_EQ(
        RegSetValueExA(locked.Get(), "v", 0, REG_BINARY, reinterpret_cast<const BYTE*>("1"), 1),
        ERROR_SUCCESS);
    ASSERT_TRUE(ProtectKeyForTest(HKEY_CURRENT_USER, SubKey() + "\\Locked", true));

    EXPECT_EQ(
        RegSetValueExA(locked.Get(), "w", 0, REG_BINARY, reinterpret_cast<const BYTE*>("1"), 1),
        ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueA(locked.Get(), "v"), ERROR_ACCESS_DENIED);
    TScopedRegKey child;
    EXPECT_EQ(RegCreateKeyA(locked.Get(), "New", child.Receive()), ERROR_ACCESS_DENIED);
    // An existing subkey still opens through RegCreateKeyA, and reads work.
    EXPECT_EQ(RegCreateKeyA(locked.Get(), "Child", child.Receive()), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(locked.Get(), "v", nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(Key(), "Locked\\Child"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(Key(), "Locked"), ERROR_ACCESS_DENIED);

    ASSERT_TRUE(ProtectKeyForTest(HKEY_CURRENT_USER, SubKey() + "\\Locked", false));
    EXPECT_EQ(RegDeleteKeyA(Key(), "Locked"), ERROR_SUCCESS);
    EXPECT_FALSE(ProtectKeyForTest(HKEY_CURRENT_USER, SubKey() + "\\Locked", true));
}

TEST_F(PalRegistry, RootsCannotBeDeleted_NativeOnly) {
    if (!RegistryIsNativeStore()) {
        GTEST_SKIP() << "not tried on a real registry";
    }
    EXPECT_EQ(RegDeleteKeyA(HKEY_USERS, ""), ERROR_ACCESS_DENIED);
    // The classes root is a plain key of the store, and empty in a fresh
    // machine, yet it stays too.
    EXPECT_EQ(RegDeleteKeyA(HKEY_CLASSES_ROOT, ""), ERROR_ACCESS_DENIED);
    TScopedRegKey classesKey;
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\Classes", classesKey.Receive()),
              ERROR_SUCCESS);
}

TEST_F(PalRegistry, ACallThatReturnedHasReachedTheStore_NativeOnly) {
    if (!RegistryIsNativeStore()) {
        GTEST_SKIP() << "the store file is the native build's";
    }
    EXPECT_FALSE(ValueCommittedInStore(SubKey(), "durable"));
    SetBytes("durable", REG_BINARY, "1");
    EXPECT_TRUE(ValueCommittedInStore(SubKey(), "DURABLE"));
    ASSERT_EQ(RegDeleteValueA(Key(), "durable"), ERROR_SUCCESS);
    EXPECT_FALSE(ValueCommittedInStore(SubKey(), "durable"));
}

struct BatchContext {
    HKEY key;
};

void WriteTwoValues(void* context) {
    HKEY key = static_cast<BatchContext*>(context)->key;
    RegSetValueExA(key, "one", 0, REG_BINARY, reinterpret_cast<const BYTE*>("1"), 1);
    TScopedRegKey sub;
    RegCreateKeyA(key, "Sub", sub.Receive());
    RegSetValueExA(sub.Get(), "two", 0, REG_BINARY, reinterpret_cast<const BYTE*>("2"), 1);
}

TEST_F(PalRegistry, ABatchReachesTheStoreWholeOrNotAtAll_NativeOnly) {
    if (!RegistryIsNativeStore()) {
        GTEST_SKIP() << "batches are the native store's";
    }
    BatchContext context{Key()};
    InRegistryBatch(false, WriteTwoValues, &context);
    EXPECT_EQ(Stored("one"), "<missing>");
    EXPECT_TRUE(SubKeys(Key()).empty());
    InRegistryBatch(true, WriteTwoValues, &context);
    EXPECT_EQ(Stored("one"), "1");
    EXPECT_TRUE(ValueCommittedInStore(SubKey() + "\\Sub", "two"));
}

} // namespace
