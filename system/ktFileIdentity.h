// Which file a path names, whatever its spelling: the volume serial number
// and file index of an open handle, as GetFileInformationByHandle gives them.
#pragma once

#include "winapi.h"

#include <string>

struct TFileId {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    bool operator==(const TFileId& other) const {
        return volume == other.volume && indexHigh == other.indexHigh && indexLow == other.indexLow;
    }
};

// The identity of an open file; false (and GetLastError) when the system
// cannot tell it.
bool FileIdOf(HANDLE handle, TFileId& id);
// The identity of the file at `path`, opened for no access with every
// sharing allowed, so that no open of another process blocks it or is
// blocked by it. False for a missing file or a folder.
bool FileIdOf(const std::string& path, TFileId& id);
// Both paths name one existing file (relative paths, letter case, short
// names, "..", "/" and links all come to the same file).
bool SameFile(const std::string& first, const std::string& second);
// Both paths name one file, whether it exists or not: their normal forms
// (NormalizedPath) are one, letter case apart, or SameFile. A name that the
// system only makes with the file (a short name) is beyond it while the
// file is missing.
bool SameFileOrName(const std::string& first, const std::string& second);
