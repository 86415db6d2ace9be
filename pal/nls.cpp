// National-language support for the one code page the layer knows, 1252:
// upper-casing, lead bytes (none) and the locale comparison.
#include "internal.h"

#include <cstring>
#include <string>
#include <vector>

UINT WINAPI GetACP(void) {
    return 1252;
}

namespace {

unsigned char UpperOf(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) {
        return static_cast<unsigned char>(c - 0x20);
    }
    switch (c) {
    case 0x9A: // s caron
        return 0x8A;
    case 0x9C: // oe
        return 0x8C;
    case 0x9E: // z caron
        return 0x8E;
    case 0xFF: // y diaeresis
        return 0x9F;
    default:
        return c;
    }
}

} // namespace

namespace pal {

char UpperCase(char c) {
    return static_cast<char>(UpperOf(static_cast<unsigned char>(c)));
}

std::string UpperCase(std::string text) {
    for (char& c : text) {
        c = UpperCase(c);
    }
    return text;
}

} // namespace pal

DWORD WINAPI CharUpperBuffA(LPSTR lpsz, DWORD cchLength) {
    if (lpsz == nullptr) {
        return 0;
    }
    for (DWORD i = 0; i < cchLength; ++i) {
        lpsz[i] = static_cast<char>(UpperOf(static_cast<unsigned char>(lpsz[i])));
    }
    return cchLength;
}

BOOL WINAPI IsDBCSLeadByte(BYTE) {
    return FALSE;
}

