// The report file, its first and last lines, and the texts they carry.
#include "ktReport.h"

#include "ktHandle.h"
#include "ktJson.h"
#include "ktPlatform.h"
#include "ktText.h"

namespace {

// The last part of a path, without the trailing dots and blanks that the
// system drops from a name; empty when the path ends in a separator, "." or
// "..".
std::string FinalName(const std::string& path) {
    size_t slash = path.find_last_of("\\/:");
    std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
    size_t end = name.find_last_not_of(". ");
    name.erase(end == std::string::npos ? 0 : end + 1);
    return name;
}

} // namespace

TReportFile::~TReportFile() {
    Close();
}

bool TReportFile::Create(const std::string& path) {
    Close();
    handle_ = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
        error_ = GetLastError();
        return false;
    }
    hasId_ = FileIdOf(handle_, id_);
    WIN32_FIND_DATAA data;
    if (TScopedFind(FindFirstFileA(path.c_str(), &data))) {
        longName_ = UpperCase(data.cFileName);
        shortName_ = UpperCase(data.cAlternateFileName);
    } else {
        longName_ = UpperCase(FinalName(path));
    }
    return true;
}

bool TReportFile::WriteLine(const std::string& utf8Line) {
    if (!IsOpen()) {
        return false;
    }
    // One call per line: the line is on its way to the disk before the next
    // change is made.
    std::string line = utf8Line + "\n";
    DWORD written = 0;
    if (!WriteFile(handle_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written != line.size()) {
        error_ = GetLastError();
        writeFailed_ = true;
        return false;
    }
    return true;
}

bool TReportFile::WriteEntry(const std::string& utf8Line, const std::string& outcome) {
    if (!WriteLine(utf8Line)) {
        return false;
    }
    // A handful of outcomes: a walk is quicker than a map.
    for (auto& count : counts_) {
        if (count.first == outcome) {
            ++count.second;
            return true;
        }
    }
    counts_.emplace_back(outcome, 1);
    return true;
}

bool TReportFile::WriteEnd(int exitCode, bool restart, unsigned long durationMs) {
    return WriteLine(ReportEndLine(counts_, exitCode, restart, durationMs, !writeFailed_));
}

void TReportFile::Close() {
    if (IsOpen()) {
        CloseHandle(handle_);
    }
    handle_ = INVALID_HANDLE_VALUE;
}

bool TReportFile::IsThisFile(const std::string& path) const {
    if (!IsOpen() || !hasId_) {
        return false;
    }
    std::string name = FinalName(path);
    if (!name.empty() && name.size() != longName_.size() && name.size() != shortName_.size()) {
        return false;
    }
    if (!name.empty()) {
        std::string upper = UpperCase(name);
        if (upper != longName_ && upper != shortName_) {
            return false;
        }
    }
    TFileId id;
    return FileIdOf(path, id) && id == id_;
}

std::string ReportStartLine(const std::string& version, const std::string& logPath,
                            const std::vector<std::string>& options, const std::string& startTime) {
    const OSVERSIONINFOA& info = PlatformVersion();
    bool nt = info.dwPlatformId == VER_PLATFORM_WIN32_NT;
    // The 95 family keeps the version in the build number's high word.
    unsigned long build = nt ? info.dwBuildNumber : (info.dwBuildNumber & 0xFFFF);
    TJsonObject platform;
    platform.Text("family", nt ? "NT" : "95")
        .Text("version", std::to_string(info.dwMajorVersion) + "." +
                             std::to_string(info.dwMinorVersion) + "." + std::to_string(build));
    return TJsonObject()
        .Text("type", "start")
        .Text("program", "Vantrel Uninstaller")
        .Text("version", version)
        .Text("log", logPath)
        .TextArray("options", options)
        .Object("platform", platform)
        .Text("start", startTime)
        .Done();
}

std::string ReportEndLine(const std::vector<std::pair<std::string, long long>>& counts,
                          int exitCode, bool restart, unsigned long durationMs, bool complete) {
    TJsonObject countsObject;
    for (const auto& count : counts) {
        countsObject.Number(count.first.c_str(), count.second);
    }
    return TJsonObject()
        .Text("type", "end")
        .Object("counts", countsObject)
        .Number("exit", exitCode)
        .Bool("restart", restart)
        .Number("duration_ms", static_cast<long long>(durationMs))
        .Bool("complete", complete)
        .Done();
}
