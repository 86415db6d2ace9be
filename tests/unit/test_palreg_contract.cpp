// The registry calls' contract where callers pass odd but legal arguments:
// short enumeration buffers, sign-extended root handles, what a failed open
// leaves in its result, one DWORD for type and size, the classes root's "\",
// and a null key handle.
#include "TestSupport.h"
#include "ktHandle.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace {

class RegContract : public TempRegTest {
  protected:
    void SetUp() override {
        TempRegTest::SetUp();
        ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, SubKey().c_str(), key_.Receive()),
                  ERROR_SUCCESS);
        // "foobar" with its NUL: 7 bytes.
        ASSERT_EQ(RegSetValueExA(key_.Get(), "Test", 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>("foobar"), 7),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        key_.Close();
        TempRegTest::TearDown();
    }
    HKEY Key() const { return key_.Get(); }

  private:
    TScopedRegKey key_;
};

TEST_F(RegContract, EnumValueWithShortBuffersReportsTypeAndNeededSize) {
    struct Case {
        const char* what;
        DWORD nameRoom, dataRoom;
    } cases[] = {
        {"data too small", 20, 2},
        {"name too small", 3, 20},
        {"both too small", 3, 2},
    };
    for (const Case& c : cases) {
        char name[32];
        char data[32];
        std::memset(name, 'x', sizeof name);
        std::memset(data, 'x', sizeof data);
        DWORD nameCount = c.nameRoom;
        DWORD dataSize = c.dataRoom;
        DWORD type = 1234;
        EXPECT_EQ(RegEnumValueA(Key(), 0, name, &nameCount, nullptr, &type,
                                reinterpret_cast<BYTE*>(data), &dataSize),
                  ERROR_MORE_DATA)
            << c.what;
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ)) << c.what;
        EXPECT_EQ(dataSize, 7u) << c.what;
        // The count stays as passed (Windows' documentation is silent; this
        // is what Windows and Wine do). A short name buffer may hold part of
        // the name; a short data buffer alone leaves the name alone.
        EXPECT_EQ(nameCount, c.nameRoom) << c.what;
        if (c.nameRoom > 4) {
            EXPECT_EQ(name[0], 'x') << c.what;
        }
        if (c.dataRoom < 7) {
            EXPECT_EQ(data[0], 'x') << c.what << ": a short data buffer stays untouched";
        }
    }
}

TEST_F(RegContract, RootsAreKnownByTheirLow32Bits) {
    struct Case {
        const char* what;
        HKEY root;
    } cases[] = {
        {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {"HKEY_CURRENT_USER sign-extended",
         reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<int32_t>(0x80000001u)))},
    };
    for (const Case& c : cases) {
        TScopedRegKey opened;
        EXPECT_EQ(RegOpenKeyExA(c.root, SubKey().c_str(), 0, KEY_READ, opened.Receive()),
                  ERROR_SUCCESS)
            << c.what;
        DWORD size = 0;
        EXPECT_EQ(RegQueryValueExA(opened.Get(), "Test", nullptr, nullptr, nullptr, &size),
                  ERROR_SUCCESS)
            << c.what;
        EXPECT_EQ(size, 7u) << c.what;
    }
    HKEY machine = reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<int32_t>(0x80000002u)));
    TScopedRegKey software;
    EXPECT_EQ(RegOpenKeyExA(machine, "Software", 0, KEY_READ, software.Receive()), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(machine), ERROR_SUCCESS);
}

