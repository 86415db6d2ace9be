#pragma once

#include "winapi.h"

#include <string>

// Starts a file with the shell's default action and waits for its end,
// pumping the thread's messages; the exit code, or -1.
int ExecAndWait(HWND owner, const std::string& file, const std::string& parameters,
                const std::string& directory, int show);
