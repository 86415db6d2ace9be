// The program entry's run: argument check, confirmation, progress window, the
// phases in their fixed order, the log's deletion and the final message.
#include "UnVantrel.h"

#include "CounterJournal.h"

#include "ktFileUtils.h"
#include "ktHandle.h"
#include "ktRegIni.h"
#include "ktUtils.h"
#include "resource.h"

#include <exception>

namespace {

const char kAppTitle[] = "Vantrel Uninstaller";

bool IsSeparator(char c) {
    unsigned char code = static_cast<unsigned char>(c);
    return code >= 1 && code <= 32;
}

// Owns the progress window for the run and keeps ProgressWindow in step, so
// that no phase sees a handle that was destroyed.
class TProgressWindowOwner {
  public:
    TProgressWindowOwner() = default;
    TProgressWindowOwner(const TProgressWindowOwner&) = delete;
    TProgressWindowOwner& operator=(const TProgressWindowOwner&) = delete;
    ~TProgressWindowOwner() {
        ProgressWindow = nullptr;
        window_.Close();
    }
    void Set(HWND window) {
        window_.Reset(window);
        ProgressWindow = window;
    }

  private:
    TScopedWindow window_;
};

// Frees the run's lists on every way out; declared before the window owner,
// so the window goes first.
struct TRunListsOwner {
    TRunListsOwner() = default;
    TRunListsOwner(const TRunListsOwner&) = delete;
    TRunListsOwner& operator=(const TRunListsOwner&) = delete;
    ~TRunListsOwner() {
        SectionEntries.Clear();
        KeptSharedFiles.Clear();
    }
};

void Run() {
    MsgBoxFlags = MB_SETFOREGROUND;
    AppTitle = kAppTitle;

    ModuleHandle = GetModuleHandleA(nullptr);
    InstallLogPath.clear();
    TRunListsOwner lists;
    SectionEntries.Clear();
    KeptSharedFiles.Clear();
    TProgressWindowOwner window;

    const char* commandLine = GetCommandLineA();
    std::vector<std::string> arguments = SplitCommandLine(commandLine ? commandLine : "");
    if (arguments.size() < 2) {
        ErrorBox(GetMessageText(2));
        return;
    }
    InstallLogPath = arguments[1];

    if (!FileExists(InstallLogPath)) {
        // A run stopped between deleting the log and its journal left this.
        TCounterJournal::RemoveAfterLog(InstallLogPath);
        ErrorBox(FormatOneString(GetMessageText(3), InstallLogPath));
        return;
    }

    if (QuestionBox(GetMessageText(4)) != IDYES) {
        return;
    }

    HWND dialog = CreateDialogParamA(ModuleHandle, RES_DLG_UNINSTALL, nullptr, nullptr, 0);
    if (dialog == nullptr) {
        ErrorBox("Cannot create DLG_UNINSTALL dialog!");
        return;
    }
    window.Set(dialog);
    SetWindowTextA(ProgressWindow, GetMessageText(1).c_str());

    if (!RunProgramsBefore()) {
        return;
    }

    SharedFilesPhase();
    ShortcutsPhase();
    AddIniPhase();
    RegFontsPhase();
    AddRegPhase();
    CreateKeysPhase();
    RegServersPhase();
    CopyFilesPhase();
    CreateDirsPhase();

    // Nothing is scheduled for restart when the log cannot go now.
    RemoveFile(InstallLogPath);
    TCounterJournal::RemoveAfterLog(InstallLogPath);

    RunProgramsAfter();

    MsgBox(ProgressWindow, kAppTitle, GetMessageText(5), MB_ICONINFORMATION);
}

} // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
    std::vector<std::string> arguments;
    size_t i = 0;
    const size_t length = commandLine.size();
    for (;;) {
        while (i < length && IsSeparator(commandLine[i])) {
            ++i;
        }
        if (i >= length) {
            break;
        }
        std::string argument;
        bool quoted = false;
        for (; i < length && (quoted || !IsSeparator(commandLine[i])); ++i) {
            if (commandLine[i] == '"') {
                quoted = !quoted;
            } else {
                argument += commandLine[i];
            }
        }
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

std::string FormatOneString(const std::string& format, const std::string& value) {
    std::string result;
    bool used = false;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            char next = format[i + 1];
            if (next == '%') {
                result += '%';
                ++i;
                continue;
            }
            if ((next == 's' || next == 'S') && !used) {
                result += value;
                used = true;
                ++i;
                continue;
            }
        }
        result += format[i];
    }
    return result;
}

int RunUninstall() {
    try {
        Run();
    } catch (const std::exception& error) {
        // Run's owners have closed the window and freed the lists by now.
        ErrorBox(error.what());
    }
    return 0;
}

void StartUp() {
    CoInitialize(nullptr);
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (GetVersionExA(&version)) {
        SetPlatformId(version.dwPlatformId);
    }
}

void ShutDown() {
    CoUninitialize();
    // The run is over: a failure here is reported to nobody.
    try {
        FreeIniFiles();
    } catch (...) {
    }
}
