// Replacing a file's whole content without ever leaving it cut short: the
// new bytes go to a temporary file beside it, which takes the file's place
// only once it is complete and flushed.
//
// The temporary files carry the program's mark and a check of their own
// bytes in their names: "<file>.~vt<ID>.<CRC>.new" (the new content) and,
// on the Windows 95 family, "<file>.~vt<ID>.<CRC>.old" (the original moved
// aside for a moment). ID tells one write-back from another; CRC is the
// CRC-32 of the file's bytes, in eight hex digits. Only a file whose name
// has this form and whose bytes give its CRC counts as ours: no other file
// beside an INI file is ever moved or removed.
#pragma once

#include "winapi.h"

#include <string>

// Writes `bytes` as the new content of `fileName` (which need not exist),
// keeping its attributes, its access rights (the NT family replaces with
// ReplaceFileA) and, for a symbolic link, the link: the file it points to
// is replaced. False (and GetLastError tells why) when any step failed: the
// file is then as it was and no temporary file is left. Complete temporary files of ours that an
// earlier write-back left beside the file (a crash cut it short) go first.
bool ReplaceFileContent(const std::string& fileName, const std::string& bytes);

// For a file about to be loaded for writing. When it does not exist and a
// write-back of ours stopped on the 95 family between its two renames (the
// original moved aside, its complete new copy not yet in place), puts the
// new copy in place and removes the original's copy, so the file holds the
// edit. When it exists, removes the complete temporary files of ours that a
// crash left beside it. True when it put a file in place.
bool MendInterruptedReplace(const std::string& fileName);
