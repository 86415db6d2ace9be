// Appends one line to the test log: the file named by VANTREL_TEST_LOG, or
// "vantrel-test.log" in the current directory. Plain C stdio, so the test
// programs need nothing of the program's own code.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

inline const char* TestLogPath() {
    const char* path = std::getenv("VANTREL_TEST_LOG");
    return path != nullptr && *path != '\0' ? path : "vantrel-test.log";
}

inline void AppendTestLog(const std::string& line) {
    if (FILE* file = std::fopen(TestLogPath(), "ab")) {
        std::fwrite(line.data(), 1, line.size(), file);
        std::fputc('\n', file);
        std::fclose(file);
    }
}
