// Raw line-file access for the INI engine: a file read and written line by
// line through the Win32 file calls, and the folders made before one is
// written. The existence checks the engine makes before it opens a file are
// base/'s (ktFileChecks.h), included here for the engine.
#pragma once

#include "ktFileChecks.h"
#include "ktHandle.h"
#include "winapi.h"

#include <cstdint>
#include <string>

// The functions below take a TFileHandle (ktHandle.h) that the caller owns.

// CreateFileA with these arguments, its handle in an owner; the owner holds
// -1 when the call fails.
TScopedFileHandle OpenFileHandle(const std::string& fileName, DWORD desiredAccess, DWORD shareMode,
                                 DWORD creationDisposition, DWORD flagsAndAttributes);
// The current position in the file.
int32_t FilePosition(TFileHandle handle);
// True when the position is at (or past) the file's size.
bool FileAtEnd(TFileHandle handle);
// The next line without its CR and without any LF in it; the position moves
// past the CR. A read error ends the line and moves the position to the end.
std::string FileReadLine(TFileHandle handle);
// Writes the text and CR LF; a failed write is not reported.
void FileWriteLine(TFileHandle handle, const std::string& text);
// Creates the folder and any missing parents; a failure is not reported and
// may leave the parents it made.
void ForceDirectories(std::string path);

// Where a line ends: at a CR, LFs being dropped wherever they stand (the
// install log's rules, those of FileReadLine); or at CR LF, CR or LF, as the
// system's profile functions read INI files.
enum class TLineEnds : uint8_t { AtCr, AtCrOrLf };

// Reads a file from its current position in large blocks and yields exactly
// the lines that FileReadLine would give one by one (with TLineEnds::AtCr),
// for loading large files without one read call per line. Each line can come
// with the raw bytes it spans (its text and its line end; at a CR, the LF
// right after it), so that the raw pieces joined give the file back byte for
// byte.
class TBlockLineReader {
  public:
    explicit TBlockLineReader(TFileHandle handle, size_t blockSize = 1 << 20,
                              TLineEnds ends = TLineEnds::AtCr);
    // False when no line is left; a read error ends the file.
    bool Next(std::string& line, std::string* raw = nullptr);
    bool ReadFailed() const { return failed_; }

  private:
    bool Fill();
    bool NextAtAnyEnd(std::string& line, std::string* raw);
    TFileHandle handle_;
    TLineEnds ends_;
    std::string buffer_;
    size_t pos_ = 0;
    size_t len_ = 0;
    bool eof_ = false;
    bool failed_ = false;
    // The previous line took the LF after its CR; that LF still opens the
    // next line's bytes, so an empty line follows even at the end of file.
    bool tookLineFeed_ = false;
};
