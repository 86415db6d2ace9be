// Where the simulated Windows machine lives and how Windows paths map onto
// it: drive X: is the folder drive_x below the machine root, and names
// resolve without regard to letter case when the exact name is missing.
#include "internal.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pal {

namespace {

std::string ShortNameStem(const std::string& name);
std::string ShortNameWithNumber(const std::string& name, int number);

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool IsDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

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

std::string Fold(const std::string& name) {
    std::string folded = name;
    if (!folded.empty()) {
        CharUpperBuffA(&folded[0], static_cast<DWORD>(folded.size()));
    }
    return folded;
}

// The listing of one folder by folded name (and by generated short name),
// kept while the folder is unchanged, so that resolving many names in one
// large folder does not read the folder again for each of them.
struct Listing {
    dev_t dev = 0;
    ino_t ino = 0;
    struct timespec mtime = {};
    struct timespec ctime = {};
    off_t size = 0;
    std::unordered_map<std::string, std::string> byFolded;
    // Short names are numbered once for the whole folder, in byte order of
    // the long names; later names take the next free number of their stem,
    // so a short name stays while this process keeps the listing.
    bool shortNamesBuilt = false;
    std::unordered_map<std::string, std::string> byShort; // short -> long
    std::unordered_map<std::string, std::string> shortOf; // long -> short
    std::unordered_map<std::string, int> nextNumber;      // stem -> next ~N
};

bool SameStamp(const Listing& listing, const struct stat& st) {
    return listing.dev == st.st_dev && listing.ino == st.st_ino &&
           listing.mtime.tv_sec == st.st_mtim.tv_sec &&
           listing.mtime.tv_nsec == st.st_mtim.tv_nsec &&
           listing.ctime.tv_sec == st.st_ctim.tv_sec &&
           listing.ctime.tv_nsec == st.st_ctim.tv_nsec && listing.size == st.st_size;
}

void Stamp(Listing& listing, const struct stat& st) {
    listing.dev = st.st_dev;
    listing.ino = st.st_ino;
    listing.mtime = st.st_mtim;
    listing.ctime = st.st_ctim;
    listing.size = st.st_size;
}

constexpr size_t kMaxListings = 256;

std::mutex listingsMutex;
std::unordered_map<std::string, Listing>& Listings() {
    static std::unordered_map<std::string, Listing> listings;
    return listings;
}

void NumberShortName(Listing& listing, const std::string& name) {
    if (FitsShortName(name) || listing.shortOf.count(name) != 0) {
        return;
    }
    int& number = listing.nextNumber[ShortNameStem(name)];
    std::string shortName;
    do {
        shortName = ShortNameWithNumber(name, ++number);
    } while (listing.byShort.count(shortName) != 0);
    listing.byShort[shortName] = name;
    listing.shortOf[name] = shortName;
}

void AddName(Listing& listing, const std::string& name) {
    std::string folded = Fold(name);
    auto found = listing.byFolded.find(folded);
    // Of names that differ only in case, the smallest one answers, so the
    // choice does not depend on the order the folder lists them in.
    if (found == listing.byFolded.end() || name < found->second) {
        listing.byFolded[folded] = name;
    }
    if (listing.shortNamesBuilt) {
        NumberShortName(listing, name);
    }
}

void RemoveName(Listing& listing, const std::string& name) {
    auto found = listing.byFolded.find(Fold(name));
    if (found != listing.byFolded.end() && found->second == name) {
        listing.byFolded.erase(found);
    }
    auto shortName = listing.shortOf.find(name);
    if (shortName != listing.shortOf.end()) {
        listing.byShort.erase(shortName->second);
        listing.shortOf.erase(shortName);
    }
}

// The folder's listing, read again when the folder changed since the last
// read. Null when the folder cannot be read. Caller holds listingsMutex.
Listing* ListingOf(const std::string& dir) {
    struct stat st;
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return nullptr;
    }
    auto& listings = Listings();
    auto found = listings.find(dir);
    if (found != listings.end() && SameStamp(found->second, st)) {
        return &found->second;
    }
    DIR* handle = opendir(dir.c_str());
    if (handle == nullptr) {
        return nullptr;
    }
    if (listings.size() >= kMaxListings) {
        listings.clear();
    }
    Listing& listing = listings[dir];
    listing = Listing();
    Stamp(listing, st);
    while (struct dirent* entry = readdir(handle)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) {
            AddName(listing, entry->d_name);
        }
    }
    closedir(handle);
    return &listing;
}

void BuildShortNames(Listing& listing) {
    if (listing.shortNamesBuilt) {
        return;
    }
    std::vector<std::string> names;
    names.reserve(listing.byFolded.size());
    for (const auto& item : listing.byFolded) {
        names.push_back(item.second);
    }
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        NumberShortName(listing, name);
    }
    listing.shortNamesBuilt = true;
}

// The actual name in the folder for a wanted name: an exact match first,
// then one equal without regard to case, then a generated short name.
bool FindName(const std::string& dir, const std::string& wanted, std::string& actual) {
    std::lock_guard<std::mutex> lock(listingsMutex);
    Listing* listing = ListingOf(dir.empty() ? "/" : dir);
    if (listing == nullptr) {
        return false;
    }
    std::string folded = Fold(wanted);
    auto found = listing->byFolded.find(folded);
    if (found != listing->byFolded.end()) {
        actual = found->second;
        return true;
    }
    if (wanted.find('~') == std::string::npos) {
        return false;
    }
    BuildShortNames(*listing);
    auto shortFound = listing->byShort.find(folded);
    if (shortFound != listing->byShort.end()) {
        actual = shortFound->second;
        return true;
    }
    return false;
}

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

