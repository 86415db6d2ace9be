// How the INI engine reads one line of its file, by the install log's rules
// and by the profile rules (see TIniRules): a header, an entry in its stored
// form, or nothing. The line ends are the line reader's (ktLineFile).
#include "ktIniFile.h"

#include "winapi.h"

#include <cstring>
#include <vector>

namespace {

bool IsBlankOrTab(char c) {
    return c == ' ' || c == '\t';
}

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

void TktIniFile::ReadLeadBytes() {
    doubleByte_ = false;
    for (int b = 0; b < 256; ++b) {
        leadBytes_[b] = IsDBCSLeadByte(static_cast<BYTE>(b)) != FALSE;
        doubleByte_ = doubleByte_ || leadBytes_[b];
    }
}

size_t TktIniFile::FindEquals(const std::string& line, size_t from,
                              std::vector<size_t>* starts) const {
    const size_t n = line.size();
    if (!doubleByte_) {
        // Every byte is a character: the first "=" before any NUL.
        const char* base = line.data();
        const void* eq = from < n ? memchr(base + from, '=', n - from) : nullptr;
        if (!eq) {
            return std::string::npos;
        }
        size_t at = static_cast<const char*>(eq) - base;
        if (memchr(base + from, '\0', at - from)) {
            return std::string::npos;
        }
        return at;
    }
    size_t i = from;
    while (i < n && line[i] != '\0') {
        if (starts) {
            starts->push_back(i);
        }
        if (line[i] == '=') {
            return i;
        }
        if (leadBytes_[static_cast<unsigned char>(line[i])] && i + 1 < n && line[i + 1] != '\0') {
            i += 2;
        } else {
            ++i;
        }
    }
    return std::string::npos;
}

TktIniFile::TLineKind TktIniFile::ParseLine(std::string& line) const {
    if (rules_ == TIniRules::Profile) {
        return ParseProfileLine(line);
    }
    if (line.size() == 1 && line[0] == '\x1A') {
        return lkSkip;
    }
    if (line.empty() || (ignoreComments_ && line[0] == ';')) {
        return lkSkip;
    }
    if (line[0] == '[' && line.back() == ']') {
        line = line.substr(1, line.size() - 2);
        return lkHeader;
    }
    if (trimAroundEquals_) {
        if (!doubleByte_) {
            size_t p = FindEquals(line, 0, nullptr);
            if (p != std::string::npos) {
                size_t k = p;
                while (k > 0 && IsBlankOrTab(line[k - 1])) {
                    --k;
                }
                line.erase(k, p - k);
            }
        } else {
            // Deleting a byte can make an "=" the trail byte of the character
            // before it, so the search restarts after each deletion; it
            // resumes at the last character start before the deleted byte.
            std::vector<size_t> starts;
            size_t p = FindEquals(line, 0, &starts);
            while (p != std::string::npos && p >= 1 && IsBlankOrTab(line[p - 1])) {
                line.erase(p - 1, 1);
                while (!starts.empty() && starts.back() > p - 1) {
                    starts.pop_back();
                }
                size_t from = 0;
                if (!starts.empty()) {
                    from = starts.back();
                    starts.pop_back();
                }
                p = FindEquals(line, from, &starts);
            }
        }
        size_t p = FindEquals(line, 0, nullptr);
        if (p != std::string::npos && p >= 1) {
            size_t e = p + 1;
            while (e < line.size() && IsBlankOrTab(line[e])) {
                ++e;
            }
            line.erase(p + 1, e - p - 1);
        }
    }
    if (trimTrailing_) {
        size_t end = line.size();
        while (end > 0 && static_cast<unsigned char>(line[end - 1]) < 33) {
            --end;
        }
        line.resize(end);
    }
    if (stripValueQuotes_) {
        size_t p = FindEquals(line, 0, nullptr);
        if (p != std::string::npos && p >= 1 && line.size() > p + 2) {
            char q = line[p + 1];
            if ((q == '"' || q == '\'') && line.back() == q) {
                line.pop_back();
                line.erase(p + 1, 1);
            }
        }
    }
    if (nameValueOnly_ && FindEquals(line, 0, nullptr) == std::string::npos) {
        return lkSkip;
    }
    return lkEntry;
}

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
