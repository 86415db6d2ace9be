#pragma once

#include <string>

// What a Windows program learns from the system about its start: the raw
// command line, and the show value (-1 when none was given).
std::string RawCommandLine();
int StartShowValue();
