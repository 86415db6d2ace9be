// The guard rails of the uninstall: registry keys that are never deleted
// recursively and directories that are never removed, whatever a log says.
// One table of each, here and nowhere else.
#pragma once

#include <string>

// True when deleting the key named by `keyPath` (a registry path taken as a
// key, with or without a trailing backslash) would delete a well-known key:
// the key is one of them or an ancestor of one. Letter case is ignored, and
// HKCR stands for HKLM\SOFTWARE\Classes. Values and other keys below the
// well-known keys are not protected.
bool IsProtectedRegKey(const std::string& keyPath);

// True when the directory is a drive root, the Windows or system directory,
// or a shell folder (Program Files, Common Files, Start Menu, Desktop, Fonts
// and the rest that SHGetSpecialFolderPathA names), in long or short form.
bool IsProtectedDirectory(const std::string& path);

// The key named by a registry path taken as a key, in the form the guard
// compares: root name (HKCR as HKLM\SOFTWARE\Classes), the subkey path
// without trailing backslashes, upper case. Empty for a path without a root.
std::string CanonicalRegKey(const std::string& keyPath);

// A file system path in the form the guard and the ledger compare: "/" as
// "\", upper case, no trailing backslash.
std::string NormalizeFilePath(const std::string& path);
