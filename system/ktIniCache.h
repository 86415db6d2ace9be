// INI files by file name through a cache of engines: a file is parsed once
// per stay in the cache, and its changes reach the disk in one write, when
// its engine leaves the cache.
#pragma once

#include "ktIniFile.h"
#include "ktStringList.h"

#include <string>
#include <vector>

// The cached engine of the file (loaded on first use with the rules asked
// for, the cache owns it). The caller says how the file is read: the install
// log by its own rules (TIniRules::InstallLog), other programs' INI files and
// wininit.ini as the system's profile functions read them
// (TIniRules::Profile). A writable engine serves every read, whatever its
// rules (its pending changes are what the file will hold); any other engine
// that does not fit the request (read-only asked to write, or loaded by other
// rules) is replaced by one loaded afresh from disk, a writable one writing
// its changes back first. Raises EIniFileError for a file that exists but
// cannot be opened, and then caches nothing for it.
TktIniFile* GetIniFile(const std::string& fileName, bool readOnly, TIniRules rules);
// Free cached engines; a writable engine writes its changes back first.
// FreeIniFile is false (and GetLastError tells why), and FreeIniFiles names
// the file (as cached, in upper case), when that write-back failed: the file
// is then as it was.
bool FreeIniFile(const std::string& fileName);
std::vector<std::string> FreeIniFiles();
// The install log's access: the key's value, or the default when the file,
// section or key is missing. Raises EIniFileError as GetIniFile does.
std::string IniReadString(std::string fileName, std::string section, std::string key,
                          std::string defaultValue);
// The install log's access: fills the list with the section's "key=value"
// lines (empty for a missing file or section). Raises EIniFileError as
// GetIniFile does.
void IniReadSectionValues(std::string fileName, std::string section, TStringList& list);
// Other programs' INI files (profile rules), up to the end of this header.
// Sets the value in the cached engine; always true, the file itself changes
// only when the engine leaves the cache. Raises EIniFileError as GetIniFile.
bool IniWriteString(std::string fileName, std::string section, std::string key, std::string value);
// Removes the key in the cached engine (nothing when it is missing); the
// file changes when the engine leaves the cache. Raises as GetIniFile does.
void IniDeleteKey(std::string fileName, std::string section, std::string key);
// Appends a "key=value" line to the section unless an identical line is
// there already (used for the "NUL=" lines of the restart-time rename list).
// Always true; the file changes when the engine leaves the cache.
bool IniAddLine(std::string fileName, std::string section, std::string key, std::string value);
