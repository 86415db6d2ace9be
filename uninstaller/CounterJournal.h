// Which shared-file use counts this uninstall has lowered already, kept in a
// file beside the install log, so that a second run after an interrupted one
// does not lower a count twice (and then offer to remove a file that another
// program still uses).
#pragma once

#include "ktHandle.h"

#include <cstdint>
#include <string>
#include <unordered_map>

class TCounterJournal {
  public:
    // Reads what an earlier, interrupted run recorded for this log.
    explicit TCounterJournal(const std::string& logPath);

    // True when an earlier run lowered this file's count from counter + 1:
    // the count stands as that run left it and must not be lowered again.
    bool LoweredBefore(const std::string& fileName, int32_t counter) const;

    // Records, before the count is written, that it goes down from
    // `before`. Without a journal file (a folder that cannot be written)
    // nothing is recorded and the run goes on as before.
    void Record(const std::string& fileName, int32_t before);

    // Deletes the journal once its log is gone: no run can follow then.
    static void RemoveAfterLog(const std::string& logPath);

  private:
    std::string path_;
    std::unordered_map<std::string, int32_t> lowered_;
    TScopedHandle file_;
};
