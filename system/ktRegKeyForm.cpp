// The form in which the guard rails compare a registry key with their
// table: the rules that bring the names of one key, or of its mirrors, to
// one spelling.
#include "ktRegKeyForm.h"

namespace {

std::vector<std::string> SplitKey(const std::string& key) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t slash = key.find('\\', start);
        parts.push_back(key.substr(start, slash - start));
        if (slash == std::string::npos) {
            return parts;
        }
        start = slash + 1;
    }
}

bool IsControlSet(const std::string& part) {
    const std::string stem = "CONTROLSET";
    if (part.size() <= stem.size() || part.compare(0, stem.size(), stem) != 0) {
        return false;
    }
    return part.find_first_not_of("0123456789", stem.size()) == std::string::npos;
}

} // namespace

bool KeyBegins(const std::vector<std::string>& parts, std::initializer_list<const char*> head) {
    if (parts.size() < head.size()) {
        return false;
    }
    size_t i = 0;
    for (const char* part : head) {
        if (parts[i++] != part) {
            return false;
        }
    }
    return true;
}

std::vector<std::string> KeyTableForm(const std::string& canonicalKey) {
    std::vector<std::string> parts = SplitKey(canonicalKey);
    if (parts[0] == "HKU" && parts.size() > 2) {
        const std::string suffix = "_CLASSES";
        const std::string& user = parts[1];
        bool classes = user.size() > suffix.size() &&
                       user.compare(user.size() - suffix.size(), suffix.size(), suffix) == 0;
        parts.erase(parts.begin(), parts.begin() + 2);
        if (classes) {
            parts.insert(parts.begin(), {"HKLM", "SOFTWARE", "CLASSES"});
        } else {
            parts.insert(parts.begin(), "HKCU");
        }
    }
    if ((KeyBegins(parts, {"HKLM", "SOFTWARE", "WOW6432NODE"}) ||
         KeyBegins(parts, {"HKCU", "SOFTWARE", "WOW6432NODE"}))) {
        parts.erase(parts.begin() + 2);
    }
    if (KeyBegins(parts, {"HKCU", "SOFTWARE", "CLASSES"})) {
        parts[0] = "HKLM";
    }
    if (KeyBegins(parts, {"HKLM", "SOFTWARE", "CLASSES", "WOW6432NODE"})) {
        parts.erase(parts.begin() + 3);
    }
    if (KeyBegins(parts, {"HKLM", "SYSTEM"}) && parts.size() > 2 && IsControlSet(parts[2])) {
        parts[2] = "CURRENTCONTROLSET";
    }
    return parts;
}
