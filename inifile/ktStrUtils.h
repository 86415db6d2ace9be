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

// The text with every occurrence of find replaced, left to right and not
// rescanned; the text unchanged when find is empty.
std::string ReplaceAll(const std::string& text, const std::string& find,
                       const std::string& replacement);
// The text without any byte c.
std::string RemoveChar(const std::string& text, char c);
// The text before the first c; all of it when there is no c.
std::string TextBefore(const std::string& text, char c);
// The text after the first c; "" when there is no c.
std::string TextAfter(const std::string& text, char c);
// The name of a "name=value" line: the text before its first "=".
std::string NameOf(const std::string& line);
// The value of a "name=value" line: the text after its first "="; "" without one.
std::string ValueOf(const std::string& line);
// A text that opens with the quote, up to its closing quote (doubled quotes
// inside give one, the rest after the closing quote is dropped); any other
// text unchanged.
std::string UnquoteText(const std::string& text, char quote);
// Field n (from 1) of the text, split at delimiters outside quotes and
// unquoted from single quotes; "" when the text has fewer fields.
std::string GetField(int32_t n, const std::string& text, const CharSet& delimiters);
// Sets the value of the first line of that name, or appends "name=value".
void SetNameValue(TStringList& list, const std::string& name, const std::string& value);

// Integer text as the system reads it: leading blanks skipped; then either an
// optional sign and decimal digits within the signed 32-bit range, or "$" and
// at most eight significant hexadecimal digits taken as a 32-bit pattern;
// nothing may follow. False (value untouched) for anything else.
bool TryStrToInt(const std::string& text, int32_t& value);
