// What the test programs share: the test log, and what a Windows program
// learns from the system about its start. The platform parts live in
// platform_win32.cpp and platform_posix.cpp.
//
// The test log is the file named by VANTREL_TEST_LOG, or "vantrel-test.log"
// in the current directory; every event is appended as one line (a run of
// vt_recorder as a block of lines).
#pragma once

#include <cstdio>
#include <string>

// The environment as the system keeps it (on Windows the C library's copy is
// not updated by SetEnvironmentVariableA).
std::string EnvironmentValue(const char* name);
// The raw command line, and the show value (-1 when none was given).
std::string RawCommandLine();
int StartShowValue();
// Wait a second, or a tenth of one, as the system's own sleep does.
void PauseOneSecond();
void PauseTenthOfSecond();

inline std::string TestLogPath() {
    std::string path = EnvironmentValue("VANTREL_TEST_LOG");
    return path.empty() ? "vantrel-test.log" : path;
}

// Appends the line to the file named by VANTREL_E2E_STARTS; "-" is standard
// output, written through the descriptor the program inherited, so that the
// line lands between its parent's lines.
inline void NoteStart(const std::string& line) {
    std::string path = EnvironmentValue("VANTREL_E2E_STARTS");
    if (path == "-") {
        std::fputs((line + "\n").c_str(), stdout);
        std::fflush(stdout);
    } else if (!path.empty()) {
        if (FILE* file = std::fopen(path.c_str(), "ab")) {
            std::fputs((line + "\n").c_str(), file);
            std::fclose(file);
        }
    }
}

inline void AppendTestLog(const std::string& line) {
    if (FILE* file = std::fopen(TestLogPath().c_str(), "ab")) {
        std::fwrite(line.data(), 1, line.size(), file);
        std::fputc('\n', file);
        std::fclose(file);
    }
}
