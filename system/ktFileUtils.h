// File removal now or at the next restart, with the small path helpers
// around it. The line-file access and the existence checks live with the INI
// engine (ktLineFile.h), which reads through them.
#pragma once

#include "ktLineFile.h"
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
// True when the file was deleted, read-only or not. A file that stays keeps
// its attributes reset to normal. Device names are never deleted (false,
// with ERROR_ACCESS_DENIED as the last error).
bool RemoveFile(const std::string& path);
// Marks an existing file for deletion at the next restart: MoveFileEx on NT,
// where the file is first moved aside to a hidden name of our mark when
// `movedTo` is given (ktMoveAside.h; that name is then set there), or a
// "NUL=" line in wininit.ini's [Rename] section otherwise (written when
// that file's engine leaves the cache: FreeIniFile(RestartListFile())). True when the system took
// the entry; false when it refused, or when the file is gone or a device name and nothing was
// needed. On the 95 family it raises the INI engine's error (EIniFileError) when wininit.ini exists
// but cannot be opened.
bool DeleteOnRestart(const std::string& path, std::string* movedTo = nullptr);

// The Windows folder without a trailing backslash, or "" when it cannot be read.
std::string GetWindowsDir();
// The 95 family's restart-time list: wininit.ini in the Windows folder.
std::string RestartListFile();
