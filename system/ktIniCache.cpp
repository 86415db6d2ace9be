// INI files by file name: one cached engine per file, so that a file is
// parsed once per stay in the cache and its changes reach the disk in one
// write, when its engine leaves the cache.
#include "ktIniCache.h"

#include "ktIniFile.h"
#include "ktText.h"

#include <map>
#include <memory>
#include <utility>

namespace {

// Keys are upper-cased file names; they are ordered as the program's sorted
// string lists order text, so engines are freed in that order. Texts the
// locale holds equal but that differ in bytes are still distinct keys.
struct CacheKeyLess {
    bool operator()(const std::string& a, const std::string& b) const {
        int order = CompareTextIgnoreCase(a, b);
        if (order != 0) {
            return order < 0;
        }
        return a < b;
    }
};

using TIniFileCache = std::map<std::string, std::unique_ptr<TktIniFile>, CacheKeyLess>;

// Writes the engine's changes back once and frees it; a failed write-back is
// not tried again by the destructor.
bool ReleaseEngine(std::unique_ptr<TktIniFile> engine) {
    bool written = engine->UpdateFile();
    DWORD error = written ? 0 : GetLastError();
    if (!written) {
        engine->DiscardChanges();
    }
    engine.reset();
    if (!written) {
        SetLastError(error);
    }
    return written;
}

// Emptied once for all by ShutDown (FreeIniFiles). The destructor is only a
// safety net for programs that never call it, and keeps the sorted order.
struct TCacheHolder {
    TIniFileCache cache;
    ~TCacheHolder() {
        while (!cache.empty()) {
            ReleaseEngine(std::move(cache.extract(cache.begin()).mapped()));
        }
    }
};

TIniFileCache& IniFileCache() {
    static TCacheHolder holder;
    return holder.cache;
}

} // namespace

TktIniFile* GetIniFile(const std::string& fileName, bool readOnly, TIniRules rules) {
    std::string key = UpperCase(fileName);
    TIniFileCache& cache = IniFileCache();
    auto found = cache.find(key);
    if (found != cache.end()) {
        const TktIniFile& engine = *found->second;
        bool sameRules = engine.Rules() == rules;
        bool fits = engine.ReadOnly() ? readOnly && sameRules : readOnly || sameRules;
        if (fits) {
            return found->second.get();
        }
        FreeIniFile(fileName);
    }
    // Constructing may raise the engine's open error; the cache is then left
    // without an entry for the key.
    auto engine = std::make_unique<TktIniFile>(key, readOnly, true, true, true, true, true, rules);
    TktIniFile* result = engine.get();
    cache.emplace(std::move(key), std::move(engine));
    return result;
}

bool FreeIniFile(const std::string& fileName) {
    TIniFileCache& cache = IniFileCache();
    auto found = cache.find(UpperCase(fileName));
    if (found == cache.end()) {
        return true;
    }
    // Take the entry out before the engine writes back, so the cache is
    // consistent whatever the write does.
    auto node = cache.extract(found);
    return ReleaseEngine(std::move(node.mapped()));
}

std::vector<std::string> FreeIniFiles() {
    TIniFileCache& cache = IniFileCache();
    std::vector<std::string> failed;
    while (!cache.empty()) {
        auto node = cache.extract(cache.begin());
        if (!ReleaseEngine(std::move(node.mapped()))) {
            failed.push_back(node.key());
        }
    }
    return failed;
}

std::string IniReadString(std::string fileName, std::string section, std::string key,
                          std::string defaultValue) {
    return GetIniFile(fileName, true, TIniRules::InstallLog)
        ->ReadString(section, key, defaultValue);
}

void IniReadSectionValues(std::string fileName, std::string section, TStringList& list) {
    GetIniFile(fileName, true, TIniRules::InstallLog)->ReadSectionValues(section, list);
}

bool IniWriteString(std::string fileName, std::string section, std::string key, std::string value) {
    GetIniFile(fileName, false, TIniRules::Profile)->WriteString(section, key, value);
    return true;
}

void IniDeleteKey(std::string fileName, std::string section, std::string key) {
    GetIniFile(fileName, false, TIniRules::Profile)->DeleteKey(section, key);
}

bool IniAddLine(std::string fileName, std::string section, std::string key, std::string value) {
    GetIniFile(fileName, false, TIniRules::Profile)->AddLine(section, key, value);
    return true;
}
