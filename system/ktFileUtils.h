// Path helpers of the file removal: the trailing backslash, the short form,
// device names and the Windows folder. The removal itself, which uses them,
// is ktFileUtilsRemoval.h. The existence checks are base/'s
// (ktFileChecks.h), included here for the callers that use them with these.
#pragma once

#include "ktFileChecks.h"
#include "winapi.h"

#include <string>

// The path with one trailing backslash (unchanged when empty or when its
// last byte is one already).
std::string AddBackslash(const std::string& path);
// The path without its trailing backslash; a drive root ("C:\") and a
// single "\" keep theirs, and a double-byte character's trail byte is no
// backslash.
std::string RemoveBackslash(const std::string& path);
// The 8.3 form of an existing path, or the path unchanged when it has none.
std::string GetShortPath(const std::string& path);
// True when the last part of the path is a device name (CON, PRN, AUX, NUL,
// COM1 to COM9, LPT1 to LPT9), with or without an extension, in any case:
// Windows opens the device for such a name in every folder.
bool IsDeviceName(const std::string& path);
// The Windows folder without a trailing backslash, or "" when it cannot be read.
std::string GetWindowsDir();
// The 95 family's restart-time list: wininit.ini in the Windows folder.
std::string RestartListFile();
