#include "recorder_platform.h"

#include <cstdlib>

// The native shell launch passes what Windows would give the program in the
// environment.
std::string RawCommandLine() {
    const char* line = std::getenv("VANTREL_COMMAND_LINE");
    return line != nullptr ? line : "";
}

int StartShowValue() {
    const char* show = std::getenv("VANTREL_SHOW");
    return show != nullptr && *show != '\0' ? std::atoi(show) : -1;
}
