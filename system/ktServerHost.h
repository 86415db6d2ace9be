// OLE server unregistration. A server is third-party code: its
// "DllUnregisterServer" runs in a child copy of the running program, the
// server host, so that a server that crashes or hangs ends only that copy
// and the run reports it instead of going down with it.
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

// How a call ended, short of a fault.
enum class TServerCallResult {
    Called,     // the export was called (whatever it returned)
    NotLoaded,  // the library did not load
    NoExport,   // the library has no "DllUnregisterServer"
    TimedOut,   // the server did not return in time: its host was ended
    NotStarted, // the host itself could not be started
};

struct TServerCall {
    TServerCallResult result = TServerCallResult::NotStarted;
    // NotLoaded, NoExport: the host's own error (0 when the host could not
    // hand it back); NotStarted: the shell's.
    uint32_t error = 0;
    // TimedOut: the time limit that passed, in milliseconds.
    uint32_t limitMs = 0;
};

// How long a server may take before its host is ended.
constexpr uint32_t kServerTimeLimitMs = 60000;
// A seam for the tests: the limit from now on (kServerTimeLimitMs restores).
void SetServerTimeLimitForTests(uint32_t milliseconds);

// Loads the library in the server host, calls its "DllUnregisterServer" and
// releases it. The path reaches the host byte for byte. A fault inside the
// server (an access violation, an illegal instruction, a division by zero, a
// stack overflow, an exception it lets escape) raises EServerFault.
TServerCall UnregisterServer(const std::string& libraryPath);

// The report's message for a call that did not succeed, followed by the
// system's text of its error when it has one: "The library did not load: The
// specified module could not be found.", "The library has no
// DllUnregisterServer export: ...", "DllUnregisterServer did not finish
// within 60 seconds; the server was ended", "The server host could not be
// started: ..."; empty for Called.
std::string ServerCallText(const TServerCall& call);

// The server host's side. Every program that calls UnregisterServer calls
// this first thing: when its command line asks for the host (the program's
// name, the host marker, the library path and the file for the host's error,
// both in hexadecimal), it makes the call, sets `exitCode` to the outcome
// and returns true; the program then ends with that code. The marker holds
// "|", which no file name may hold, so it can never be taken for an install
// log or an option.
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
