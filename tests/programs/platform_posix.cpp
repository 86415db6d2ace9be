#include "testlog.h"

#include <cstdlib>
#include <ctime>

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The native shell launch passes what Windows would give the program in the
// environment.
std::string RawCommandLine() {
    return EnvironmentValue("VANTREL_COMMAND_LINE");
}

int StartShowValue() {
    std::string show = EnvironmentValue("VANTREL_SHOW");
    return show.empty() ? -1 : std::atoi(show.c_str());
}

void PauseOneSecond() {
    struct timespec second = {1, 0};
    nanosleep(&second, nullptr);
}

void PauseTenthOfSecond() {
    struct timespec tenth = {0, 100000000};
    nanosleep(&tenth, nullptr);
}
