// Taking entry lines apart and putting them together: names and values of
// "name=value" lines, comma-separated fields with quotes, unquoting.
// Positions count from 1; every function returns a new string.
#pragma once

#include "ktStringList.h"

#include <cstdint>
#include <string>

// A set of 8-bit characters as 256 bits: character c is a member when bit
// c mod 8 of byte c div 8 is set.
struct CharSet {
    uint8_t bits[32] = {};
    CharSet() = default;
    CharSet(std::initializer_list<unsigned char> members) {
        for (unsigned char c : members) {
            Include(c);
        }
    }
    void Include(unsigned char c) { bits[c / 8] |= static_cast<uint8_t>(1u << (c % 8)); }
    bool Contains(unsigned char c) const { return (bits[c / 8] >> (c % 8)) & 1u; }
};

// The delimiter set every caller passes to GetField.
inline CharSet CommaSet() {
    return CharSet{','};
}

std::string ReplaceAll(const std::string& text, const std::string& find,
                       const std::string& replacement);
std::string RemoveChar(const std::string& text, char c);
std::string TextBefore(const std::string& text, char c);
std::string TextAfter(const std::string& text, char c);
std::string NameOf(const std::string& line);
std::string ValueOf(const std::string& line);
std::string UnquoteText(const std::string& text, char quote);
std::string GetField(int32_t n, const std::string& text, const CharSet& delimiters);
void SetNameValue(TStringList& list, const std::string& name, const std::string& value);

// Integer text as the system reads it: leading blanks skipped; then either an
// optional sign and decimal digits within the signed 32-bit range, or "$" and
// at most eight significant hexadecimal digits taken as a 32-bit pattern;
// nothing may follow. False (value untouched) for anything else.
bool TryStrToInt(const std::string& text, int32_t& value);
