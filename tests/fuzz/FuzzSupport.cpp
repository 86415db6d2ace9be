// A machine folder per fuzzing process, removed at exit.
#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {
std::string machine;

void RemoveMachine() {
    if (!machine.empty()) {
        std::string command = "rm -rf '" + machine + "'";
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "could not remove %s\n", machine.c_str());
        }
    }
}
} // namespace

std::string FuzzMachineFolder() {
    if (machine.empty()) {
        const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/vantrel-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            FuzzFail("cannot create a machine folder in " + std::string(base));
        }
        machine = pattern;
        setenv("VANTREL_ROOT", (machine + "/machine").c_str(), 1);
        std::atexit(RemoveMachine);
    }
    return machine;
}

void FuzzWriteFile(const std::string& path, const std::string& bytes) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
        FuzzFail("cannot write " + path);
    }
    std::fclose(file);
}

void FuzzFail(const std::string& message) {
    std::fprintf(stderr, "property failed: %s\n", message.c_str());
    std::abort();
}
