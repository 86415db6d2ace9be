// The normal form of a path, through the system's own calls.
#include "ktPathNames.h"

#include "winapi.h"

#include <vector>

namespace {

// One of the calls that return a path into a buffer: asked again with the
// size it needs when the first buffer is short; empty on failure.
template <typename Call> std::string AskForPath(Call call) {
    std::vector<char> buffer(MAX_PATH + 1);
    DWORD length = call(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length >= buffer.size()) {
        buffer.resize(length + 1);
        length = call(buffer.data(), static_cast<DWORD>(buffer.size()));
    }
    if (length == 0 || length >= buffer.size()) {
        return std::string();
    }
    return std::string(buffer.data(), length);
}

} // namespace

std::string NormalizedPath(const std::string& path) {
    if (path.empty()) {
        return path;
    }
    std::string full = AskForPath([&path](char* buffer, DWORD size) {
        return GetFullPathNameA(path.c_str(), size, buffer, nullptr);
    });
    if (full.empty()) {
        return path;
    }
    // The system's short names always hold a "~": a path without one is its
    // own long form, letter case apart, and asking the file system would
    // walk every folder of the path (a millisecond and more per path).
    if (full.find('~') == std::string::npos) {
        return full;
    }
    std::string longPath = AskForPath(
        [&full](char* buffer, DWORD size) { return GetLongPathNameA(full.c_str(), buffer, size); });
    return longPath.empty() ? full : longPath;
}
