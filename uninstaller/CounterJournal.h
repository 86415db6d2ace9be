// Which shared-file use counts this uninstall has lowered already, kept in a
// file beside the install log, so that a second run after an interrupted one
// does not lower a count twice (and then offer to remove a file that another
// program still uses).
//
// A journal belongs to one copy of one log: its header names the log's full
// path, size and last-write time, and its name "<log>.~vt<KEY>.counters"
// carries the program's mark and a key of those three. A journal is read,
// used or written only when its header matches the log as it stands, so one
// left by a run on an older copy of the log (before a reinstall) changes
// nothing, and no other file beside the log is ever touched.
#pragma once

#include "ktHandle.h"

#include <cstdint>
#include <string>
#include <unordered_map>

class TCounterJournal {
  public:
    // Reads what an earlier, interrupted run on this copy of the log
    // recorded.
    explicit TCounterJournal(const std::string& logPath);

    // True when an earlier run lowered this file's count from counter + 1:
    // the count stands as that run left it and must not be lowered again.
    bool LoweredBefore(const std::string& fileName, int32_t counter) const;

    // Records, before the count is written, that it goes down from
    // `before`. Without a journal file (a folder that cannot be written, or
    // a file of that name that is not this log's journal) nothing is
    // recorded and the run goes on as before.
    void Record(const std::string& fileName, int32_t before);

    // Once the log is gone no run can follow: deletes the journals of ours
    // that name this log's path (their header says so). Does nothing while
    // the log exists.
    static void RemoveAfterLog(const std::string& logPath);

    // The header a journal of this log as it stands begins with, and its
    // file name; empty when the log cannot be found.
    static std::string HeaderFor(const std::string& logPath);
    static std::string PathFor(const std::string& logPath);

  private:
    std::string path_;
    std::string header_;
    // The file at path_ holds part of our header only (a run stopped while
    // writing it): it is ours and may be written afresh.
    bool restart_ = false;
    // The file at path_ is not this log's journal: it is left alone.
    bool foreign_ = false;
    std::unordered_map<std::string, int32_t> lowered_;
    TScopedHandle file_;
};
