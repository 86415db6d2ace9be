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

// Reads a file from its current position in large blocks and yields exactly
// the lines that FileReadLine would give one by one, for loading large files
// without one read call per line. Each line can come with the raw bytes it
// spans (its text, its CR and the LF right after it), so that the raw pieces
// joined give the file back byte for byte.
class TBlockLineReader {
  public:
    explicit TBlockLineReader(TFileHandle handle, size_t blockSize = 1 << 20);
    // False when no line is left; a read error ends the file.
    bool Next(std::string& line, std::string* raw = nullptr);
    bool ReadFailed() const { return failed_; }

  private:
    bool Fill();
    TFileHandle handle_;
    std::string buffer_;
    size_t pos_ = 0;
    size_t len_ = 0;
    bool eof_ = false;
    bool failed_ = false;
    // The previous line took the LF after its CR; that LF still opens the
    // next line's bytes, so an empty line follows even at the end of file.
    bool tookLineFeed_ = false;
};

std::string AddBackslash(const std::string& path);
std::string RemoveBackslash(const std::string& path);
std::string GetShortPath(const std::string& path);
bool RemoveFile(const std::string& path);
void DeleteOnRestart(const std::string& path);

// The platform identifier (dwPlatformId of GetVersionExA), read once at
// start-up by the program entry.
DWORD PlatformId();
void SetPlatformId(DWORD id);
