// Upper-casing, lead bytes and the locale comparison of code page 1252, as
// the program uses them for names: equality without regard to case and an
// order in which a path comes before every path that extends it.
#include "TestSupport.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

int Compare(const std::string& a, const std::string& b, DWORD flags = NORM_IGNORECASE) {
    return CompareStringA(LOCALE_USER_DEFAULT, flags, a.c_str(), -1, b.c_str(), -1);
}

std::string Upper(std::string text) {
    if (!text.empty()) {
        CharUpperBuffA(&text[0], static_cast<DWORD>(text.size()));
    }
    return text;
}

// The upper case of every byte of code page 1252 that has one.
const std::vector<std::pair<unsigned char, unsigned char>>& UpperPairs() {
    static const std::vector<std::pair<unsigned char, unsigned char>> pairs = [] {
        std::vector<std::pair<unsigned char, unsigned char>> result;
        for (int c = 'a'; c <= 'z'; ++c) {
            result.emplace_back(c, c - 32);
        }
        for (int c = 0xE0; c <= 0xFE; ++c) {
            if (c != 0xF7) {
                result.emplace_back(c, c - 32);
            }
        }
        result.emplace_back(0x9A, 0x8A);
        result.emplace_back(0x9C, 0x8C);
        result.emplace_back(0x9E, 0x8E);
        result.emplace_back(0xFF, 0x9F);
        return result;
    }();
    return pairs;
}

unsigned char ExpectedUpper(unsigned char c) {
    for (const auto& pair : UpperPairs()) {
        if (pair.first == c) {
            return pair.second;
        }
    }
    return c;
}

TEST(CharUpper, EveryByteOfTheCodePage) {
    for (int c = 1; c < 256; ++c) {
        SCOPED_TRACE(c);
        char text[2] = {static_cast<char>(c), 0};
        EXPECT_EQ(CharUpperBuffA(text, 1), 1u);
        EXPECT_EQ(static_cast<unsigned char>(text[0]),
                  ExpectedUpper(static_cast<unsigned char>(c)));
    }
}

TEST(CharUpper, UpperCasesTheCountGiven) {
    char buffer[] = "Mixed \xe9t\xe9 path\\file.txt";
    EXPECT_EQ(CharUpperBuffA(buffer, 5), 5u); // only the count given
    EXPECT_STREQ(buffer, "MIXED \xe9t\xe9 path\\file.txt");
}

TEST(LeadBytes, NoneInCodePage1252) {
    EXPECT_EQ(GetACP(), 1252u);
    for (int c = 0; c < 256; ++c) {
        EXPECT_FALSE(IsDBCSLeadByte(static_cast<BYTE>(c))) << c;
    }
}

// ---- Comparison ---------------------------------------------------------------------

struct CompareCase {
    const char* a;
    const char* b;
    int ignoringCase;
    int withCase;
};

constexpr int LT = CSTR_LESS_THAN;
constexpr int EQ = CSTR_EQUAL;
constexpr int GT = CSTR_GREATER_THAN;

