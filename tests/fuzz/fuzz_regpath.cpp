// The registry path split on any path, and on paths built as the shared-file
// phase builds them (key, backslash, value name in single quotes), whose key
// and value name must come back unchanged whatever they hold.
#include "FuzzSupport.h"
#include "ktRegIni.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace {

const struct {
    const char* abbreviation;
    HKEY key;
} kRoots[] = {{"HKCR", HKEY_CLASSES_ROOT},
              {"HKCU", HKEY_CURRENT_USER},
              {"HKLM", HKEY_LOCAL_MACHINE},
              {"HKU", HKEY_USERS}};

HKEY RootOf(const std::string& keyPart) {
    const std::string first = keyPart.substr(0, keyPart.find('\\'));
    for (const auto& root : kRoots) {
        if (first == root.abbreviation) {
            return root.key;
        }
    }
    return nullptr;
}

// The key part's parts after the first (the root's), split at every
// backslash, empty ones dropped, joined by one backslash: the key part
// HKLM\\A\\B\ names the subkey A\B.
std::string SubKeyOf(const std::string& keyPart) {
    std::string subKey;
    size_t start = keyPart.find('\\');
    while (start != std::string::npos) {
        const size_t end = keyPart.find('\\', start + 1);
        const std::string part = keyPart.substr(start + 1, end - start - 1);
        if (!part.empty()) {
            subKey += (subKey.empty() ? "" : "\\") + part;
        }
        start = end;
    }
    return subKey;
}

void CheckSplit(const std::string& path) {
    const int separator = FindRegPathSeparator(path);
    FUZZ_CHECK(separator >= 0 && separator <= static_cast<int>(path.size()), "separator range");
    const std::string keyPart = ExtractRegKeyPath(path);
    if (separator == 0) {
        FUZZ_CHECK(keyPart.empty(), "no key part without a separator");
    } else {
        FUZZ_CHECK(path[separator - 1] == '\\', "the separator is a backslash");
        FUZZ_CHECK(keyPart == path.substr(0, separator - 1), "the key part precedes it");
    }
    HKEY root = nullptr;
    std::string subKey;
    std::string valueName;
    SplitRegPath(path, root, subKey, valueName);
    FUZZ_CHECK(valueName == ExtractRegValueName(path), "one value name");
    FUZZ_CHECK(root == RootOf(keyPart), "the root is the first component");
    FUZZ_CHECK(subKey == SubKeyOf(keyPart),
               "the subkey is the non-empty parts after the root: " + path + " gave " + subKey);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string path = input.ConsumeRandomLengthString(512);
    CheckSplit(path);

    const std::string key = input.ConsumeRandomLengthString(256);
    const std::string name = input.ConsumeRandomLengthString(256);
    std::string quoted = "'";
    for (char c : name) {
        quoted += c;
        if (c == '\'') {
            quoted += '\'';
        }
    }
    const std::string built = key + "\\" + quoted + "'";
    CheckSplit(built);
    FUZZ_CHECK(ExtractRegKeyPath(built) == key, "the key comes back: " + built);
    FUZZ_CHECK(ExtractRegValueName(built) == name, "the quoted name comes back: " + built);
    return 0;
}
