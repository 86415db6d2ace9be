// Registry values and keys through path strings ("HKLM\Software\Key\Value").
#pragma once

#include "ktStringList.h"
#include "winapi.h"

#include <cstdint>
#include <string>
#include <vector>

// None of these raises; a failure comes back as false, a default or an empty
// list, and a path without a known root (HKCR, HKCU, HKLM, HKU) fails.
//
// The index just after the last backslash outside quotes, or 0 for none.
int FindRegPathSeparator(const std::string& path);
// The path before that backslash ("" when there is none).
std::string ExtractRegKeyPath(const std::string& path);
// The name after that backslash, unquoted ("'a''b'" gives a'b).
std::string ExtractRegValueName(const std::string& path);
// Root is null when the path has no known root. The subkey path comes
// without empty parts (repeated, leading or trailing backslashes).
void SplitRegPath(const std::string& path, HKEY& root, std::string& subKey, std::string& valueName);
// True when the path's first part is one of the four root abbreviations.
bool HasKnownRoot(const std::string& path);
// True when the value was read into data; dataSize is then its size (on a
// value too large it is the size needed, and data holds nothing usable).
bool ReadRegValue(const std::string& path, void* data, DWORD& dataSize);
// The value's first four bytes, little-endian (missing bytes 0), or the
// default when it cannot be read.
int32_t ReadRegInteger(const std::string& path, int32_t defaultValue);
// True when the value was written; creates the key first. On failure a key
// created on the way may stay.
bool WriteRegValue(const std::string& path, DWORD type, const void* data, DWORD dataSize);
// WriteRegValue of a REG_DWORD.
bool WriteRegInteger(const std::string& path, int32_t value);
// True when the whole path names a key that opens.
bool RegKeyExists(const std::string& path);
// True when the value exists in its key.
bool RegValueExists(const std::string& path);
// True when the value was deleted; false leaves everything as it was.
bool DeleteRegValue(const std::string& path);
// Replaces the list with the key's subkey names (empty when it does not open).
void GetRegSubKeyNames(const std::string& path, TStringList& list);
// Replaces the list with the key's value names (empty when it does not open).
void GetRegValueNames(const std::string& path, TStringList& list);
// Whether the key named by the path (taken as a key) and everything below it
// could be deleted, and whether the value the path names could be: asked of
// the system by opening with the rights a deletion needs, changing nothing.
bool RegKeyDeletable(const std::string& path);
bool RegValueDeletable(const std::string& path);
// True when the path's key part is a root alone ("HKCU\", "HKLM").
bool IsRootKeyPath(const std::string& path);
// The value reading of a registry entry's removal (the ledger's
// RemoveRegistryEntry, which deletes the key when there is no such value):
// the value was deleted, it exists but stays (`error` holds the refusal), or
// there is no such value.
enum TRegValueRemoval { kRegValueRemoved, kRegValueStays, kRegNoValue };
TRegValueRemoval RemoveRegValueEntry(const std::string& path, LSTATUS& error);
// Deletes the key with all its subkeys and values; true when the key itself
// went. On failure the subtree may be left partly deleted. A root alone is
// never deleted.
bool DeleteRegKey(const std::string& path);
