#include "ktStrUtils.h"

#include "winapi.h"

std::string ReplaceAll(const std::string& text, const std::string& find,
                       const std::string& replacement) {
    if (find.empty()) {
        return text;
    }
    std::string result;
    size_t rest = 0;
    for (;;) {
        size_t at = text.find(find, rest);
        if (at == std::string::npos) {
            break;
        }
        result.append(text, rest, at - rest);
        result += replacement;
        rest = at + find.size();
    }
    result.append(text, rest, std::string::npos);
    return result;
}

std::string RemoveChar(const std::string& text, char c) {
    std::string result;
    result.reserve(text.size());
    for (char ch : text) {
        if (ch != c) {
            result += ch;
        }
    }
    return result;
}

std::string TextBefore(const std::string& text, char c) {
    size_t at = text.find(c);
    return at == std::string::npos ? text : text.substr(0, at);
}

std::string TextAfter(const std::string& text, char c) {
    size_t at = text.find(c);
    return at == std::string::npos ? std::string() : text.substr(at + 1);
}

std::string NameOf(const std::string& line) {
    return TextBefore(line, '=');
}

std::string ValueOf(const std::string& line) {
    return TextAfter(line, '=');
}

std::string UnquoteText(const std::string& text, char quote) {
    if (text.empty() || text[0] != quote) {
        return text;
    }
    // The scan walks characters, not bytes, so that a trail byte equal to the
    // quote is not taken for one; like a C string it ends at a NUL byte.
    std::string result;
    size_t i = 1;
    const size_t n = text.size();
    while (i < n && text[i] != '\0') {
        unsigned char b = static_cast<unsigned char>(text[i]);
        if (IsDBCSLeadByte(b) && i + 1 < n && text[i + 1] != '\0') {
            result.append(text, i, 2);
            i += 2;
            continue;
        }
        if (text[i] == quote) {
            if (i + 1 < n && text[i + 1] == quote) {
                result += quote;
                i += 2;
                continue;
            }
            break;
        }
        result += text[i];
        ++i;
    }
    return result;
}

namespace {
// The quote state of a GetField scan.
struct QuoteState {
    bool inQuotes = false;
    char opener = 0;
    // Returns true when c separates fields.
    bool Step(char c, const CharSet& delimiters) {
        if (c == '"' || c == '\'') {
            if (!inQuotes) {
                inQuotes = true;
                opener = c;
            } else if (c == opener) {
                inQuotes = false;
            }
        }
        return !inQuotes && delimiters.Contains(static_cast<unsigned char>(c));
    }
};
} // namespace

std::string GetField(int32_t n, const std::string& text, const CharSet& delimiters) {
    QuoteState state;
    size_t pos = 0;
    int32_t counter = 1;
    while (pos < text.size() && counter < n) {
        if (state.Step(text[pos], delimiters)) {
            ++counter;
        }
        ++pos;
    }
    if (counter < n) {
        // The text ran out before the field began.
        return std::string();
    }
    state.inQuotes = false;
    std::string field;
    for (; pos < text.size(); ++pos) {
        if (state.Step(text[pos], delimiters)) {
            break;
        }
        field += text[pos];
    }
    return UnquoteText(field, '\'');
}

void SetNameValue(TStringList& list, const std::string& name, const std::string& value) {
    // The list's name index finds the first line with this name without a
    // walk over the list, so filling a list line by line stays linear.
    int at = list.IndexOfName(name);
    std::string line = name + "=" + value;
    if (at >= 0) {
        list.Set(at, line);
    } else {
        list.Add(line);
    }
}

namespace {
int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}
} // namespace

bool TryStrToInt(const std::string& text, int32_t& value) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    if (i == text.size()) {
        return false;
    }
    if (text[i] == '$') {
        ++i;
        if (i == text.size()) {
            return false;
        }
        // Leading zeros are not significant.
        while (i + 1 < text.size() && text[i] == '0') {
            ++i;
        }
        if (text.size() - i > 8) {
            return false;
        }
        uint32_t result = 0;
        for (; i < text.size(); ++i) {
            int d = HexDigit(text[i]);
            if (d < 0) {
                return false;
            }
            result = result * 16 + static_cast<uint32_t>(d);
        }
        value = static_cast<int32_t>(result);
        return true;
    }
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) {
        return false;
    }
    int64_t result = 0;
    const int64_t limit = negative ? int64_t{1} << 31 : (int64_t{1} << 31) - 1;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        result = result * 10 + (text[i] - '0');
        if (result > limit) {
            return false;
        }
    }
    value = static_cast<int32_t>(negative ? -result : result);
    return true;
}