namespace {

// The comparison works like a sort key in levels: first the letters'
// primary weights (so accents and case do not split words apart), then
// their accents, then their case; word-joining marks (apostrophe, hyphens,
// control characters) count only when all of that is equal.
struct Weight {
    uint16_t primary = 0;   // 0: no primary weight (special or ignorable)
    uint8_t secondary = 0;  // accent, within the primary
    uint8_t tertiary = 0;   // 1 for the upper-case form of a letter
    uint8_t special = 0;    // order among word-joining marks; 0 for others
    bool ignorable = false; // takes no part at all
};

// Primary groups in ascending order. Within a group each string is one
// accent step; the characters of one string differ by case only.
const std::vector<std::vector<const char*>>& PrimaryGroups() {
    static const auto& groups = *new std::vector<std::vector<const char*>>{
        {" "},
        {"\xa0"},
        {"\t"},
        {"\n"},
        {"\x0b"},
        {"\x0c"},
        {"\r"},
        {"!"},
        {"\""},
        {"#"},
        {"$"},
        {"%"},
        {"&"},
        {"("},
        {")"},
        {"*"},
        {","},
        {"."},
        {"/"},
        {":"},
        {";"},
        {"?"},
        {"@"},
        {"["},
        {"\\"},
        {"]"},
        {"^\x88"},
        {"_"},
        {"`"},
        {"{"},
        {"|"},
        {"}"},
        {"~"},
        {"\xa1"},
        {"\xa6"},
        {"\xa8"},
        {"\xaf"},
        {"\xb4"},
        {"\xb8"},
        {"\xbf"},
        {"\x98"},
        {"\x91"},
        {"\x92"},
        {"\x82"},
        {"\x93"},
        {"\x94"},
        {"\x84"},
        {"\x8b"},
        {"\x9b"},
        {"\xa2"},
        {"\xa3"},
        {"\xa4"},
        {"\xa5"},
        {"\x80"},
        {"+"},
        {"<"},
        {"="},
        {">"},
        {"\xb1"},
        {"\xab"},
        {"\xbb"},
        {"\xd7"},
        {"\xf7"},
        {"\xa7"},
        {"\xa9"},
        {"\xac"},
        {"\xae"},
        {"\xb0"},
        {"\xb5"},
        {"\xb6"},
        {"\xb7"},
        {"\x85"},
        {"\x86"},
        {"\x87"},
        {"\x95"},
        {"\x89"},
        {"\x81"},
        {"\x8d"},
        {"\x8f"},
        {"\x90"},
        {"\x9d"},
        {"0"},
        {"\xbc"},
        {"\xbd"},
        {"\xbe"},
        {"1", "\xb9"},
        {"2", "\xb2"},
        {"3", "\xb3"},
        {"4"},
        {"5"},
        {"6"},
        {"7"},
        {"8"},
        {"9"},
        {"aA", "\xaa", "\xe1\xc1", "\xe0\xc0", "\xe2\xc2", "\xe4\xc4", "\xe3\xc3", "\xe5\xc5"},
        {"\xe6\xc6"},
        {"bB"},
        {"cC", "\xe7\xc7"},
        {"dD", "\xf0\xd0"},
        {"eE", "\xe9\xc9", "\xe8\xc8", "\xea\xca", "\xeb\xcb"},
        {"fF", "\x83"},
        {"gG"},
        {"hH"},
        {"iI", "\xed\xcd", "\xec\xcc", "\xee\xce", "\xef\xcf"},
        {"jJ"},
        {"kK"},
        {"lL"},
        {"mM"},
        {"nN", "\xf1\xd1"},
        {"oO", "\xba", "\xf3\xd3", "\xf2\xd2", "\xf4\xd4", "\xf6\xd6", "\xf5\xd5", "\xf8\xd8"},
        {"\x9c\x8c"},
        {"pP"},
        {"qQ"},
        {"rR"},
        {"sS", "\x9a\x8a"},
        {"\xdf"},
        {"tT", "\xfe\xde"},
        {"\x99"},
        {"uU", "\xfa\xda", "\xf9\xd9", "\xfb\xdb", "\xfc\xdc"},
        {"vV"},
        {"wW"},
        {"xX"},
        {"yY", "\xfd\xdd", "\xff\x9f"},
        {"zZ", "\x9e\x8e"},
    };
    return groups;
}

// Word-joining marks, in ascending order of their weight.
const char kSpecials[] = "\x01\x02\x03\x04\x05\x06\x07\x08\x0e\x0f\x10\x11\x12\x13\x14\x15"
                         "\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f\x7f'-\x96\x97";

const Weight* Weights() {
    static const auto& table = *new std::vector<Weight>([] {
        std::vector<Weight> result(256);
        result[0].ignorable = true;
        result[0xAD].ignorable = true; // soft hyphen
        for (size_t i = 0; kSpecials[i] != '\0'; ++i) {
            result[static_cast<unsigned char>(kSpecials[i])].special = static_cast<uint8_t>(i + 1);
        }
        bool hasLower[256] = {};
        for (int c = 0; c < 256; ++c) {
            unsigned char upper = UpperOf(static_cast<unsigned char>(c));
            if (upper != c) {
                hasLower[upper] = true;
            }
        }
        uint16_t primary = 0;
        for (const auto& group : PrimaryGroups()) {
            ++primary;
            uint8_t secondary = 0;
            for (const char* step : group) {
                for (const char* c = step; *c != '\0'; ++c) {
                    auto byte = static_cast<unsigned char>(*c);
                    Weight& weight = result[byte];
                    weight.primary = primary;
                    weight.secondary = secondary;
                    weight.tertiary = hasLower[byte] ? 1 : 0;
                }
                ++secondary;
            }
        }
        return result;
    }());
    return table.data();
}

// Compares one level of the weights, walking past the characters that
// have no primary weight.
int CompareLevel(const char* a, size_t lengthA, const char* b, size_t lengthB, int level) {
    const Weight* weights = Weights();
    size_t i = 0;
    size_t j = 0;
    for (;;) {
        while (i < lengthA && weights[static_cast<unsigned char>(a[i])].primary == 0) {
            ++i;
        }
        while (j < lengthB && weights[static_cast<unsigned char>(b[j])].primary == 0) {
            ++j;
        }
        if (i == lengthA || j == lengthB) {
            return (i == lengthA ? 0 : 1) - (j == lengthB ? 0 : 1);
        }
        const Weight& x = weights[static_cast<unsigned char>(a[i])];
        const Weight& y = weights[static_cast<unsigned char>(b[j])];
        int vx = level == 1 ? x.primary : (level == 2 ? x.secondary : x.tertiary);
        int vy = level == 1 ? y.primary : (level == 2 ? y.secondary : y.tertiary);
        if (vx != vy) {
            return vx < vy ? -1 : 1;
        }
        ++i;
        ++j;
    }
}

// The word-joining marks of a text: (characters with a primary weight
// before it, its weight).
std::vector<std::pair<size_t, uint8_t>> SpecialsOf(const char* text, size_t length) {
    const Weight* weights = Weights();
    std::vector<std::pair<size_t, uint8_t>> result;
    size_t primaries = 0;
    for (size_t i = 0; i < length; ++i) {
        const Weight& weight = weights[static_cast<unsigned char>(text[i])];
        if (weight.primary != 0) {
            ++primaries;
        } else if (weight.special != 0) {
            result.emplace_back(primaries, weight.special);
        }
    }
    return result;
}

int CompareSpecials(const char* a, size_t lengthA, const char* b, size_t lengthB) {
    auto x = SpecialsOf(a, lengthA);
    auto y = SpecialsOf(b, lengthB);
    size_t common = x.size() < y.size() ? x.size() : y.size();
    for (size_t i = 0; i < common; ++i) {
        if (x[i].first != y[i].first) {
            // A mark nearer the start weighs more.
            return x[i].first < y[i].first ? 1 : -1;
        }
        if (x[i].second != y[i].second) {
            return x[i].second < y[i].second ? -1 : 1;
        }
    }
    if (x.size() == y.size()) {
        return 0;
    }
    return x.size() < y.size() ? -1 : 1;
}

// The ligatures that compare as their two letters ("\xdf" as "ss").
const char* ExpansionOf(unsigned char c) {
    switch (c) {
    case 0xDF:
        return "ss";
    case 0xE6:
        return "ae";
    case 0xC6:
        return "AE";
    case 0x9C:
        return "oe";
    case 0x8C:
        return "OE";
    default:
        return nullptr;
    }
}

// Replaces the ligatures of a text by their letters; false when it holds
// none, so that the common case copies nothing.
bool Expand(const char* text, size_t length, std::string& expanded) {
    size_t i = 0;
    while (i < length && ExpansionOf(static_cast<unsigned char>(text[i])) == nullptr) {
        ++i;
    }
    if (i == length) {
        return false;
    }
    expanded.assign(text, i);
    for (; i < length; ++i) {
        const char* letters = ExpansionOf(static_cast<unsigned char>(text[i]));
        if (letters != nullptr) {
            expanded += letters;
        } else {
            expanded += text[i];
        }
    }
    return true;
}

} // namespace

