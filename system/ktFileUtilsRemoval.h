// File removal now or at the next restart of the system. It uses the moving
// aside of files in use (ktMoveAside) and the INI files by name (ktIniCache,
// for wininit.ini); they use the path helpers (ktFileUtils.h), never this.
#pragma once

#include <string>

// True when the file was deleted, read-only or not. A file that stays keeps
// its attributes reset to normal. Device names are never deleted (false,
// with ERROR_ACCESS_DENIED as the last error).
bool RemoveFile(const std::string& path);
// Marks an existing file for deletion at the next restart: MoveFileEx on NT,
// where the file is first moved aside to a hidden name of our mark when
// `movedTo` is given (ktMoveAside.h; that name is then set there), or a
// "NUL=" line in wininit.ini's [Rename] section otherwise (written when
// that file's engine leaves the cache: FreeIniFile(RestartListFile())).
// True when the system took the entry;
// false when it refused, or when the file is gone or a device name and
// nothing was needed. On the 95 family it raises the INI engine's error
// (EIniFileError) when wininit.ini exists but cannot be opened.
bool DeleteOnRestart(const std::string& path, std::string* movedTo = nullptr);
