// Existence checks by name, used by every layer above.
#pragma once

#include <string>

// Both read the attributes with GetFileAttributesA, which takes the name
// literally: "*" and "?" are never expanded as wildcards, so "C:\App\*.dll"
// exists only if a file of exactly that name does.
// True when the path names an existing directory.
bool DirectoryExists(const std::string& path);
// True when the path names an existing file (a directory does not count).
bool FileExists(const std::string& path);
