// OLE server unregistration. A server is third-party code: its
// "DllUnregisterServer" runs in a child copy of the running program, the
// server host, so that a server that crashes ends only that copy and the
// run reports the fault instead of going down with it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

// A fault inside a server: its text names the fault and the library, e.g.
// "Access violation in C:\App\srv.dll".
class EServerFault : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Loads the library, calls its "DllUnregisterServer" and releases it; true
// when the export was found and called, false when the library cannot be
// loaded or lacks the export. A fault inside the server (an access
// violation, an illegal instruction, a division by zero, a stack overflow,
// an exception it lets escape) raises EServerFault.
bool UnregisterServer(const std::string& libraryPath);

// The server host's side. Every program that calls UnregisterServer calls
// this first thing: when its command line asks for the host (the program's
// name, the host marker, a library path), it makes the call, sets
// `exitCode` to the outcome and returns true; the program then ends with
// that code. The marker holds "|", which no file name may hold, so it can
// never be taken for an install log or an option.
bool RunServerHostIfAsked(int& exitCode);

// The text shown for a server host that ended with `exitCode`, the library
// named; empty for the codes of a normal end (called, not loadable, no
// export).
std::string ServerFaultText(uint32_t exitCode, const std::string& libraryPath);

// Keeps libraries planted beside the program, in the current folder or on
// the PATH from being loaded in place of system ones: where the system
// offers SetDefaultDllDirectories, only the system folder is searched for
// libraries named without a path. Called early in start-up.
void RestrictLibrarySearch();
