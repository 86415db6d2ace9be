// The INI engine's profile rules: lines, headers and names of other programs'
// INI files read as the system's profile functions read them (see TIniRules).
// The line ends are the line reader's (TLineEnds::AtCrOrLf); this is what
// one line holds.
#include "ktIniFile.h"

#include <cstring>

namespace {

// What the profile functions skip around lines, names and values. Ctrl-Z
// (26) counts as a blank, so that a line of it alone is an empty line.
bool IsProfileBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A';
}

// The text between `begin` and `end` without its surrounding blanks.
std::string Trimmed(const std::string& text, size_t begin, size_t end) {
    while (begin < end && IsProfileBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsProfileBlank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

// The value as the profile functions hand it out: one pair of quotes around
// it (double or single, at least two characters) removed.
std::string Unquoted(std::string value) {
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
        value.pop_back();
        value.erase(0, 1);
    }
    return value;
}

} // namespace

size_t TktIniFile::FindChar(const std::string& line, char wanted, size_t from) const {
    const size_t n = line.size();
    if (!doubleByte_) {
        const void* at = from < n ? memchr(line.data() + from, wanted, n - from) : nullptr;
        return at ? static_cast<size_t>(static_cast<const char*>(at) - line.data())
                  : std::string::npos;
    }
    for (size_t i = from; i < n; ++i) {
        if (line[i] == wanted) {
            return i;
        }
        if (leadBytes_[static_cast<unsigned char>(line[i])] && i + 1 < n) {
            ++i;
        }
    }
    return std::string::npos;
}

TktIniFile::TLineKind TktIniFile::ParseProfileLine(std::string& line) const {
    size_t begin = 0;
    while (begin < line.size() && IsProfileBlank(line[begin])) {
        ++begin;
    }
    if (begin == line.size()) {
        return lkSkip;
    }
    if (line[begin] == '[') {
        size_t close = FindChar(line, ']', begin + 1);
        if (close != std::string::npos) {
            // The name as written between the brackets: "[ A ]" is no
            // section "A" to the system.
            line = line.substr(begin + 1, close - begin - 1);
            return lkHeader;
        }
    }
    // Every other line is a key to the system, comments and lines without
    // "=" included (keys with no value): stored as "name=value", so that a
    // lookup by name finds it.
    size_t equals = FindChar(line, '=', begin);
    if (equals == std::string::npos) {
        line = Trimmed(line, begin, line.size()) + "=";
    } else {
        line =
            Trimmed(line, begin, equals) + "=" + Unquoted(Trimmed(line, equals + 1, line.size()));
    }
    return lkEntry;
}

std::string TktIniFile::Asked(const std::string& name) const {
    return rules_ == TIniRules::Profile ? Trimmed(name, 0, name.size()) : name;
}

size_t TktIniFile::ValueStart(const std::string& line) const {
    // A stored profile line has its "=" right after the name, whatever
    // bytes the name holds; an install log line's "=" is found as loading
    // found it.
    size_t equals = rules_ == TIniRules::Profile ? line.find('=') : FindEquals(line, 0, nullptr);
    return equals == std::string::npos ? equals : equals + 1;
}
