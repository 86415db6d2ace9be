// Path helpers: the trailing backslash of a folder name, the short form of
// a path, device names and the Windows folder.
#include "ktFileUtils.h"

#include <vector>

std::string AddBackslash(const std::string& path) {
    // The test is on the last byte, not on the last character of a
    // multi-byte code page.
    if (!path.empty() && path.back() != '\\') {
        return path + '\\';
    }
    return path;
}

std::string RemoveBackslash(const std::string& path) {
    if (path.size() <= 1) {
        return path;
    }
    // Find where the last character starts, so that a trail byte equal to a
    // backslash is not taken for one.
    size_t last = 0;
    for (size_t i = 0; i < path.size(); ++i) {
        last = i;
        if (IsDBCSLeadByte(static_cast<BYTE>(path[i])) && i + 1 < path.size()) {
            ++i;
        }
    }
    if (last != path.size() - 1 || path[last] != '\\') {
        return path;
    }
    unsigned char drive = static_cast<unsigned char>(path[0]);
    bool isLetter = (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
    if (path.size() == 3 && isLetter && path[1] == ':') {
        return path;
    }
    return path.substr(0, path.size() - 1);
}

std::string GetShortPath(const std::string& path) {
    std::vector<char> buffer(MAX_PATH);
    DWORD length =
        GetShortPathNameA(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length >= buffer.size()) {
        // Too long for the buffer: the call told the size it needs.
        buffer.resize(length + 1);
        length = GetShortPathNameA(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length >= buffer.size()) {
            return path;
        }
    }
    if (length == 0) {
        return path;
    }
    return std::string(buffer.data());
}

bool IsDeviceName(const std::string& path) {
    size_t start = path.find_last_of("\\/:");
    std::string name = path.substr(start == std::string::npos ? 0 : start + 1);
    // Windows ignores what follows the first dot, and blanks before it.
    name = name.substr(0, name.find('.'));
    size_t end = name.find_last_not_of(' ');
    name.erase(end == std::string::npos ? 0 : end + 1);
    for (char& c : name) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    if (name == "CON" || name == "PRN" || name == "AUX" || name == "NUL") {
        return true;
    }
    return name.size() == 4 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "LPT") == 0) &&
           name[3] >= '1' && name[3] <= '9';
}

std::string GetWindowsDir() {
    std::vector<char> buffer(MAX_PATH + 1);
    UINT length = GetWindowsDirectoryA(buffer.data(), static_cast<UINT>(buffer.size()));
    if (length >= buffer.size()) {
        buffer.resize(length + 1);
        length = GetWindowsDirectoryA(buffer.data(), static_cast<UINT>(buffer.size()));
    }
    if (length == 0 || length >= buffer.size()) {
        return {};
    }
    return std::string(buffer.data(), length);
}

std::string RestartListFile() {
    return AddBackslash(GetWindowsDir()) + "wininit.ini";
}
