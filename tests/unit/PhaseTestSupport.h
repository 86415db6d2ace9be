// Shared by the suites of the removal phases, the shared files and the
// programs: an install log in the test's folder, the run's state reset around
// each test, a real progress window whose lines can be read back, and the
// test programs' folder and log.
#pragma once

#include "TestSupport.h"
#include "UnVantrel.h"
#include "ktLedger.h"

#include "resource.h"
#include "ktIniCache.h"

#include <string>
#include <vector>

// The folder that holds vt_recorder.exe and the test libraries, with a
// trailing separator.
inline std::string TestProgramsDir() {
    return std::string(VANTREL_TEST_PROGRAMS_DIR) + "/";
}
inline std::string TestProgram(const std::string& name) {
    return TestProgramsDir() + name;
}
// True in the native build (a compile-time constant, looked at at run time).
inline bool NativeBuild() {
    return VANTREL_NATIVE_BUILD != 0;
}

// Lines of a text file, without their line ends; empty when it is missing.
inline std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::string bytes = ReadBytes(path);
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) {
            end = bytes.size();
        }
        std::string line = bytes.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

class PhaseTest : public TempRegTest {
  protected:
    // One progress window serves a whole suite (destroying a window is slow
    // under Wine); each test reads only the lines added after its start.
    static void SetUpTestSuite() {
        ModuleHandle = GetModuleHandleA(nullptr);
        suiteWindow_ = CreateDialogParamA(ModuleHandle, RES_DLG_UNINSTALL, nullptr, nullptr, 0);
    }
    static void TearDownTestSuite() {
        if (suiteWindow_ != nullptr) {
            DestroyWindow(suiteWindow_);
            suiteWindow_ = nullptr;
        }
    }
    void SetUp() override {
        TempRegTest::SetUp();
        FreeIniFiles();
        ModuleHandle = GetModuleHandleA(nullptr);
        SectionEntries.Clear();
        KeptSharedFiles.Clear();
        CurrentSharedFile.clear();
        InstallLogPath = PathOf("install.log");
        RunOptions = TRunOptions();
        Ledger().Start(false, nullptr);
        ASSERT_NE(suiteWindow_, nullptr) << "cannot create the progress window";
        ProgressWindow = suiteWindow_;
        firstLine_ = SendDlgItemMessageA(ProgressWindow, IDC_PROGRESS_LIST, LB_GETCOUNT, 0, 0);
    }
    void TearDown() override {
        FreeIniFiles();
        ProgressWindow = nullptr;
        SectionEntries.Clear();
        KeptSharedFiles.Clear();
        InstallLogPath.clear();
        TempRegTest::TearDown();
    }

    // Writes the install log (CR LF line ends) from its lines.
    void WriteLog(const std::vector<std::string>& lines) {
        std::string bytes;
        for (const auto& line : lines) {
            bytes += line + "\r\n";
        }
        WriteBytes(InstallLogPath, bytes);
    }

    std::vector<std::string> ProgressLines() const {
        std::vector<std::string> lines;
        LRESULT count = SendDlgItemMessageA(ProgressWindow, IDC_PROGRESS_LIST, LB_GETCOUNT, 0, 0);
        for (LRESULT i = firstLine_; i < count; ++i) {
            char buffer[1024] = {};
            SendDlgItemMessageA(ProgressWindow, IDC_PROGRESS_LIST, LB_GETTEXT,
                                static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buffer));
            lines.push_back(buffer);
        }
        return lines;
    }

    // The lines of a string list, as a vector.
    static std::vector<std::string> Lines(const TStringList& list) { return list.ToVector(); }

  private:
    static inline HWND suiteWindow_ = nullptr;
    LRESULT firstLine_ = 0;
};
