// Starting a file through the shell and waiting for its end.
#pragma once

#include "winapi.h"

#include <string>

// Starts a program hidden and without the shell's error boxes, and hands
// over its process handle (the caller closes it); null, with the reason in
// `error`, when no process of it was started.
HANDLE StartHidden(const std::string& program, const std::string& parameters, DWORD& error);

// Starts a file with the shell's default action and waits for its end,
// pumping the thread's messages; the exit code, 0 when the shell handed the
// file to a program already running, or -1 when it could not start, its
// exit code could not be read, or WM_QUIT came (the program keeps running).
int ExecAndWait(HWND owner, const std::string& file, const std::string& parameters,
                const std::string& directory, int show);
// The same with flags added to the launch record's mask (SEE_MASK_FLAG_NO_UI
// for a run that shows nothing); `started` tells whether the shell started
// the file, `error` why not.
int ExecAndWait(HWND owner, const std::string& file, const std::string& parameters,
                const std::string& directory, int show, DWORD extraMask, bool* started,
                DWORD* error);
