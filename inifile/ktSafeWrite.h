// Replacing a file's whole content without ever leaving it cut short: the
// new bytes go to a temporary file beside it, which takes the file's place
// only once it is complete and flushed.
#pragma once

#include "winapi.h"

#include <string>

// Writes `bytes` as the new content of `fileName` (which need not exist),
// keeping its attributes. False when any step failed: the file is then as
// it was and no temporary file is left.
bool ReplaceFileContent(const std::string& fileName, const std::string& bytes);
// The NT family replaces in one move; the Windows 95 family, which has no
// MoveFileExA, moves the original aside first (PlatformId decides).