TEST(CompareString, AgreesWithTheSystemOnWordsAndPaths) {
    const CompareCase cases[] = {
        // case
        {"Files", "FILES", EQ, LT},
        {"x.dll", "X.DLL", EQ, LT},
        {"a", "A", EQ, LT},
        {"a", "B", LT, LT},
        {"B", "a", GT, GT},
        {"Ab", "aB", EQ, GT},
        {"Str", "STRING", LT, LT},
        // digits, punctuation, underscore, backslash
        {"1", "a", LT, LT},
        {"9", "A", LT, LT},
        {"10", "9", LT, LT},
        {"_", "a", LT, LT},
        {"_", "1", LT, LT},
        {"\\", "_", LT, LT},
        {"\\", "1", LT, LT},
        {" ", "\\", LT, LT},
        {"a_b", "ab", LT, LT},
        {"a_b", "a b", GT, GT},
        {"A\\B", "A_B", LT, LT},
        // paths and their extensions
        {"A\\B", "A\\B\\C", LT, LT},
        {"A\\B", "A\\B C", LT, LT},
        {"A\\B\\C", "A\\B C", GT, GT},
        {"A\\B", "A\\BC", LT, LT},
        {"A\\B\\C", "A\\BC", LT, LT},
        {"A\\B", "A\\B-C", LT, LT},
        {"", "a", LT, LT},
        {"a", "", GT, GT},
        // accents weigh less than letters, more than case
        {"e", "\xe9", LT, LT},
        {"\xe9", "f", LT, LT},
        {"E", "\xe9", LT, LT},
        {"\xe9", "\xc9", EQ, LT},
        {"\xe9"
         "a",
         "eb", LT, LT},
        {"\xe9"
         "b",
         "ea", GT, GT},
        {"e\xe9",
         "\xe9"
         "e",
         LT, LT},
        {"A\xe9", "a\xc9", EQ, GT},
        {"z", "\xfe", GT, GT},
        {"y", "\xff", LT, LT},
        {"\x9f", "\xff", EQ, GT},
        {"\x8a", "\x9a", EQ, GT},
        // ligatures compare as their letters
        {"ss", "\xdf", EQ, EQ},
        {"\xdf", "st", LT, LT},
        {"ae", "\xe6", EQ, EQ},
        {"\xe6", "af", LT, LT},
        {"oe", "\x9c", EQ, EQ},
        // hyphens and apostrophes count only after the letters
        {"a-b", "ab", GT, GT},
        {"a'b", "ab", GT, GT},
        {"co-op", "coop", GT, GT},
        {"A-B", "A_B", GT, GT},
        {"-ab", "a-b", GT, GT},
        {"a'b", "a-b", LT, LT},
        {"a--b", "a-b", GT, GT},
        {"a-bc", "ab-c", GT, GT},
        {"a-c", "ab", GT, GT},
        {"", "-", LT, LT},
        {"a\xad"
         "b",
         "ab", EQ, EQ}, // the soft hyphen is ignored
        {"a\x01", "a", GT, GT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "[" << c.a << "] vs [" << c.b << "]");
        EXPECT_EQ(Compare(c.a, c.b), c.ignoringCase);
        EXPECT_EQ(Compare(c.a, c.b, 0), c.withCase);
        // The comparison is antisymmetric.
        EXPECT_EQ(Compare(c.b, c.a), 4 - c.ignoringCase);
    }
}

TEST(CompareString, EveryLetterEqualsItsUpperCase) {
    for (const auto& pair : UpperPairs()) {
        std::string lower(1, static_cast<char>(pair.first));
        std::string upper(1, static_cast<char>(pair.second));
        SCOPED_TRACE(static_cast<int>(pair.first));
        EXPECT_EQ(Compare(lower, upper), EQ);
        EXPECT_EQ(Compare("x" + lower + "y", "X" + upper + "Y"), EQ);
        EXPECT_EQ(Compare(lower, upper, 0), LT);
    }
}

// Every single character in ascending order; characters in one string
// compare equal without regard to case.
const char* const kSingleCharacterOrder[] = {
    "\xad",     "\x01",     "\x02",     "\x03",     "\x04",     "\x05",     "\x06",     "\x07",
    "\x08",     "\x0e",     "\x0f",     "\x10",     "\x11",     "\x12",     "\x13",     "\x14",
    "\x15",     "\x16",     "\x17",     "\x18",     "\x19",     "\x1a",     "\x1b",     "\x1c",
    "\x1d",     "\x1e",     "\x1f",     "\x7f",     "\x27",     "\x2d",     "\x96",     "\x97",
    "\x20",     "\xa0",     "\x09",     "\x0a",     "\x0b",     "\x0c",     "\x0d",     "\x21",
    "\x22",     "\x23",     "\x24",     "\x25",     "\x26",     "\x28",     "\x29",     "\x2a",
    "\x2c",     "\x2e",     "\x2f",     "\x3a",     "\x3b",     "\x3f",     "\x40",     "\x5b",
    "\x5c",     "\x5d",     "\x5e\x88", "\x5f",     "\x60",     "\x7b",     "\x7c",     "\x7d",
    "\x7e",     "\xa1",     "\xa6",     "\xa8",     "\xaf",     "\xb4",     "\xb8",     "\xbf",
    "\x98",     "\x91",     "\x92",     "\x82",     "\x93",     "\x94",     "\x84",     "\x8b",
    "\x9b",     "\xa2",     "\xa3",     "\xa4",     "\xa5",     "\x80",     "\x2b",     "\x3c",
    "\x3d",     "\x3e",     "\xb1",     "\xab",     "\xbb",     "\xd7",     "\xf7",     "\xa7",
    "\xa9",     "\xac",     "\xae",     "\xb0",     "\xb5",     "\xb6",     "\xb7",     "\x85",
    "\x86",     "\x87",     "\x95",     "\x89",     "\x81",     "\x8d",     "\x8f",     "\x90",
    "\x9d",     "\x30",     "\xbc",     "\xbd",     "\xbe",     "\x31",     "\xb9",     "\x32",
    "\xb2",     "\x33",     "\xb3",     "\x34",     "\x35",     "\x36",     "\x37",     "\x38",
    "\x39",     "\x41\x61", "\xaa",     "\xc1\xe1", "\xc0\xe0", "\xc2\xe2", "\xc4\xe4", "\xc3\xe3",
    "\xc5\xe5", "\xc6\xe6", "\x42\x62", "\x43\x63", "\xc7\xe7", "\x44\x64", "\xd0\xf0", "\x45\x65",
    "\xc9\xe9", "\xc8\xe8", "\xca\xea", "\xcb\xeb", "\x46\x66", "\x83",     "\x47\x67", "\x48\x68",
    "\x49\x69", "\xcd\xed", "\xcc\xec", "\xce\xee", "\xcf\xef", "\x4a\x6a", "\x4b\x6b", "\x4c\x6c",
    "\x4d\x6d", "\x4e\x6e", "\xd1\xf1", "\x4f\x6f", "\xba",     "\xd3\xf3", "\xd2\xf2", "\xd4\xf4",
    "\xd6\xf6", "\xd5\xf5", "\xd8\xf8", "\x8c\x9c", "\x50\x70", "\x51\x71", "\x52\x72", "\x53\x73",
    "\x8a\x9a", "\xdf",     "\x54\x74", "\xde\xfe", "\x99",     "\x55\x75", "\xda\xfa", "\xd9\xf9",
    "\xdb\xfb", "\xdc\xfc", "\x56\x76", "\x57\x77", "\x58\x78", "\x59\x79", "\xdd\xfd", "\x9f\xff",
    "\x5a\x7a", "\x8e\x9e",
};