// A failed open or create sets the result to NULL once the parent handle
// has been found; a call refused for its handle leaves the result alone.
TEST_F(RegContract, AFailedOpenLeavesItsResultAsWindowsDoes) {
    HKEY const kUntouched = reinterpret_cast<HKEY>(static_cast<intptr_t>(0x1234));
    struct Case {
        const char* what;
        char call; // 'x' RegOpenKeyExA, 'o' RegOpenKeyA, 'c' RegCreateKeyA
        bool nullKey;
        const char* subKey;
        LSTATUS rc;
        bool cleared; // else untouched
    } cases[] = {
        {"Ex, missing key", 'x', false, "Missing", ERROR_FILE_NOT_FOUND, true},
        {"plain, missing key", 'o', false, "Missing", ERROR_FILE_NOT_FOUND, true},
        {"Ex, leading backslash", 'x', false, "\\Test", ERROR_BAD_PATHNAME, true},
        {"plain, leading backslash", 'o', false, "\\Test", ERROR_BAD_PATHNAME, true},
        {"Ex, null key", 'x', true, "Software", ERROR_INVALID_HANDLE, false},
        {"plain, null key", 'o', true, "Software", ERROR_INVALID_HANDLE, false},
        {"create, leading backslash", 'c', false, "\\New", ERROR_BAD_PATHNAME, true},
        {"create, null key", 'c', true, "Software", ERROR_INVALID_HANDLE, false},
    };
    for (const Case& c : cases) {
        HKEY result = kUntouched;
        HKEY parent = c.nullKey ? nullptr : Key();
        LSTATUS rc = c.call == 'x'   ? RegOpenKeyExA(parent, c.subKey, 0, KEY_READ, &result)
                     : c.call == 'o' ? RegOpenKeyA(parent, c.subKey, &result)
                                     : RegCreateKeyA(parent, c.subKey, &result);
        EXPECT_EQ(rc, c.rc) << c.what;
        EXPECT_EQ(result, c.cleared ? nullptr : kUntouched) << c.what;
    }
}

TEST_F(RegContract, QueryValueSizes) {
    // A missing value reports a size of 0.
    DWORD size = 100;
    EXPECT_EQ(RegQueryValueExA(Key(), "Missing", nullptr, nullptr, nullptr, &size),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(size, 0u);
    // One DWORD for type and size: the size is read before the type lands.
    char data[32] = {};
    DWORD both = sizeof data;
    EXPECT_EQ(RegQueryValueExA(Key(), "Test", nullptr, &both, reinterpret_cast<BYTE*>(data), &both),
              ERROR_SUCCESS);
    EXPECT_STREQ(data, "foobar");
    EXPECT_EQ(both, 7u) << "the size is written after the type";
}

TEST_F(RegContract, ClassesRootBackslashOpensTheRootAsAKeyOfItsOwn) {
    HKEY opened = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "\\", 0, KEY_READ, &opened), ERROR_SUCCESS);
    EXPECT_NE(opened, HKEY_CLASSES_ROOT);
    EXPECT_NE(opened, nullptr);
    EXPECT_EQ(RegCloseKey(opened), ERROR_SUCCESS);
    // Below any other key a leading backslash stays a bad path.
    TScopedRegKey bad;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "\\Software", 0, KEY_READ, bad.Receive()),
              ERROR_BAD_PATHNAME);
}

// Every other call that takes a key, given none (the opens and the create
// are above): a null handle is refused before anything else is looked at.
TEST(RegContractHandles, CallsGivenNoKeyFail) {
    struct Case {
        const char* call;
        LSTATUS (*run)();
    } cases[] = {
        {"RegQueryValueExA",
         [] {
             DWORD size = 0;
             return RegQueryValueExA(nullptr, "x", nullptr, nullptr, nullptr, &size);
         }},
        {"RegSetValueExA",
         [] {
             return RegSetValueExA(nullptr, "x", 0, REG_BINARY, reinterpret_cast<const BYTE*>("1"),
                                   1);
         }},
        {"RegDeleteValueA", [] { return RegDeleteValueA(nullptr, "x"); }},
        {"RegDeleteKeyA", [] { return RegDeleteKeyA(nullptr, "x"); }},
        {"RegEnumKeyExA",
         [] {
             char name[16];
             DWORD size = sizeof name;
             return RegEnumKeyExA(nullptr, 0, name, &size, nullptr, nullptr, nullptr, nullptr);
         }},
        {"RegEnumValueA",
         [] {
             char name[16];
             DWORD size = sizeof name;
             return RegEnumValueA(nullptr, 0, name, &size, nullptr, nullptr, nullptr, nullptr);
         }},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.run(), ERROR_INVALID_HANDLE) << c.call;
    }
}

} // namespace
