// The folder listings behind case-insensitive name resolution and short
// names: each folder's names by upper-cased name and by generated 8.3 name,
// kept while the folder is unchanged and in step with this process's own
// changes (NameChange).
#include "internal.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace pal {

namespace {

std::string ShortNameStem(const std::string& name);
std::string ShortNameWithNumber(const std::string& name, int number);

const char kBadShortChars[] = " \"*+,/:;<=>?[\\]|";

bool IsBadShortChar(char c) {
    return strchr(kBadShortChars, c) != nullptr || static_cast<unsigned char>(c) < 32;
}

char ShortChar(char c) {
    return IsBadShortChar(c) ? '_' : UpperCase(c);
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
    static auto& listings = *new std::unordered_map<std::string, Listing>();
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
    std::string folded = UpperCase(name);
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
    auto found = listing.byFolded.find(UpperCase(name));
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
    UniqueDir handle(opendir(dir.c_str()));
    if (handle == nullptr) {
        return nullptr;
    }
    if (listings.size() >= kMaxListings) {
        listings.clear();
    }
    Listing& listing = listings[dir];
    listing = Listing();
    Stamp(listing, st);
    while (struct dirent* entry = readdir(handle.get())) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) {
            AddName(listing, entry->d_name);
        }
    }
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

} // namespace

bool FindNameIn(const std::string& dir, const std::string& wanted, std::string& actual) {
    std::lock_guard<std::mutex> lock(listingsMutex);
    Listing* listing = ListingOf(dir.empty() ? "/" : dir);
    if (listing == nullptr) {
        return false;
    }
    std::string folded = UpperCase(wanted);
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

} // namespace pal