int WINAPI CompareStringA(LCID, DWORD dwCmpFlags, LPCSTR lpString1, int cchCount1, LPCSTR lpString2,
                          int cchCount2) {
    if (lpString1 == nullptr || lpString2 == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t length1 = cchCount1 < 0 ? strlen(lpString1) : static_cast<size_t>(cchCount1);
    size_t length2 = cchCount2 < 0 ? strlen(lpString2) : static_cast<size_t>(cchCount2);
    std::string expanded1;
    std::string expanded2;
    if (Expand(lpString1, length1, expanded1)) {
        lpString1 = expanded1.c_str();
        length1 = expanded1.size();
    }
    if (Expand(lpString2, length2, expanded2)) {
        lpString2 = expanded2.c_str();
        length2 = expanded2.size();
    }
    int result = CompareLevel(lpString1, length1, lpString2, length2, 1);
    if (result == 0) {
        result = CompareLevel(lpString1, length1, lpString2, length2, 2);
    }
    if (result == 0 && !(dwCmpFlags & NORM_IGNORECASE)) {
        result = CompareLevel(lpString1, length1, lpString2, length2, 3);
    }
    if (result == 0) {
        result = CompareSpecials(lpString1, length1, lpString2, length2);
    }
    return result < 0 ? CSTR_LESS_THAN : (result > 0 ? CSTR_GREATER_THAN : CSTR_EQUAL);
}
