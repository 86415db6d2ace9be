// The Win32 subset that the program calls, for the native build: the types,
// constants and ANSI functions with Windows' names, widths and error codes.
// Implemented over Linux in pal/*.cpp (pal/README.md maps the calls to their
// files). The program and the tests reach it through base/winapi.h; only
// the layer's own sources and the native tool vantrel-reg include it
// directly.
#pragma once

#include "pal_types.h"
#include "pal_files.h"
#include "pal_text.h"
#include "pal_process.h"
#include "pal_registry.h"
#include "pal_windowing.h"
#include "pal_restart_manager.h"

// ---- Program entry ---------------------------------------------------------------
// The program defines WinMain as on Windows; pal/ supplies main(), which
// records the arguments (GetCommandLineA) and calls it.
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine, int nShowCmd);
