// The journal is a line file "<log>.counters" of lines "BEFORE,FILE NAME",
// appended before each count is written. Written through its own handle,
// each record reaches the file system before the count changes, so a kill
// between the two leaves a record whose count was not lowered yet: the
// count then still equals BEFORE and is lowered as usual.
#include "CounterJournal.h"

#include "ktFileUtils.h"
#include "ktStrUtils.h"

namespace {

std::string JournalPath(const std::string& logPath) {
    return logPath + ".counters";
}

} // namespace

TCounterJournal::TCounterJournal(const std::string& logPath) : path_(JournalPath(logPath)) {
    if (!FileExists(path_)) {
        return;
    }
    TScopedHandle in(CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!in) {
        return;
    }
    TBlockLineReader reader(static_cast<TFileHandle>(reinterpret_cast<intptr_t>(in.Get())));
    std::string line;
    while (reader.Next(line)) {
        size_t comma = line.find(',');
        int32_t before = 0;
        // A record cut short by the interruption has no name or no number.
        if (comma != std::string::npos && comma + 1 < line.size() &&
            TryStrToInt(line.substr(0, comma), before)) {
            lowered_[line.substr(comma + 1)] = before;
        }
    }
}

bool TCounterJournal::LoweredBefore(const std::string& fileName, int32_t counter) const {
    auto found = lowered_.find(fileName);
    return found != lowered_.end() && found->second - 1 == counter;
}

void TCounterJournal::Record(const std::string& fileName, int32_t before) {
    if (!file_) {
        file_.Reset(CreateFileA(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file_) {
            return;
        }
        SetFilePointer(file_.Get(), 0, nullptr, FILE_END);
    }
    // The line starts on a line of its own even after a record cut short.
    std::string record = "\r\n" + std::to_string(before) + "," + fileName + "\r\n";
    DWORD written = 0;
    WriteFile(file_.Get(), record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    lowered_[fileName] = before;
}

void TCounterJournal::RemoveAfterLog(const std::string& logPath) {
    const std::string path = JournalPath(logPath);
    if (!FileExists(logPath) && FileExists(path)) {
        DeleteFileA(path.c_str());
    }
}
