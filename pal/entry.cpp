// The native program's main(): records the arguments for GetCommandLineA
// and calls the program's WinMain. Kept apart from process.cpp so that test
// programs, which have a main() of their own, never link this one.
#include "internal.h"

int main(int argc, char** argv) {
    pal::RecordArguments(argc, argv);
    pal::InstallInterruptHandler();
    pal::InstallSessionHandler();
    // lpCmdLine is the command line after the program name, as on Windows.
    LPSTR line = GetCommandLineA();
    bool quoted = false;
    while (*line && (quoted || (*line != ' ' && *line != '\t'))) {
        if (*line == '"') {
            quoted = !quoted;
        }
        ++line;
    }
    while (*line == ' ' || *line == '\t') {
        ++line;
    }
    return WinMain(GetModuleHandleA(nullptr), nullptr, line, SW_SHOWNORMAL);
}
