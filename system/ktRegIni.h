// INI files by file name through a cache of engines, and registry values and
// keys through path strings ("HKLM\Software\Key\Value").
#pragma once

#include "ktStringList.h"
#include "winapi.h"

#include <cstdint>
#include <string>

class TktIniFile;

// ---- Profiles -----------------------------------------------------------
TktIniFile* GetIniFile(const std::string& fileName, bool readOnly);
void FreeIniFile(const std::string& fileName);
void FreeIniFiles();
std::string IniReadString(std::string fileName, std::string section, std::string key,
                          std::string defaultValue);
void IniReadSectionValues(std::string fileName, std::string section, TStringList& list);
bool IniWriteString(std::string fileName, std::string section, std::string key, std::string value);
void IniDeleteKey(std::string fileName, std::string section, std::string key);
// Appends a "key=value" line to the section unless an identical line is
// there already (used for the "NUL=" lines of the restart-time rename list).
bool IniAddLine(std::string fileName, std::string section, std::string key, std::string value);

// ---- Registry -----------------------------------------------------------
int FindRegPathSeparator(const std::string& path);
std::string ExtractRegKeyPath(const std::string& path);
std::string ExtractRegValueName(const std::string& path);
// Root is null when the path has no known root.
void SplitRegPath(const std::string& path, HKEY& root, std::string& subKey, std::string& valueName);
bool ReadRegValue(const std::string& path, void* data, DWORD& dataSize);
int32_t ReadRegInteger(const std::string& path, int32_t defaultValue);
bool WriteRegValue(const std::string& path, DWORD type, const void* data, DWORD dataSize);
bool WriteRegInteger(const std::string& path, int32_t value);
bool RegKeyExists(const std::string& path);
bool RegValueExists(const std::string& path);
bool DeleteRegValue(const std::string& path);
void GetRegSubKeyNames(const std::string& path, TStringList& list);
void GetRegValueNames(const std::string& path, TStringList& list);
bool RemoveRegEntry(const std::string& path);
bool DeleteRegKey(const std::string& path);
