// vantrel-reg: the native build's registry in REGEDIT4 text, the form that
// Windows' and Wine's regedit read too, so one file lays out both machines.
//
//   vantrel-reg import FILE.reg     apply a file; all of it or nothing
//   vantrel-reg export [KEY]        print KEY (default: every root) as .reg text
//   vantrel-reg query KEY [VALUE]   print a value, or a key's values and subkeys
//   vantrel-reg protect KEY         make a key resist deletion and writes
//   vantrel-reg unprotect KEY
//
// Keys are written with the long root names ("HKEY_CURRENT_USER\Software")
// or the short ones ("HKCU\Software"). The machine folder is $VANTREL_ROOT.
#include "pal.h"
#include "registry_extras.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Root {
    const char* longName;
    const char* shortName;
    HKEY key;
};

const Root kRoots[] = {
    {"HKEY_LOCAL_MACHINE", "HKLM", HKEY_LOCAL_MACHINE},
    {"HKEY_CURRENT_USER", "HKCU", HKEY_CURRENT_USER},
    {"HKEY_CLASSES_ROOT", "HKCR", HKEY_CLASSES_ROOT},
    {"HKEY_USERS", "HKU", HKEY_USERS},
};

struct KeyName {
    const Root* root = nullptr;
    std::string subKey; // without leading or trailing backslashes
    std::string Text() const {
        return subKey.empty() ? root->longName : std::string(root->longName) + "\\" + subKey;
    }
};

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

bool ParseKeyName(const std::string& text, KeyName& key) {
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

int Import(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::cerr << "vantrel-reg: cannot open " << file << "\n";
        return 1;
    }
    std::vector<Operation> operations;
    try {
        operations = ParseRegFile(in);
    } catch (const ParseError& error) {
        std::cerr << "vantrel-reg: " << file << ":" << error.line << ": " << error.message
                  << "; nothing imported\n";
        return 1;
    }
    pal::RegBatch batch;
    if (!batch.Active()) {
        std::cerr << "vantrel-reg: cannot open the registry store\n";
        return 1;
    }
    for (const Operation& op : operations) {
        LSTATUS rc = Apply(op);
        if (rc != ERROR_SUCCESS) {
            std::cerr << "vantrel-reg: " << file << ":" << op.line << ": " << op.key.Text()
                      << ": error " << rc << "; nothing imported\n";
            return 1;
        }
    }
    if (batch.Commit() != ERROR_SUCCESS) {
        std::cerr << "vantrel-reg: the registry store refused the changes\n";
        return 1;
    }
    return 0;
}

// ---- Exporting -----------------------------------------------------------------

std::string Quote(const std::string& text) {
    std::string result = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') {
            result += '\\';
        }
        result += c;
    }
    return result + "\"";
}

// Whether a string value can be written as "text" and read back the same.
bool PlainString(DWORD type, const std::string& data) {
    if (type != REG_SZ || data.empty() || data.back() != '\0') {
        return false;
    }
    return data.find_first_of(std::string("\0\r\n", 3)) == data.size() - 1;
}

std::string ValueLine(const std::string& name, DWORD type, const std::string& data) {
    std::string line = name.empty() ? "@=" : Quote(name) + "=";
    if (PlainString(type, data)) {
        return line + Quote(data.substr(0, data.size() - 1));
    }
    if (type == REG_DWORD && data.size() == 4) {
        uint32_t number = 0;
        for (int i = 3; i >= 0; --i) {
            number = number * 256 + static_cast<unsigned char>(data[i]);
        }
        char digits[16];
        std::snprintf(digits, sizeof digits, "dword:%08x", number);
        return line + digits;
    }
    if (type == REG_BINARY) {
        line += "hex:";
    } else {
        char prefix[24];
        std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(type));
        line += prefix;
    }
    std::string text = line;
    size_t lineStart = 0;
    for (size_t i = 0; i < data.size(); ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(data[i]));
        text += byte;
        if (i + 1 < data.size()) {
            text += ',';
            if (text.size() - lineStart > 76) {
                text += "\\\n  ";
                lineStart = text.size() - 2;
            }
        }
    }
    return text;
}

