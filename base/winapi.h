// The one include of the platform. The Windows build sees the system's own
// headers; the native build sees pal/, which implements the same subset.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#include <objbase.h>
#include <shlobj.h>
#include <restartmanager.h>
#else
#include "pal.h"
#endif
