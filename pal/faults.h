// Failures on request: $VANTREL_FAULTS makes chosen uses of chosen calls fail
// with a chosen Win32 error, or kill the process there, so tests can
// reproduce a full disk, a failed flush or a crash part-way. See README.md.
#pragma once

#include "pal.h"

namespace pal {

// Called first thing by every call the mechanism covers, with the call's
// name as in the table of faults.cpp. Counts this use; returns 0 to go on,
// or the Win32 error the call must fail with (after SetLastError, for the
// calls that report through it). Kills the process for a "kill" fault.
DWORD InjectedFault(const char* call);

// Reads $VANTREL_FAULTS again and starts every count afresh, for the layer's
// tests that try several faults in one process.
void ReloadFaults();

} // namespace pal