TEST(CompareString, SingleCharactersSortInTheSystemsOrder) {
    std::vector<std::string> expected;
    for (const char* group : kSingleCharacterOrder) {
        for (const char* c = group; *c != '\0'; ++c) {
            expected.emplace_back(1, *c);
        }
    }
    ASSERT_EQ(expected.size(), 255u);
    std::vector<std::string> sorted = expected;
    std::reverse(sorted.begin(), sorted.end());
    std::stable_sort(sorted.begin(), sorted.end(), [](const std::string& a, const std::string& b) {
        return Compare(a, b) == CSTR_LESS_THAN;
    });
    // Within a group of equal characters the reversed input order survives.
    size_t at = 0;
    for (const char* group : kSingleCharacterOrder) {
        std::string members = group;
        for (size_t i = 0; i < members.size(); ++i, ++at) {
            ASSERT_LT(at, sorted.size());
            EXPECT_EQ(static_cast<unsigned char>(sorted[at][0]),
                      static_cast<unsigned char>(members[members.size() - 1 - i]))
                << "position " << at;
        }
        for (size_t i = 1; i < members.size(); ++i) {
            EXPECT_EQ(Compare(members.substr(0, 1), members.substr(i, 1)), EQ);
        }
    }
}

TEST(CompareString, APathSortsBeforeEveryPathThatExtendsIt) {
    const char* const bases[] = {
        "A\\B", "HKLM\\Software\\Vendor", "C:\\Program Files\\App", "x", "\xc9t\xe9", "a-b"};
    const char* const tails[] = {"\\C", " C", "-C", "_", "\\", "0", "'", ".", "\xe9", "\\a\\b"};
    for (const char* base : bases) {
        for (const char* tail : tails) {
            std::string longer = std::string(base) + tail;
            SCOPED_TRACE(longer);
            EXPECT_EQ(Compare(base, longer), LT);
            EXPECT_EQ(Compare(Upper(base), longer), LT);
        }
    }
    // Sorted keys list every key after the keys above it.
    std::vector<std::string> keys = {"HKCU\\S\\App\\Sub", "HKCU\\S\\App", "HKCU\\S\\App-2",
                                     "HKCU\\S\\app\\Sub\\Deep", "HKCU\\S\\App Data"};
    std::sort(keys.begin(), keys.end(), [](const std::string& a, const std::string& b) {
        return Compare(a, b) == CSTR_LESS_THAN;
    });
    for (size_t i = 0; i < keys.size(); ++i) {
        for (size_t j = 0; j < keys.size(); ++j) {
            std::string parent = Upper(keys[i]) + "\\";
            if (Upper(keys[j]).compare(0, parent.size(), parent) == 0) {
                EXPECT_LT(i, j) << keys[i] << " after " << keys[j];
            }
        }
    }
}

TEST(CompareString, CountedLengthsAndEmbeddedZeros) {
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, "abc", 2, "ABx", 2), EQ);
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, "abc", 3, "ABx", 3), LT);
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, "abc", -1, "ab", 2), GT);
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, "a\0b", 3, "a\0c", 3), LT);
    EXPECT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, "", 0, "", -1), EQ);
}

} // namespace