const char kBadShortChars[] = " \"*+,/:;<=>?[\\]|";

bool IsBadShortChar(char c);

char ShortChar(char c) {
    if (IsBadShortChar(c)) {
        return '_';
    }
    char upper = c;
    CharUpperBuffA(&upper, 1);
    return upper;
}

bool IsBadShortChar(char c) {
    return strchr(kBadShortChars, c) != nullptr || static_cast<unsigned char>(c) < 32;
}

} // namespace

bool FitsShortName(const std::string& name) {
    if (name == "." || name == "..") {
        return true;
    }
    size_t dot = name.find('.');
    std::string base = name.substr(0, dot);
    std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
    if (base.empty() || base.size() > 8 || ext.size() > 3 || ext.find('.') != std::string::npos ||
        (dot != std::string::npos && ext.empty())) {
        return false;
    }
    for (char c : name) {
        if (c != '.' && IsBadShortChar(c)) {
            return false;
        }
    }
    return true;
}

namespace {

std::string ShortNameStem(const std::string& name) {
    size_t first = name.find_first_not_of('.');
    std::string trimmed = first == std::string::npos ? "" : name.substr(first);
    size_t dot = trimmed.rfind('.');
    std::string base = dot == std::string::npos ? trimmed : trimmed.substr(0, dot);
    std::string ext = dot == std::string::npos ? "" : trimmed.substr(dot + 1);
    std::string shortBase;
    for (char c : base) {
        if (c != ' ' && c != '.' && shortBase.size() < 6) {
            shortBase += ShortChar(c);
        }
    }
    if (shortBase.empty()) {
        shortBase = "_";
    }
    std::string shortExt;
    for (char c : ext) {
        if (c != ' ' && shortExt.size() < 3) {
            shortExt += ShortChar(c);
        }
    }
    return shortExt.empty() ? shortBase : shortBase + "." + shortExt;
}

std::string ShortNameWithNumber(const std::string& name, int number) {
    std::string stem = ShortNameStem(name);
    size_t dot = stem.find('.');
    std::string base = stem.substr(0, dot);
    std::string ext = dot == std::string::npos ? "" : stem.substr(dot);
    std::string tail = "~" + std::to_string(number);
    size_t room = tail.size() < 8 ? 8 - tail.size() : 1;
    if (base.size() > room) {
        base.resize(room);
    }
    return base + tail + ext;
}

} // namespace

std::string ShortNameIn(const std::string& nativeDir, const std::string& name) {
    if (FitsShortName(name)) {
        return name;
    }
    std::lock_guard<std::mutex> lock(listingsMutex);
    Listing* listing = ListingOf(nativeDir.empty() ? "/" : nativeDir);
    if (listing != nullptr) {
        BuildShortNames(*listing);
        auto found = listing->shortOf.find(name);
        if (found != listing->shortOf.end()) {
            return found->second;
        }
    }
    return ShortNameWithNumber(name, 1);
}

NameChange::NameChange(const std::string& nativePath) {
    size_t slash = nativePath.find_last_of('/');
    if (slash == std::string::npos) {
        return;
    }
    dir_ = slash == 0 ? "/" : nativePath.substr(0, slash);
    name_ = nativePath.substr(slash + 1);
    std::lock_guard<std::mutex> lock(listingsMutex);
    auto& listings = Listings();
    auto found = listings.find(dir_);
    struct stat st;
    tracked_ =
        found != listings.end() && stat(dir_.c_str(), &st) == 0 && SameStamp(found->second, st);
}

void NameChange::Done(bool nameExists) {
    if (!tracked_ || name_.empty()) {
        return;
    }
    std::lock_guard<std::mutex> lock(listingsMutex);
    auto& listings = Listings();
    auto found = listings.find(dir_);
    struct stat st;
    if (found == listings.end()) {
        return;
    }
    if (stat(dir_.c_str(), &st) != 0) {
        listings.erase(found);
        return;
    }
    if (nameExists) {
        AddName(found->second, name_);
    } else {
        RemoveName(found->second, name_);
    }
    Stamp(found->second, st);
    tracked_ = false;
}

const std::string& MachineRoot() {
    static const std::string root = [] {
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
    }();
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
                if (FindName(resolved, part, actual)) {
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

namespace {

// Win32's string-returning convention: the length without the terminating
// zero when the text fits, the size needed including it when it does not.
DWORD CopyOut(const std::string& text, char* buffer, DWORD size) {
    if (buffer == nullptr || size <= text.size()) {
        return static_cast<DWORD>(text.size() + 1);
    }
    memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

} // namespace

UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    pal::MachineRoot();
    return CopyOut("C:\\WINDOWS", lpBuffer, uSize);
}

DWORD WINAPI GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer) {
    pal::MachineRoot();
    return CopyOut("C:\\TEMP\\", lpBuffer, nBufferLength);
}

DWORD WINAPI GetCurrentDirectoryA(DWORD nBufferLength, LPSTR lpBuffer) {
    return CopyOut(pal::WindowsPath(pal::CurrentNativeDirectory()), lpBuffer, nBufferLength);
}
