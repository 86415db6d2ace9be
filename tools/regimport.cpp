// Parsing REGEDIT4 text into operations, and applying them to the registry
// in one batch, so that a text with any error changes nothing.
#include "regtext.h"

#include "pal_registry_extras.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <istream>
#include <ostream>
#include <vector>

namespace regtext {

const Root kRoots[4] = {
    {"HKEY_LOCAL_MACHINE", "HKLM", HKEY_LOCAL_MACHINE},
    {"HKEY_CURRENT_USER", "HKCU", HKEY_CURRENT_USER},
    {"HKEY_CLASSES_ROOT", "HKCR", HKEY_CLASSES_ROOT},
    {"HKEY_USERS", "HKU", HKEY_USERS},
};

namespace {

bool SameTextAscii(const std::string& a, const char* b) {
    if (a.size() != std::strlen(b)) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

} // namespace

bool ParseKeyName(const std::string& text, KeyName& key) {
    // The registry calls take names as C strings: a NUL would cut the name
    // short and name another key.
    if (text.find('\0') != std::string::npos) {
        return false;
    }
    size_t slash = text.find('\\');
    std::string rootText = text.substr(0, slash);
    key.root = nullptr;
    for (const Root& root : kRoots) {
        if (SameTextAscii(rootText, root.longName) || SameTextAscii(rootText, root.shortName)) {
            key.root = &root;
        }
    }
    if (!key.root) {
        return false;
    }
    key.subKey = slash == std::string::npos ? std::string() : text.substr(slash + 1);
    while (!key.subKey.empty() && key.subKey.back() == '\\') {
        key.subKey.pop_back();
    }
    return key.subKey.empty() || key.subKey[0] != '\\';
}

namespace {

// ---- Parsing ---------------------------------------------------------------

struct Operation {
    enum Kind { CreateKey, DeleteKey, SetValue, DeleteValue } kind;
    KeyName key;
    std::string name;
    DWORD type = REG_NONE;
    std::string data;
    int line = 0;
};

struct ParseError {
    int line;
    std::string message;
};

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

std::string TrimRight(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

std::string TrimLeft(const std::string& text) {
    size_t start = text.find_first_not_of(" \t");
    return start == std::string::npos ? std::string() : text.substr(start);
}

// A quoted string from text[pos] (the opening quote); pos ends after the
// closing quote.
std::string ParseQuoted(const std::string& text, size_t& pos, int line) {
    std::string result;
    for (++pos; pos < text.size(); ++pos) {
        char c = text[pos];
        if (c == '"') {
            ++pos;
            return result;
        }
        if (c == '\\') {
            if (++pos >= text.size()) {
                break;
            }
            switch (text[pos]) {
            case '\\':
                result += '\\';
                break;
            case '"':
                result += '"';
                break;
            case 'n':
                result += '\n';
                break;
            case 'r':
                result += '\r';
                break;
            default:
                throw ParseError{line, std::string("unknown escape \\") + text[pos]};
            }
        } else {
            result += c;
        }
    }
    throw ParseError{line, "missing closing quote"};
}

std::string ParseHexBytes(const std::string& text, int line) {
    std::string bytes;
    size_t pos = 0;
    auto skipBlanks = [&] {
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) {
            ++pos;
        }
    };
    skipBlanks();
    if (pos == text.size()) {
        return bytes;
    }
    for (;;) {
        skipBlanks();
        int high = pos < text.size() ? HexDigit(text[pos]) : -1;
        int low = pos + 1 < text.size() ? HexDigit(text[pos + 1]) : -1;
        if (high < 0) {
            throw ParseError{line, "expected a hexadecimal byte"};
        }
        if (low < 0) {
            bytes += static_cast<char>(high);
            pos += 1;
        } else {
            bytes += static_cast<char>(high * 16 + low);
            pos += 2;
        }
        skipBlanks();
        if (pos == text.size()) {
            return bytes;
        }
        if (text[pos] != ',') {
            throw ParseError{line, "expected a comma between bytes"};
        }
        ++pos;
        skipBlanks();
        if (pos == text.size()) {
            return bytes; // a trailing comma is harmless
        }
    }
}

void ParseValue(const std::string& text, const KeyName& key, int line,
                std::vector<Operation>& operations) {
    Operation op{Operation::SetValue, key, "", REG_NONE, "", line};
    size_t pos = 0;
    if (text[0] == '@') {
        pos = 1;
    } else {
        op.name = ParseQuoted(text, pos, line);
        if (op.name.find('\0') != std::string::npos) {
            throw ParseError{line, "a NUL byte in the value name"};
        }
    }
    std::string rest = TrimLeft(text.substr(pos));
    if (rest.empty() || rest[0] != '=') {
        throw ParseError{line, "expected '=' after the value name"};
    }
    rest = TrimLeft(rest.substr(1));
    if (rest == "-") {
        op.kind = Operation::DeleteValue;
    } else if (!rest.empty() && rest[0] == '"') {
        size_t end = 0;
        op.type = REG_SZ;
        op.data = ParseQuoted(rest, end, line);
        op.data += '\0';
        if (!TrimLeft(rest.substr(end)).empty()) {
            throw ParseError{line, "unexpected text after the string"};
        }
    } else if (rest.compare(0, 6, "dword:") == 0) {
        std::string digits = rest.substr(6);
        if (digits.empty() || digits.size() > 8) {
            throw ParseError{line, "a dword needs 1 to 8 hexadecimal digits"};
        }
        uint32_t number = 0;
        for (char c : digits) {
            int digit = HexDigit(c);
            if (digit < 0) {
                throw ParseError{line, "a dword needs 1 to 8 hexadecimal digits"};
            }
            number = number * 16 + static_cast<uint32_t>(digit);
        }
        op.type = REG_DWORD;
        for (int i = 0; i < 4; ++i) {
            op.data += static_cast<char>((number >> (8 * i)) & 0xff);
        }
    } else if (rest.compare(0, 4, "hex:") == 0) {
        op.type = REG_BINARY;
        op.data = ParseHexBytes(rest.substr(4), line);
    } else if (rest.compare(0, 4, "hex(") == 0) {
        size_t close = rest.find("):");
        std::string digits = close == std::string::npos ? "" : rest.substr(4, close - 4);
        if (digits.empty() || digits.size() > 8) {
            throw ParseError{line, "expected hex(TYPE): with a hexadecimal type"};
        }
        DWORD type = 0;
        for (char c : digits) {
            int digit = HexDigit(c);
            if (digit < 0) {
                throw ParseError{line, "expected hex(TYPE): with a hexadecimal type"};
            }
            type = type * 16 + static_cast<DWORD>(digit);
        }
        op.type = type;
        op.data = ParseHexBytes(rest.substr(close + 2), line);
    } else {
        throw ParseError{line, "unknown value data: " + rest};
    }
    operations.push_back(op);
}

// A value line whose data is hex bytes, which may continue on the next line.
bool IsHexValueLine(const std::string& line) {
    std::string trimmed = TrimLeft(line);
    return !trimmed.empty() && (trimmed[0] == '"' || trimmed[0] == '@') &&
           trimmed.find("=hex") != std::string::npos;
}

std::vector<Operation> ParseRegFile(std::istream& in) {
    std::vector<Operation> operations;
    std::string raw;
    int lineNumber = 0;
    bool sawHeader = false;
    bool haveKey = false;
    bool keyDeleted = false;
    KeyName key;
    while (std::getline(in, raw)) {
        ++lineNumber;
        int startLine = lineNumber;
        std::string line = TrimRight(raw);
        if (lineNumber == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) {
            line = line.substr(3);
        }
        // Hex data continues over lines that end in a backslash.
        while (!line.empty() && line.back() == '\\' && IsHexValueLine(line)) {
            line.pop_back();
            if (!std::getline(in, raw)) {
                throw ParseError{startLine, "the data ends in a continuation"};
            }
            ++lineNumber;
            line += TrimLeft(TrimRight(raw));
        }
        if (!sawHeader) {
            if (line.empty()) {
                continue;
            }
            if (line != "REGEDIT4") {
                throw ParseError{startLine, "the file does not begin with REGEDIT4"};
            }
            sawHeader = true;
            continue;
        }
        std::string trimmed = TrimLeft(line);
        if (trimmed.empty() || trimmed[0] == ';') {
            continue;
        }
        if (trimmed[0] == '[') {
            if (trimmed.back() != ']') {
                throw ParseError{startLine, "a key line must end in ']'"};
            }
            std::string inner = trimmed.substr(1, trimmed.size() - 2);
            keyDeleted = !inner.empty() && inner[0] == '-';
            if (keyDeleted) {
                inner = inner.substr(1);
            }
            if (!ParseKeyName(inner, key)) {
                throw ParseError{startLine, "unknown root or bad key path: " + inner};
            }
            if (keyDeleted && key.subKey.empty()) {
                throw ParseError{startLine, "a root key cannot be deleted"};
            }
            haveKey = true;
            operations.push_back({keyDeleted ? Operation::DeleteKey : Operation::CreateKey, key, "",
                                  0, "", startLine});
            continue;
        }
        if (trimmed[0] == '"' || trimmed[0] == '@') {
            if (!haveKey || keyDeleted) {
                throw ParseError{startLine, "a value line outside a key"};
            }
            ParseValue(trimmed, key, startLine, operations);
            continue;
        }
        throw ParseError{startLine, "unexpected line: " + trimmed};
    }
    if (!sawHeader) {
        throw ParseError{lineNumber, "the file does not begin with REGEDIT4"};
    }
    return operations;
}

// ---- Applying ----------------------------------------------------------------

LSTATUS DeleteTree(HKEY root, const std::string& subKey) {
    HKEY key = nullptr;
    LSTATUS rc = RegOpenKeyExA(root, subKey.c_str(), 0, KEY_ALL_ACCESS, &key);
    if (rc == ERROR_FILE_NOT_FOUND) {
        return ERROR_SUCCESS;
    }
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    std::vector<std::string> children;
    char name[1024];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        children.emplace_back(name, size);
    }
    RegCloseKey(key);
    for (const auto& child : children) {
        rc = DeleteTree(root, subKey + "\\" + child);
        if (rc != ERROR_SUCCESS) {
            return rc;
        }
    }
    return RegDeleteKeyA(root, subKey.c_str());
}

LSTATUS Apply(const Operation& op) {
    HKEY root = op.key.root->key;
    if (op.kind == Operation::DeleteKey) {
        return DeleteTree(root, op.key.subKey);
    }
    HKEY key = nullptr;
    LSTATUS rc = op.kind == Operation::DeleteValue
                     ? RegOpenKeyExA(root, op.key.subKey.c_str(), 0, KEY_ALL_ACCESS, &key)
                     : RegCreateKeyA(root, op.key.subKey.c_str(), &key);
    if (rc != ERROR_SUCCESS) {
        return op.kind == Operation::DeleteValue && rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
    }
    if (op.kind == Operation::SetValue) {
        // A byte that is not NUL after the data, so that a string stored
        // without its NUL stays so.
        std::string buffer = op.data + '\x01';
        rc = RegSetValueExA(key, op.name.c_str(), 0, op.type,
                            reinterpret_cast<const BYTE*>(buffer.data()),
                            static_cast<DWORD>(op.data.size()));
    } else if (op.kind == Operation::DeleteValue) {
        rc = RegDeleteValueA(key, op.name.c_str());
        if (rc == ERROR_FILE_NOT_FOUND) {
            rc = ERROR_SUCCESS;
        }
    }
    if (key != root) {
        RegCloseKey(key);
    }
    return rc;
}

} // namespace

int ImportRegText(std::istream& in, const std::string& name, std::ostream& errors) {
    std::vector<Operation> operations;
    try {
        operations = ParseRegFile(in);
    } catch (const ParseError& error) {
        errors << "vantrel-reg: " << name << ":" << error.line << ": " << error.message
               << "; nothing imported\n";
        return 1;
    }
    pal::RegBatch batch;
    if (!batch.Active()) {
        errors << "vantrel-reg: cannot open the registry store\n";
        return 1;
    }
    for (const Operation& op : operations) {
        LSTATUS rc = Apply(op);
        if (rc != ERROR_SUCCESS) {
            errors << "vantrel-reg: " << name << ":" << op.line << ": " << op.key.Text()
                   << ": error " << rc << "; nothing imported\n";
            return 1;
        }
    }
    if (batch.Commit() != ERROR_SUCCESS) {
        errors << "vantrel-reg: the registry store refused the changes\n";
        return 1;
    }
    return 0;
}

} // namespace regtext
