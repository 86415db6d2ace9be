// Reading a whole file into memory, for the small files of our own.
#pragma once

#include <string>

// The whole content of a file; false when it cannot be read.
bool ReadWholeFile(const std::string& fileName, std::string& bytes);
