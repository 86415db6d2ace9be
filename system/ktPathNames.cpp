// The normal form of a path, through the system's own calls.
#include "ktPathNames.h"

#include "ktPlatform.h"
#include "winapi.h"

#include <cctype>
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

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// "\\?\", "\\.\" or "\??\" (with either separator) at the start.
bool HasNamespacePrefix(const std::string& path) {
    return path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[3]) &&
           ((IsSeparator(path[1]) && (path[2] == '?' || path[2] == '.')) ||
            (path[1] == '?' && path[2] == '?'));
}

// The path without a namespace prefix that the file calls accept in front
// of an ordinary path: "\\?\" (the path handed on as it is), "\\.\" (the
// device namespace, where "C:" is the drive) and "\??\" (the object
// manager's own, which the file calls pass through as well), each followed
// by a drive ("\\?\C:\x" is "C:\x") or by "UNC\" ("\\?\UNC\server\share"
// is "\\server\share"). Any other path, a device's ("\\.\NUL") or a
// volume's ("\\?\Volume{...}\") among them, comes back as it is.
std::string WithoutNamespacePrefix(const std::string& path) {
    if (!HasNamespacePrefix(path)) {
        return path;
    }
    std::string rest = path.substr(4);
    if (rest.size() >= 2 && isalpha(static_cast<unsigned char>(rest[0])) && rest[1] == ':') {
        return rest;
    }
    if (rest.size() >= 4 && toupper(static_cast<unsigned char>(rest[0])) == 'U' &&
        toupper(static_cast<unsigned char>(rest[1])) == 'N' &&
        toupper(static_cast<unsigned char>(rest[2])) == 'C' && IsSeparator(rest[3])) {
        return "\\\\" + rest.substr(4);
    }
    return path;
}

std::string FullPath(const std::string& path) {
    return AskForPath([&path](char* buffer, DWORD size) {
        return GetFullPathNameA(path.c_str(), size, buffer, nullptr);
    });
}

std::string NormalForm(const std::string& path, bool anyAlias) {
    if (path.empty()) {
        return path;
    }
    // The prefix in its one spelling: "//?/" is "\\?\" as far as the
    // system goes; "\??\", which GetFullPathNameA takes for a folder below
    // the current drive's root, the file calls hand on as after "\\?\".
    std::string given = path;
    if (HasNamespacePrefix(given)) {
        given = std::string("\\\\") + (given[2] == '.' ? '.' : '?') + "\\" + given.substr(4);
    }
    std::string full = FullPath(given);
    if (full.empty()) {
        return path;
    }
    // GetFullPathNameA keeps a "\\?\" or "\\.\" prefix, and ".." may climb
    // to it (above the drive), so the prefix goes only now; then the path is
    // normalised again as an ordinary one. A name that only a "\\?\" path
    // reaches (one with a trailing dot or blank, which the file calls take
    // as it is after that prefix) reads as the name without them: what
    // compares this form errs on the side of the existing folder.
    std::string plain = WithoutNamespacePrefix(full);
    if (plain != full) {
        std::string again = FullPath(plain);
        full = again.empty() ? plain : again;
    }
    // Short names: every alias that the NT family forms for a long name
    // holds a "~" (the numeric tail, also in its hashed form), and so does
    // every one the 95 family forms by default; a name that fits 8.3 is its
    // own short name, letter case apart. Without a "~" only an alias given
    // explicitly (SetFileShortNameW, "fsutil file setshortname") or one the
    // 95 family forms once NameNumericTail is set to 0 ("PROGRAMF" for
    // "Program Files") names a file by another name. A path without a "~"
    // is therefore taken as its own long form unless the caller asks for
    // every alias: asking the file system walks every folder of the path
    // (a millisecond and more per path).
    if (!anyAlias && full.find('~') == std::string::npos) {
        return full;
    }
    std::string longPath = AskForPath(
        [&full](char* buffer, DWORD size) { return GetLongPathNameA(full.c_str(), buffer, size); });
    return longPath.empty() ? full : longPath;
}

} // namespace

std::string NormalizedPath(const std::string& path) {
    return NormalForm(path, false);
}

std::string NormalizedFolderPath(const std::string& path) {
    // On the 95 family, where such aliases come by default, the name itself
    // is asked; on the NT family an alias given explicitly (which takes the
    // restore privilege) is not looked through: a walk per folder costs
    // more than it guards.
    return NormalForm(path, !IsNtFamily());
}
