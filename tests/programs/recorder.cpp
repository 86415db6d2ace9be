// vt_recorder: a program that records how it was started and ends with the
// exit code it is told.
//
// Options (anywhere among the arguments; every argument is recorded):
//   --exit=N      end with exit code N (default 0)
//   --sleep=MS    wait MS milliseconds before ending
//   --touch=NAME  create the file NAME (relative to the working directory)
//
// It appends a block to the test log (VANTREL_TEST_LOG, or
// "vantrel-test.log" in its working directory):
//   run vt_recorder
//   cmdline <the raw command line>
//   argc <n>
//   argv[1] <first argument>   (argv[0] is not recorded: it differs by build)
//   ...
//   cwd <working directory>
//   show <show value the program was started with, -1 when none was given>
//   exit <N>
//
// When VANTREL_E2E_STARTS is set, it first appends "[started] <arguments>"
// to that file ("-": standard output), the stream that holds the
// uninstaller's progress lines in the end-to-end runs, so the runner can
// tell whether a caption came before the program.
#include "testlog.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

int main(int argc, char** argv) {
    int exitCode = 0;
    long sleepMs = 0;
    std::string touch;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.rfind("--exit=", 0) == 0) {
            exitCode = std::atoi(arg.c_str() + 7);
        } else if (arg.rfind("--sleep=", 0) == 0) {
            sleepMs = std::atol(arg.c_str() + 8);
        } else if (arg.rfind("--touch=", 0) == 0) {
            touch = arg.substr(8);
        }
    }
    std::string started = "[started]";
    for (int i = 1; i < argc; ++i) {
        started += std::string(" ") + argv[i];
    }
    NoteStart(started);
    std::string record =
        "run vt_recorder\ncmdline " + RawCommandLine() + "\nargc " + std::to_string(argc);
    for (int i = 1; i < argc; ++i) {
        record += "\nargv[" + std::to_string(i) + "] " + argv[i];
    }
    std::error_code error;
    record += "\ncwd " + std::filesystem::current_path(error).string();
    record += "\nshow " + std::to_string(StartShowValue());
    record += "\nexit " + std::to_string(exitCode);
    AppendTestLog(record);
    if (!touch.empty()) {
        if (FILE* file = std::fopen(touch.c_str(), "wb")) {
            std::fclose(file);
        }
    }
    if (sleepMs > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(sleepMs));
    }
    return exitCode;
}
