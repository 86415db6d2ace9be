// The registry calls' contract where callers pass odd but legal arguments:
// short enumeration buffers, root handles with any high bits, what a failed open
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

// A short buffer gives ERROR_MORE_DATA with the type and the data size set
// and the name count as passed. A short data buffer leaves the name and the
// data untouched; a short name buffer alone still gets the data and the
// name as far as it goes, terminated (Windows XP left both untouched).
TEST_F(RegContract, EnumValueWithShortBuffersFillsWhatFits) {
    // Alone in a key of its own: the order of values differs between builds.
    TScopedRegKey binary;
    ASSERT_EQ(RegCreateKeyA(Key(), "binary", binary.Receive()), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(binary.Get(), "Bin", 0, REG_BINARY,
                             reinterpret_cast<const BYTE*>("\1\2\3"), 3),
              ERROR_SUCCESS);
    struct Case {
        DWORD index; // 0: "Test" in the fixture's key, 1: "Bin" in a key of its own
        DWORD nameRoom, dataRoom;
        bool withData;
        DWORD type, size;
        std::string name; // the name buffer's first bytes after the call
        std::string data; // the data buffer's first bytes after the call
    } cases[] = {
        {0, 3, 20, true, REG_SZ, 7, std::string("Te\0x", 4), std::string("foobar\0x", 8)},
        {0, 4, 7, true, REG_SZ, 7, std::string("Tes\0x", 5), std::string("foobar\0x", 8)},
        {0, 3, 20, false, REG_SZ, 7, std::string("Te\0x", 4), "xxxxxxxx"},
        {1, 2, 20, true, REG_BINARY, 3, std::string("B\0x", 3), "\1\2\3x"},
        {0, 20, 6, true, REG_SZ, 7, "xxxx", "xxxxxxxx"},
        {0, 3, 2, true, REG_SZ, 7, "xxxx", "xxxxxxxx"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "index " << c.index << ", name room " << c.nameRoom
                                        << ", data room " << c.dataRoom);
        char name[32];
        char data[32];
        std::memset(name, 'x', sizeof name);
        std::memset(data, 'x', sizeof data);
        DWORD nameCount = c.nameRoom;
        DWORD dataSize = c.dataRoom;
        DWORD type = 1234;
        EXPECT_EQ(RegEnumValueA(c.index == 0 ? Key() : binary.Get(), 0, name, &nameCount, nullptr,
                                &type, c.withData ? reinterpret_cast<BYTE*>(data) : nullptr,
                                &dataSize),
                  ERROR_MORE_DATA);
        EXPECT_EQ(type, c.type);
        EXPECT_EQ(dataSize, c.size);
        EXPECT_EQ(nameCount, c.nameRoom);
        EXPECT_EQ(std::string(name, c.name.size()), c.name);
        EXPECT_EQ(std::string(data, c.data.size()), c.data);
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
        // Where a handle has high bits (64-bit builds), others than all zeros
        // or all ones name the same root.
        {"HKEY_CURRENT_USER with other high bits",
         reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234567880000001ull))},
        {"HKEY_CURRENT_USER with high bits 1",
         reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x0000000180000001ull))},
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
