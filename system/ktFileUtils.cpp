// Path helpers: the trailing backslash of a folder name.
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
