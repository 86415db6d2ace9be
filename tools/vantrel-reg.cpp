// vantrel-reg: the native build's registry in REGEDIT4 text, the form that
// Windows' and Wine's regedit read too, so one file lays out both machines.
//
//   vantrel-reg import FILE.reg     apply a file; all of it or nothing
//   vantrel-reg export [KEY]        print KEY (default: every root) as .reg text
//   vantrel-reg query KEY [VALUE]   print a value, or a key's values and subkeys
//   vantrel-reg protect KEY         make a key resist deletion and writes
//   vantrel-reg unprotect KEY
//   vantrel-reg restart             carry out the restart-time list of file
//                                   renames and deletions, as a restart would
//
// Keys are written with the long root names ("HKEY_CURRENT_USER\Software")
// or the short ones ("HKCU\Software"). The machine folder is $VANTREL_ROOT.
#include "pal_registry_extras.h"
#include "regtext.h"
#include "restartlist.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using regtext::KeyName;
using regtext::kRoots;
using regtext::ParseKeyName;
using regtext::Root;

int Import(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::cerr << "vantrel-reg: cannot open " << file << "\n";
        return 1;
    }
    return regtext::ImportRegText(in, file, std::cerr);
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
                 "       vantrel-reg unprotect KEY\n"
                 "       vantrel-reg restart\n";
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
    if (command == "restart" && args.size() == 1) {
        std::cout << CarryOutRestartList() << " carried out\n";
        return 0;
    }
    return Usage();
}
