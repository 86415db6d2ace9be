// Files in use moved aside before their deletion at restart: the name of our
// mark, the rename and its schedule, and the folders that hold nothing else.
#include "ktMoveAside.h"

#include "ktFileUtils.h"
#include "ktGuardRails.h"
#include "ktHandle.h"

#include <cstdio>

namespace {

const char kMarkPrefix[] = "~vt";
const char kMarkExtension[] = ".tmp";
const int kMarkDigits = 5;
const int kTries = 32;

std::string FolderOf(const std::string& path) {
    size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

// A number that differs between runs and between calls of one run.
unsigned NextNumber() {
    static unsigned next = GetCurrentProcessId() * 2654435761u ^ GetTickCount();
    next = next * 1103515245u + 12345u;
    return (next >> 8) & 0xFFFFFu;
}

} // namespace

bool IsMovedAsideName(const std::string& name) {
    const size_t prefix = sizeof kMarkPrefix - 1;
    const size_t extension = sizeof kMarkExtension - 1;
    if (name.size() != prefix + kMarkDigits + extension) {
        return false;
    }
    auto same = [&](size_t at, const char* text, size_t length) {
        for (size_t i = 0; i < length; ++i) {
            char c = name[at + i];
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
            if (c != text[i]) {
                return false;
            }
        }
        return true;
    };
    for (size_t i = prefix; i < prefix + kMarkDigits; ++i) {
        char c = name[i];
        bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!hex) {
            return false;
        }
    }
    return same(0, kMarkPrefix, prefix) && same(prefix + kMarkDigits, kMarkExtension, extension);
}

std::string MoveAsideCandidate(const std::string& path) {
    std::string candidate;
    for (int i = 0; i < kTries; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "%s%05x%s", kMarkPrefix, NextNumber(), kMarkExtension);
        candidate = FolderOf(path) + name;
        if (GetFileAttributesA(candidate.c_str()) == INVALID_FILE_ATTRIBUTES) {
            break;
        }
    }
    return candidate;
}

bool MoveAsideForRestart(const std::string& path, std::string& movedTo) {
    for (int i = 0; i < kTries; ++i) {
        std::string candidate = MoveAsideCandidate(path);
        // Never replaces: a name that another file took meanwhile is passed over.
        if (MoveFileExA(path.c_str(), candidate.c_str(), 0)) {
            SetFileAttributesA(candidate.c_str(), FILE_ATTRIBUTE_HIDDEN);
            if (MoveFileExA(candidate.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
                movedTo = candidate;
                return true;
            }
            // No schedule: the file goes back under its own name.
            DWORD error = GetLastError();
            SetFileAttributesA(candidate.c_str(), FILE_ATTRIBUTE_NORMAL);
            MoveFileExA(candidate.c_str(), path.c_str(), 0);
            SetLastError(error);
            return false;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS) {
            return false;
        }
    }
    return false;
}

bool HoldsOnlyMovedAside(const std::string& dir,
                         const std::unordered_set<std::string>& scheduledDirs) {
    std::string base = AddBackslash(dir);
    WIN32_FIND_DATAA data;
    TScopedFind find(FindFirstFileA((base + "*").c_str(), &data));
    if (!find) {
        return false;
    }
    bool any = false;
    do {
        std::string name = data.cFileName;
        if (name == "." || name == "..") {
            continue;
        }
        bool ours = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                        ? scheduledDirs.count(NormalizeFilePath(base + name)) > 0
                        : IsMovedAsideName(name);
        if (!ours) {
            return false;
        }
        any = true;
    } while (FindNextFileA(find.Get(), &data));
    return any;
}

bool RemoveDirectoryOnRestart(const std::string& dir) {
    return MoveFileExA(RemoveBackslash(dir).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}