bool ExportKey(HKEY root, const std::string& path, const std::string& subKey, std::ostream& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, subKey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    out << "[" << path << "]\n";
    std::vector<char> name(16384);
    std::vector<BYTE> data(4096);
    for (DWORD i = 0;;) {
        DWORD nameSize = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        LSTATUS rc =
            RegEnumValueA(key, i, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize);
        if (rc == ERROR_MORE_DATA) {
            data.resize(dataSize + 1);
            continue;
        }
        if (rc != ERROR_SUCCESS) {
            break;
        }
        out << ValueLine(std::string(name.data(), nameSize), type,
                         std::string(reinterpret_cast<char*>(data.data()), dataSize))
            << "\n";
        ++i;
    }
    out << "\n";
    std::vector<std::string> children;
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = static_cast<DWORD>(name.size());
        if (RegEnumKeyExA(key, i, name.data(), &nameSize, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        children.emplace_back(name.data(), nameSize);
    }
    if (key != root) {
        RegCloseKey(key);
    }
    for (const auto& child : children) {
        std::string childSub = subKey.empty() ? child : subKey + "\\" + child;
        ExportKey(root, path + "\\" + child, childSub, out);
    }
    return true;
}

int Export(const std::vector<std::string>& keys) {
    std::ostringstream out;
    out << "REGEDIT4\n\n";
    if (keys.empty()) {
        // HKEY_CLASSES_ROOT is part of HKEY_LOCAL_MACHINE.
        for (const Root& root : kRoots) {
            if (root.key != HKEY_CLASSES_ROOT) {
                ExportKey(root.key, root.longName, "", out);
            }
        }
    }
    for (const auto& text : keys) {
        KeyName key;
        if (!ParseKeyName(text, key) || !ExportKey(key.root->key, key.Text(), key.subKey, out)) {
            std::cerr << "vantrel-reg: no such key: " << text << "\n";
            return 1;
        }
    }
    std::cout << out.str();
    return 0;
}

int Query(const std::string& keyText, const std::string* valueName) {
    KeyName key;
    HKEY handle = nullptr;
    if (!ParseKeyName(keyText, key) ||
        RegOpenKeyExA(key.root->key, key.subKey.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        std::cerr << "vantrel-reg: no such key: " << keyText << "\n";
        return 1;
    }
    int result = 0;
    if (valueName) {
        std::string name = *valueName == "@" ? std::string() : *valueName;
        DWORD type = 0;
        DWORD size = 0;
        if (RegQueryValueExA(handle, name.c_str(), nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS) {
            std::cerr << "vantrel-reg: no such value: " << *valueName << "\n";
            result = 1;
        } else {
            std::vector<BYTE> data(size + 1);
            RegQueryValueExA(handle, name.c_str(), nullptr, &type, data.data(), &size);
            std::cout << ValueLine(name, type,
                                   std::string(reinterpret_cast<char*>(data.data()), size))
                      << "\n";
        }
    } else {
        std::ostringstream out;
        ExportKey(key.root->key, key.Text(), key.subKey, out);
        // Only the key's own block: its values.
        std::string text = out.str();
        size_t end = text.find("\n\n");
        std::cout << text.substr(0, end == std::string::npos ? text.size() : end + 1);
        char name[1024];
        for (DWORD i = 0;; ++i) {
            DWORD size = sizeof name;
            if (RegEnumKeyExA(handle, i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                break;
            }
            std::cout << std::string(name, size) << "\\\n";
        }
    }
    if (handle != key.root->key) {
        RegCloseKey(handle);
    }
    return result;
}

int Protect(const std::string& keyText, bool protect) {
    KeyName key;
    if (!ParseKeyName(keyText, key) || key.subKey.empty() ||
        pal::RegProtectKey(key.root->key, key.subKey.c_str(), protect) != ERROR_SUCCESS) {
        std::cerr << "vantrel-reg: no such key: " << keyText << "\n";
        return 1;
    }
    return 0;
}

int Usage() {
    std::cerr << "usage: vantrel-reg import FILE.reg\n"
                 "       vantrel-reg export [KEY...]\n"
                 "       vantrel-reg query KEY [VALUE]   (VALUE @ for the default value)\n"
                 "       vantrel-reg protect KEY\n"
                 "       vantrel-reg unprotect KEY\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        return Usage();
    }
    const std::string& command = args[0];
    if (command == "import" && args.size() == 2) {
        return Import(args[1]);
    }
    if (command == "export") {
        return Export(std::vector<std::string>(args.begin() + 1, args.end()));
    }
    if (command == "query" && (args.size() == 2 || args.size() == 3)) {
        return Query(args[1], args.size() == 3 ? &args[2] : nullptr);
    }
    if ((command == "protect" || command == "unprotect") && args.size() == 2) {
        return Protect(args[1], command == "protect");
    }
    return Usage();
}
