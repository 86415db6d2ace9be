// Which file a path names, whatever its spelling: the volume serial number
// and file index of an open handle, as GetFileInformationByHandle gives them.
#pragma once

#include "winapi.h"

#include <cstddef>
#include <string>

struct TFileId {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    bool operator==(const TFileId& other) const {
        return volume == other.volume && indexHigh == other.indexHigh && indexLow == other.indexLow;
    }
};

struct TFileIdHash {
    size_t operator()(const TFileId& id) const {
        return (static_cast<size_t>(id.volume) * 31 + id.indexHigh) * 1000003u + id.indexLow;
    }
};

// The identity of an open file; false (and GetLastError) when the system
// cannot tell it.
bool FileIdOf(HANDLE handle, TFileId& id);
// The identity of the file at `path`, opened for no access with every
// sharing allowed, so that no open of another process blocks it or is
// blocked by it. False for a missing file or a folder.
bool FileIdOf(const std::string& path, TFileId& id);
// The identity of the folder at `path` (opened with backup semantics, as
// the NT family opens folders, for no access and with every sharing):
// the link or junction that `path` names when `linkItself`, else the
// folder it leads to. False where the system opens no folders (the 95
// family) and for a missing path.
bool FolderIdOf(const std::string& path, bool linkItself, TFileId& id);
// Both paths name one existing file (relative paths, letter case, short
// names, "..", "/" and links all come to the same file).
bool SameFile(const std::string& first, const std::string& second);
// Both paths name one file, whether it exists or not: their normal forms
// (NormalizedPath) are one, letter case apart, or SameFile. A name that the
// system only makes with the file (a short name) is beyond it while the
// file is missing.
bool SameFileOrName(const std::string& first, const std::string& second);
