// The journal is a line file: a header of three lines ("; Vantrel counter
// journal", "log=FULL PATH", "copy=SIZE,LAST WRITE TIME"), then lines
// "BEFORE,FILE NAME", appended before each count is written. Written
// through its own handle, each record reaches the file system before the
// count changes, so a kill between the two leaves a record whose count was
// not lowered yet: the count then still equals BEFORE and is lowered as
// usual.
#include "CounterJournal.h"

#include "ktFileBytes.h"
#include "ktPathNames.h"

#include "ktFileUtils.h"
#include "ktStrUtils.h"
#include "ktText.h"

#include <cstdio>
#include <vector>

namespace {

const char kMagic[] = "; Vantrel counter journal\r\n";
const char kLogLine[] = "log=";

// The log's path made absolute against the current directory, so that
// every spelling of a relative path names the same journal.
std::string FullLogPath(const std::string& path) {
    if (!path.empty() && path[0] == '/') {
        return path; // a native path
    }
    return NormalizedPath(path);
}

uint32_t Fnv1a(const std::string& text) {
    uint32_t hash = 2166136261u;
    for (unsigned char c : text) {
        hash = (hash ^ c) * 16777619u;
    }
    return hash;
}

std::string Hex(unsigned long long value, int width) {
    char text[24];
    std::snprintf(text, sizeof text, "%0*llx", width, value);
    return text;
}

} // namespace

std::string TCounterJournal::HeaderFor(const std::string& logPath) {
    if (logPath.find_first_of("*?") != std::string::npos) {
        return std::string();
    }
    WIN32_FIND_DATAA data;
    TScopedFind find(FindFirstFileA(logPath.c_str(), &data));
    if (!find || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return std::string();
    }
    unsigned long long size =
        (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    unsigned long long written =
        (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) |
        data.ftLastWriteTime.dwLowDateTime;
    return std::string(kMagic) + kLogLine + FullLogPath(logPath) +
           "\r\ncopy=" + std::to_string(size) + "," + Hex(written, 16) + "\r\n";
}

std::string TCounterJournal::PathFor(const std::string& logPath) {
    std::string header = HeaderFor(logPath);
    if (header.empty()) {
        return std::string();
    }
    return logPath + ".~vt" + Hex(Fnv1a(UpperCase(header)), 8) + ".counters";
}

TCounterJournal::TCounterJournal(const std::string& logPath)
    : path_(PathFor(logPath)), header_(HeaderFor(logPath)) {
    if (path_.empty() || !FileExists(path_)) {
        return;
    }
    std::string bytes;
    if (!ReadWholeFile(path_, bytes) ||
        UpperCase(bytes.substr(0, header_.size())) != UpperCase(header_)) {
        // Our header cut short by a stopped run, or some other file.
        restart_ = UpperCase(header_).compare(0, bytes.size(), UpperCase(bytes)) == 0 &&
                   bytes.size() < header_.size();
        foreign_ = !restart_;
        return;
    }
    size_t pos = header_.size();
    while (pos < bytes.size()) {
        size_t end = bytes.find_first_of("\r\n", pos);
        if (end == std::string::npos) {
            end = bytes.size();
        }
        std::string line = bytes.substr(pos, end - pos);
        pos = end + 1;
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
    if (path_.empty() || foreign_) {
        return;
    }
    std::string record;
    if (!file_) {
        // A journal of this log is appended to; ours cut short is written
        // afresh; otherwise the name must still be free.
        const bool append = FileExists(path_) && !restart_;
        file_.Reset(
            CreateFileA(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                        append ? OPEN_EXISTING : (restart_ ? TRUNCATE_EXISTING : CREATE_NEW),
                        FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file_) {
            return;
        }
        if (append) {
            SetFilePointer(file_.Get(), 0, nullptr, FILE_END);
        } else {
            record = header_;
        }
        restart_ = false;
    }
    // The line starts on a line of its own even after a record cut short.
    record += "\r\n" + std::to_string(before) + "," + fileName + "\r\n";
    DWORD written = 0;
    WriteFile(file_.Get(), record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    lowered_[fileName] = before;
}

void TCounterJournal::RemoveAfterLog(const std::string& logPath) {
    if (FileExists(logPath) || logPath.find_first_of("*?") != std::string::npos) {
        return;
    }
    const std::string owner =
        UpperCase(std::string(kMagic) + kLogLine + FullLogPath(logPath) + "\r\n");
    size_t cut = logPath.find_last_of("\\/:");
    const std::string folder = logPath.substr(0, cut == std::string::npos ? 0 : cut + 1);
    std::vector<std::string> ours;
    WIN32_FIND_DATAA data;
    TScopedFind find(FindFirstFileA((logPath + ".~vt*.counters").c_str(), &data));
    if (!find) {
        return;
    }
    do {
        std::string path = folder + data.cFileName;
        std::string bytes;
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && ReadWholeFile(path, bytes) &&
            UpperCase(bytes.substr(0, owner.size())) == owner) {
            ours.push_back(path);
        }
    } while (FindNextFileA(find.Get(), &data));
    find.Close();
    for (const std::string& path : ours) {
        DeleteFileA(path.c_str());
    }
}
