// The removal report: a JSON Lines file in UTF-8, one line written with its
// own WriteFile as soon as it is known, so that a run that dies part-way
// keeps every line written before.
#pragma once

#include "ktFileIdentity.h"
#include "winapi.h"

#include <string>
#include <utility>
#include <vector>

// The report file of one run: it writes the lines, counts the entry lines
// that reached the file, and knows itself under any name a log entry gives.
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
    // Writes the line and its LF; false when the write failed (remembered,
    // and Error() tells why). The run goes on and later lines are still tried.
    bool WriteLine(const std::string& utf8Line);
    // An entry's line, counted under `outcome` when it was written.
    bool WriteEntry(const std::string& utf8Line, const std::string& outcome);
    bool WriteFailed() const { return writeFailed_; }
    // The last line: the counts of the entry lines written, and "complete"
    // false when any line before it was lost.
    bool WriteEnd(int exitCode, bool restart, unsigned long durationMs);
    void Close();

    // Whether `path` names this report file, by any spelling. The name is
    // compared first (long and short), so other files cost no system call.
    bool IsThisFile(const std::string& path) const;
    // What an entry that names the report says about it (the report is
    // never removed by its own run).
    void SetKeptMessage(const std::string& text) { keptMessage_ = text; }
    const std::string& KeptMessage() const { return keptMessage_; }

  private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    DWORD error_ = 0;
    bool writeFailed_ = false;
    TFileId id_;
    bool hasId_ = false;
    std::string longName_;  // upper case
    std::string shortName_; // upper case; empty when the system keeps none
    std::string keptMessage_;
    // Outcome name and how many entry lines of it were written, in the
    // order each outcome first appeared.
    std::vector<std::pair<std::string, long long>> counts_;
};

// The report's first line.
std::string ReportStartLine(const std::string& version, const std::string& logPath,
                            const std::vector<std::string>& options, const std::string& startTime);
// The report's last line; `counts` pairs each outcome with its count.
std::string ReportEndLine(const std::vector<std::pair<std::string, long long>>& counts,
                          int exitCode, bool restart, unsigned long durationMs, bool complete);
