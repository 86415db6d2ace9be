// What the fuzz targets share: a private machine folder for the layer, in
// memory when /dev/shm exists, so that file and registry calls stay cheap.
#pragma once

#include <cstdint>
#include <string>

// Points $VANTREL_ROOT at a fresh folder for this process and returns a
// native path inside it for the target's own files ("/dev/shm/...").
std::string FuzzMachineFolder();

// Writes bytes to a native path, replacing the file.
void FuzzWriteFile(const std::string& path, const std::string& bytes);

// Stops the run when a property fails, with the message on standard error.
[[noreturn]] void FuzzFail(const std::string& message);
#define FUZZ_CHECK(condition, message)                                                             \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            FuzzFail(std::string(#condition ": ") + (message));                                    \
        }                                                                                          \
    } while (0)
