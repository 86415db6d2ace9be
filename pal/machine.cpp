// Where the simulated Windows machine lives and how Windows paths map onto
// it: drive X: is the folder drive_x below the machine root, and names
// resolve without regard to letter case when the exact name is missing.
#include "internal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace pal {

namespace {

void MakeDirs(const std::string& path) {
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos == path.size() || path[pos] == '/') {
            mkdir(path.substr(0, pos).c_str(), 0777);
        }
    }
}

std::string CurrentNativeDirectory() {
    std::vector<char> buffer(4096);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) {
            return "/";
        }
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

// A path taken apart lexically: the floor it cannot climb above (a drive
// folder or the native root) and the components below it, with "." and ".."
// already applied.
struct ParsedPath {
    bool valid = false;
    char drive = 0; // lower-case letter, or 0 for a native path
    std::vector<std::string> parts;
    bool trailingSeparator = false;
};

void AppendParts(const std::string& text, std::vector<std::string>& parts) {
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = start;
        while (end < text.size() && !IsSeparator(text[end])) {
            ++end;
        }
        std::string part = text.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
}

ParsedPath ParseCurrentDirectory() {
    ParsedPath result;
    result.valid = true;
    std::string windows = WindowsPath(CurrentNativeDirectory());
    if (windows.size() >= 2 && windows[1] == ':') {
        result.drive = static_cast<char>(tolower(static_cast<unsigned char>(windows[0])));
        AppendParts(windows.substr(2), result.parts);
    } else {
        AppendParts(windows, result.parts);
    }
    return result;
}

ParsedPath Parse(const char* path) {
    ParsedPath result;
    if (path == nullptr || *path == '\0') {
        return result;
    }
    std::string text = path;
    if (text.size() >= 6 && text.compare(0, 2, "\\\\") == 0 && (text[2] == '?' || text[2] == '.') &&
        text[3] == '\\' && IsDriveLetter(text[4]) && text[5] == ':') {
        text.erase(0, 4); // \\?\X:\a and \\.\X:\a name X:\a
    }
    std::string rest;
    if (text[0] == '/') {
        // A native path, used as it is.
        result.valid = true;
        rest = text;
    } else if (text.size() >= 2 && IsDriveLetter(text[0]) && text[1] == ':') {
        char drive = static_cast<char>(tolower(static_cast<unsigned char>(text[0])));
        rest = text.substr(2);
        if (rest.empty() || !IsSeparator(rest[0])) {
            // "X:name" is relative to the current directory when that lies on
            // drive X, and to the drive's root otherwise.
            ParsedPath current = ParseCurrentDirectory();
            if (current.drive == drive) {
                result = current;
            }
        }
        result.valid = true;
        result.drive = drive;
    } else if (text.size() >= 2 && IsSeparator(text[0]) && IsSeparator(text[1])) {
        return result; // UNC names reach no drive of this machine
    } else if (text[0] == '\\') {
        ParsedPath current = ParseCurrentDirectory();
        result.valid = true;
        result.drive = current.drive != 0 ? current.drive : 'c';
        rest = text;
    } else {
        result = ParseCurrentDirectory();
        rest = text;
    }
    AppendParts(rest, result.parts);
    result.trailingSeparator = !rest.empty() && IsSeparator(rest.back()) && !result.parts.empty();
    return result;
}

std::string FloorOf(const ParsedPath& parsed) {
    if (parsed.drive == 0) {
        return "";
    }
    return MachineRoot() + "/drive_" + parsed.drive;
}

} // namespace

const std::string& MachineRoot() {
    static const auto& root = *new std::string([] {
        std::string path;
        const char* configured = getenv("VANTREL_ROOT");
        if (configured != nullptr && *configured != '\0') {
            path = configured;
        } else {
            const char* home = getenv("HOME");
            path = std::string(home != nullptr && *home != '\0' ? home : "/tmp") +
                   "/.local/share/vantrel/machine";
        }
        if (path[0] != '/') {
            path = CurrentNativeDirectory() + "/" + path;
        }
        while (path.size() > 1 && path.back() == '/') {
            path.pop_back();
        }
        MakeDirs(path + "/drive_c/windows");
        MakeDirs(path + "/drive_c/temp");
        // The form getcwd() reports, so the current directory maps back to a drive.
        if (char* real = realpath(path.c_str(), nullptr)) {
            path = real;
            free(real);
        }
        return path;
    }());
    return root;
}

std::string NativePath(const char* windowsPath) {
    ParsedPath parsed = Parse(windowsPath);
    if (!parsed.valid) {
        return "";
    }
    std::string floor = FloorOf(parsed);
    std::string literal = floor;
    for (const auto& part : parsed.parts) {
        literal += "/" + part;
    }
    if (literal.empty()) {
        literal = "/";
    }
    if (!Exists(literal)) {
        // Walk down, trading each missing name for the one the folder holds
        // under another letter case; below a missing folder names stay.
        std::string resolved = floor;
        bool missing = false;
        for (const auto& part : parsed.parts) {
            std::string candidate = resolved + "/" + part;
            std::string actual;
            if (!missing && !Exists(candidate)) {
                if (FindNameIn(resolved, part, actual)) {
                    candidate = resolved + "/" + actual;
                } else {
                    missing = true;
                }
            }
            resolved = candidate;
        }
        literal = resolved.empty() ? "/" : resolved;
    }
    if (parsed.trailingSeparator) {
        literal += "/";
    }
    return literal;
}

std::string FullWindowsPath(const char* path) {
    ParsedPath parsed = Parse(path);
    if (!parsed.valid) {
        return path == nullptr ? "" : path;
    }
    std::string result;
    if (parsed.drive != 0) {
        result = std::string(1, static_cast<char>(toupper(parsed.drive))) + ":";
        for (const auto& part : parsed.parts) {
            result += "\\" + part;
        }
        if (parsed.parts.empty() || parsed.trailingSeparator) {
            result += "\\";
        }
    } else {
        for (const auto& part : parsed.parts) {
            result += "/" + part;
        }
        if (result.empty() || parsed.trailingSeparator) {
            result += "/";
        }
    }
    return result;
}

std::string WindowsPath(const std::string& nativePath) {
    const std::string& root = MachineRoot();
    std::string prefix = root + "/drive_";
    if (nativePath.compare(0, prefix.size(), prefix) != 0 ||
        nativePath.size() < prefix.size() + 1) {
        return nativePath;
    }
    char drive = nativePath[prefix.size()];
    size_t restAt = prefix.size() + 1;
    if (!IsDriveLetter(drive) || (nativePath.size() > restAt && nativePath[restAt] != '/')) {
        return nativePath;
    }
    std::string result = std::string(1, static_cast<char>(toupper(drive))) + ":";
    std::string rest = nativePath.substr(restAt);
    for (char c : rest) {
        result += c == '/' ? '\\' : c;
    }
    if (rest.empty()) {
        result += "\\";
    }
    return result;
}

} // namespace pal

UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    pal::MachineRoot();
    return pal::CopyOut("C:\\WINDOWS", lpBuffer, uSize);
}

DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
    pal::MachineRoot();
    return pal::CopyOut("C:\\TEMP\\", lpBuffer, nBufferLength);
}

DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
    return pal::CopyOut(pal::WindowsPath(pal::CurrentNativeDirectory()), lpBuffer, nBufferLength);
}
