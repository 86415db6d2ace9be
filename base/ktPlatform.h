// Which Windows the program runs on: the one place that calls GetVersionExA
// and keeps what it said.
#pragma once

#include "winapi.h"

// What GetVersionExA reported, read on first use (zeros with the NT family's
// identifier when the call fails).
const OSVERSIONINFOA& PlatformVersion();
// The platform identifier: dwPlatformId of PlatformVersion, unless
// SetPlatformId replaced it.
DWORD PlatformId();
// Replaces the identifier for the rest of the process (tests run both
// families' code on one machine).
void SetPlatformId(DWORD id);
// True on the NT family.
bool IsNtFamily();
// The share mode that lets every other open through: reading, writing and,
// on the NT family, deletion. The 95 family knows no FILE_SHARE_DELETE and
// fails an open that asks for it with ERROR_INVALID_PARAMETER.
DWORD ShareAll();
