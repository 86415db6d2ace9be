// The removal report: a JSON Lines file in UTF-8, one line written with its
// own WriteFile as soon as it is known, so that a run that dies part-way
// keeps every line written before.
#pragma once

#include "winapi.h"

#include <string>
#include <vector>

class TReportFile {
  public:
    TReportFile() = default;
    ~TReportFile();
    TReportFile(const TReportFile&) = delete;
    TReportFile& operator=(const TReportFile&) = delete;

    // Creates the file, replacing an existing one; a relative path is taken
    // from the current directory. False (and Error()) when it cannot be.
    bool Create(const std::string& path);
    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    DWORD Error() const { return error_; }
    // Writes the line and its LF. A failed write is remembered and the run
    // goes on; later lines are still tried.
    void WriteLine(const std::string& utf8Line);
    bool WriteFailed() const { return writeFailed_; }
    void Close();

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    DWORD error_ = 0;
    bool writeFailed_ = false;
};

// The report's first line.
std::string ReportStartLine(const std::string& version, const std::string& logPath,
                            const std::vector<std::string>& options, const std::string& startTime);
// The report's last line; `counts` is the JSON object of outcome counts.
std::string ReportEndLine(const std::string& counts, int exitCode, bool restart,
                          unsigned long durationMs);
