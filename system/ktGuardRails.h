// The guard rails of the uninstall: registry keys that are never deleted
// recursively and directories that are never removed, whatever a log says.
// One table of each, here and nowhere else.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

// True when deleting the key named by `keyPath` (a registry path taken as a
// key, with or without a trailing backslash, empty parts dropped) would
// delete a well-known key: a root, a key directly below HKLM, HKCU or HKU,
// the user's Control Panel or a key directly below it, or one of the
// table's keys or an ancestor of one. Letter case is ignored;
// HKCR and HKCU\Software\Classes stand for HKLM\SOFTWARE\Classes, a
// Wow6432Node (32-bit view) for the key it mirrors, a user's key below HKU
// for HKCU, and every ControlSet00N for CurrentControlSet. Values and other
// keys below the well-known keys are not protected.
bool IsProtectedRegKey(const std::string& keyPath);

// True when the directory, in its normalised form (NormalizedFolderPath: so
// ".", "..", doubled separators, trailing dots and blanks, short names and
// the "\\?\", "\\.\" and "\??\" prefixes make no difference), is a drive
// root, the Windows, system or a temporary folder, a shell folder (Program
// Files, Start Menu, Desktop, Fonts and the rest that
// SHGetSpecialFolderPathA names), a folder Windows creates below the Start
// menu's Programs, a user's profile or the folder that holds the profiles.
// On the NT family an existing folder named like a protected one is also
// known by its identity, so that any other name that reaches it (a SUBST
// drive, a share, a volume name) is protected too.
bool IsProtectedDirectory(const std::string& path);
// IsProtectedDirectory for the folders of one run: what a folder's parent
// is by its identity is asked once and kept, as the parents do not change
// while the run removes the folders below them.
class TProtectedFolders {
  public:
    bool IsProtected(const std::string& path);

  private:
    std::unordered_map<std::string, bool> parents_;
};

// The key named by a registry path taken as a key, in the form the guard
// compares: root name (HKCR as HKLM\SOFTWARE\Classes), the subkey path
// without empty parts, upper case. Empty for a path without a root.
std::string CanonicalRegKey(const std::string& keyPath);

// A file system path in the form the guard and the ledger compare: "/" as
// "\", upper case, no trailing backslash.
std::string NormalizeFilePath(const std::string& path);

// The tables themselves, so that a test can try every entry: the
// well-known keys in the table's form, and the protected folders (drive
// roots and profiles apart) as this machine names them.
std::vector<std::string> WellKnownRegKeys();
std::vector<std::string> ProtectedFolders();
