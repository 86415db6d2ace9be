// The report file, its first and last lines, and the texts they carry.
#include "ktReport.h"

#include "ktJson.h"
#include "ktPlatform.h"

#include <cstdio>

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
    return true;
}

void TReportFile::WriteLine(const std::string& utf8Line) {
    if (!IsOpen()) {
        return;
    }
    // One call per line: the line is on its way to the disk before the next
    // change is made.
    std::string line = utf8Line + "\n";
    DWORD written = 0;
    if (!WriteFile(handle_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written != line.size()) {
        writeFailed_ = true;
    }
}

void TReportFile::Close() {
    if (IsOpen()) {
        CloseHandle(handle_);
    }
    handle_ = INVALID_HANDLE_VALUE;
}

std::string ReportStartLine(const std::string& version, const std::string& logPath,
                            const std::vector<std::string>& options, const std::string& startTime) {
    const OSVERSIONINFOA& info = PlatformVersion();
    bool nt = info.dwPlatformId == VER_PLATFORM_WIN32_NT;
    // The 95 family keeps the version in the build number's high word.
    unsigned long build = nt ? info.dwBuildNumber : (info.dwBuildNumber & 0xFFFF);
    std::string line = "{\"type\":\"start\",\"program\":\"Vantrel Uninstaller\",\"version\":" +
                       JsonQuoteAnsi(version) + ",\"log\":" + JsonQuoteAnsi(logPath) +
                       ",\"options\":[";
    for (size_t i = 0; i < options.size(); ++i) {
        line += (i ? "," : "") + JsonQuoteAnsi(options[i]);
    }
    line += "],\"platform\":{\"family\":\"";
    line += nt ? "NT" : "95";
    line += "\",\"version\":\"" + std::to_string(info.dwMajorVersion) + "." +
            std::to_string(info.dwMinorVersion) + "." + std::to_string(build) +
            "\"},\"start\":" + JsonQuote(startTime) + "}";
    return line;
}

std::string ReportEndLine(const std::string& counts, int exitCode, bool restart,
                          unsigned long durationMs) {
    return "{\"type\":\"end\",\"counts\":" + counts + ",\"exit\":" + std::to_string(exitCode) +
           ",\"restart\":" + (restart ? "true" : "false") +
           ",\"duration_ms\":" + std::to_string(durationMs) + "}";
}
