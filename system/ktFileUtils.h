// Raw line-file access for the INI engine, and file removal now or at the
// next restart, with the small path helpers around them.
#pragma once

#include "winapi.h"

#include <cstdint>
#include <string>

// A file handle as the INI engine keeps it: the platform's handle as a
// signed 32-bit value; 0 for none, -1 (the invalid handle) after a failed open.
using TFileHandle = int32_t;

TFileHandle OpenFileHandle(const std::string& fileName, DWORD desiredAccess, DWORD shareMode,
                           DWORD creationDisposition, DWORD flagsAndAttributes);
void CloseFileHandle(TFileHandle& handle);
int32_t FilePosition(TFileHandle handle);
bool FileAtEnd(TFileHandle handle);
std::string FileReadLine(TFileHandle handle);
void FileWriteLine(TFileHandle handle, const std::string& text);
bool DirectoryExists(const std::string& path);
void ForceDirectories(std::string path);

// True when the path names an existing file (a directory does not count).
bool FileExists(const std::string& path);

std::string AddBackslash(const std::string& path);
std::string RemoveBackslash(const std::string& path);
std::string GetShortPath(const std::string& path);
bool RemoveFile(const std::string& path);
void DeleteOnRestart(const std::string& path);

// The platform identifier (dwPlatformId of GetVersionExA), read once at
// start-up by the program entry.
DWORD PlatformId();
void SetPlatformId(DWORD id);
