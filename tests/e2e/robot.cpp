// The end-to-end robot: starts the uninstaller with a raw command line, reads
// every window the uninstaller shows (message boxes, the shared-file question,
// the progress list), presses the scripted buttons and writes what it saw in
// the tagged line format of the native build's terminal front-end
// (pal/README.md), so that one parser reads both transcripts:
//   [box] rect=L,T,R,B / [caption] / [text] (one per line) / [buttons] 6 Yes |
//   7 No / [answer] Yes; [window] DLG_UNINSTALL rect=... / [caption] /
//   [progress] (one per list line, read whenever a box appears and while the
//   program runs); [dialog] DLG_DELSHARED rect=... / [caption] / [field N] /
//   [buttons] / [answer]. The robot adds what the terminal cannot show:
//   [screen] WxH first, [control] id=N class=C rect=... for every control
//   of a dialog or box,
//   [icon] when a box shows an icon, [timeout] when the program had to be
//   killed, and [exit] N with the program's exit code. The hook's lines
//   ([progress], [closed] DLG_UNINSTALL) and the test programs' [started]
//   lines come from the hook log in the order they happened; the log is
//   read before every box, so a box that appears after the progress window
//   closed follows its [closed] line.
// Usage: robot JOBFILE, where JOBFILE holds lines "exe=", "args=" (the raw
// arguments after the program name), "out=", "timeout=" (seconds after the
// start and after each answer) and any number of "answer=" lines in order;
// optionally "cwd=" (the program's current directory) and "watch=1": answer
// nothing, and report every top-level window the program shows as
// [shown] class=C caption, once per window, whether the robot sees it while
// it polls or the hook records it being shown (a silent run must show none).
// Every wait is bounded: a program that does not end in time is killed.
#include "robot_windows.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

struct Job {
    std::string exe;
    std::string args;
    std::string out;
    DWORD timeoutMs = 20000;
    std::vector<std::string> answers;
    std::string cwd;
    bool watch = false;
};

bool ReadJob(const char* path, Job& job) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos) {
            continue;
        }
        std::string key = line.substr(0, eq);
        std::string value = line.substr(eq + 1);
        if (key == "exe") {
            job.exe = value;
        } else if (key == "args") {
            job.args = value;
        } else if (key == "out") {
            job.out = value;
        } else if (key == "timeout") {
            job.timeoutMs = static_cast<DWORD>(std::atoi(value.c_str())) * 1000;
        } else if (key == "answer") {
            job.answers.push_back(value);
        } else if (key == "cwd") {
            job.cwd = value;
        } else if (key == "watch") {
            job.watch = value == "1";
        }
    }
    return !job.exe.empty() && !job.out.empty();
}

class Transcript {
  public:
    explicit Transcript(const std::string& path) : file_(std::fopen(path.c_str(), "wb")) {}
    ~Transcript() {
        if (file_) {
            std::fclose(file_);
        }
    }
    bool Ok() const { return file_ != nullptr; }
    // One tagged line per line of the text: CR, LF and CR LF each end a line.
    void Emit(const std::string& tag, const std::string& text = std::string()) {
        std::string line;
        for (size_t i = 0; i <= text.size(); ++i) {
            if (i == text.size() || text[i] == '\r' || text[i] == '\n') {
                Write(line.empty() ? tag : tag + " " + line);
                line.clear();
                if (i < text.size() && text[i] == '\r' && i + 1 < text.size() &&
                    text[i + 1] == '\n') {
                    ++i;
                }
            } else {
                line += text[i];
            }
        }
    }

  private:
    void Write(const std::string& line) {
        if (file_) {
            std::fputs(line.c_str(), file_);
            std::fputc('\n', file_);
            std::fflush(file_);
        }
    }

    FILE* file_;
};

class Robot {
  public:
    Robot(const Job& job, Transcript& transcript) : job_(job), out_(transcript) {}

    int Run() {
        std::string commandLine = "\"" + job_.exe + "\"";
        if (!job_.args.empty()) {
            commandLine += " " + job_.args;
        }
        // The screen the centring is measured against.
        out_.Emit("[screen]", std::to_string(GetSystemMetrics(SM_CXSCREEN)) + "x" +
                                  std::to_string(GetSystemMetrics(SM_CYSCREEN)));
        InstallHook();
        shownLog_ = job_.out + ".shown";
        DeleteFileA(shownLog_.c_str());
        if (job_.watch) {
            SetEnvironmentVariableA("VANTREL_E2E_SHOWNLOG", shownLog_.c_str());
        }
        std::vector<char> buffer(commandLine.begin(), commandLine.end());
        buffer.push_back('\0');
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            job_.cwd.empty() ? nullptr : job_.cwd.c_str(), &startup, &process)) {
            out_.Emit("[robot]", "CreateProcessA failed: " + std::to_string(GetLastError()));
            return 2;
        }
        CloseHandle(process.hThread);
        pid_ = process.dwProcessId;
        DWORD deadline = GetTickCount() + job_.timeoutMs;
        bool timedOut = false;
        for (;;) {
            if (WaitForSingleObject(process.hProcess, 20) == WAIT_OBJECT_0) {
                break;
            }
            if (job_.watch) {
                Watch();
            } else {
                Poll(deadline);
            }
            if (static_cast<LONG>(GetTickCount() - deadline) > 0) {
                timedOut = true;
                TerminateProcess(process.hProcess, 255);
                WaitForSingleObject(process.hProcess, 5000);
                break;
            }
        }
        if (timedOut) {
            out_.Emit("[timeout]");
        }
        CatchUp();
        if (job_.watch) {
            ReadShownLog();
        }
        if (hook_) {
            UnhookWindowsHookEx(hook_);
        }
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hProcess);
        out_.Emit("[exit]", std::to_string(code));
        return timedOut ? 3 : 0;
    }

  private:
    // The progress lines come from the hook in the program's process when it
    // can be installed; otherwise they are read from the list box.
    void InstallHook() {
        char self[MAX_PATH];
        DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
        std::string dir(self, n);
        dir = dir.substr(0, dir.find_last_of("\\/") + 1);
        hookLog_ = job_.out + ".hook";
        DeleteFileA(hookLog_.c_str());
        SetEnvironmentVariableA("VANTREL_E2E_HOOKLOG", hookLog_.c_str());
        // The test programs that the uninstaller starts note their start there.
        SetEnvironmentVariableA("VANTREL_E2E_STARTS", hookLog_.c_str());
        library_ = LoadLibraryA((dir + "e2e_robothook.dll").c_str());
        if (!library_) {
            return;
        }
        FARPROC proc = GetProcAddress(library_, "ProgressHook@12");
        if (!proc) {
            proc = GetProcAddress(library_, "ProgressHook");
        }
        if (proc) {
            hook_ = SetWindowsHookExA(WH_CALLWNDPROC,
                                      reinterpret_cast<HOOKPROC>(reinterpret_cast<void*>(proc)),
                                      library_, 0);
        }
    }

    void ReadHookLog() {
        if (!hook_) {
            return;
        }
        std::ifstream in(hookLog_, std::ios::binary);
        if (!in) {
            return;
        }
        in.seekg(hookOffset_);
        std::string line;
        while (std::getline(in, line)) {
            if (in.eof()) {
                break; // a line still being written
            }
            hookOffset_ += static_cast<std::streamoff>(line.size() + 1);
            out_.Emit(line); // already tagged
        }
    }

    // Everything the hook logged, and the progress window's end when it has
    // gone (noted by the robot itself only when there is no hook).
    void CatchUp() {
        ReadHookLog();
        if (progress_ && !IsWindow(progress_)) {
            if (!hook_) {
                out_.Emit("[closed]", "DLG_UNINSTALL");
            }
            progress_ = nullptr;
        }
    }

    // Watch mode: every visible top-level window is reported once, and
    // nothing is answered.
    void Watch() {
        for (HWND window : TopWindowsOf(pid_)) {
            if (shown_.insert(reinterpret_cast<UINT_PTR>(window)).second) {
                out_.Emit("[shown]", "class=" + ClassOf(window) + " " + WindowText(window));
            }
        }
    }

    // The windows the hook saw being shown, in the form "HWND CLASS CAPTION".
    void ReadShownLog() {
        std::ifstream in(shownLog_, std::ios::binary);
        std::string line;
        while (std::getline(in, line)) {
            size_t blank = line.find(' ');
            size_t second = blank == std::string::npos ? blank : line.find(' ', blank + 1);
            if (second == std::string::npos) {
                continue;
            }
            UINT_PTR handle = std::strtoul(line.substr(0, blank).c_str(), nullptr, 16);
            if (shown_.insert(handle).second) {
                out_.Emit("[shown]", "class=" + line.substr(blank + 1, second - blank - 1) + " " +
                                         line.substr(second + 1));
            }
        }
    }

    void Poll(DWORD& deadline) {
        CatchUp();
        std::vector<HWND> windows = TopWindowsOf(pid_);
        for (HWND window : windows) {
            if (IsProgressWindow(window)) {
                ReadProgress(window);
            }
        }
        for (HWND window : windows) {
            if (IsProgressWindow(window) || answered_.count(window)) {
                continue;
            }
            // Let the program's activation hook move the box first: wait
            // until the window has kept its place for a moment (bounded).
            RECT before{};
            GetWindowRect(window, &before);
            for (int i = 0; i < 40; ++i) {
                Sleep(50);
                RECT now{};
                GetWindowRect(window, &now);
                if (i >= 2 && EqualRect(&before, &now)) {
                    break;
                }
                before = now;
            }
            if (!IsWindow(window)) {
                continue;
            }
            CatchUp();
            if (progress_) {
                ReadProgress(progress_);
            }
            if (ChildById(window, 107)) {
                Dialog(window);
            } else {
                Box(window);
            }
            answered_.insert(window);
            deadline = GetTickCount() + job_.timeoutMs;
        }
        // Forget closed windows, so that a reused handle counts as new.
        for (auto it = answered_.begin(); it != answered_.end();) {
            it = IsWindow(*it) ? std::next(it) : answered_.erase(it);
        }
    }

    bool IsProgressWindow(HWND window) {
        if (window == progress_) {
            return true;
        }
        HWND list = ChildById(window, 101);
        if (list && SameText(ClassOf(list), "ListBox")) {
            progress_ = window;
            progressLines_ = 0;
            RECT rect{};
            GetWindowRect(window, &rect);
            out_.Emit("[window]", "DLG_UNINSTALL " + RectText(rect));
            progressCaption_ = WindowText(window);
            out_.Emit("[caption]", progressCaption_);
            return true;
        }
        return false;
    }

    void ReadProgress(HWND window) {
        if (!IsWindow(window)) {
            return;
        }
        // The caption is set right after the window appears; report a change
        // as the terminal does.
        std::string caption = WindowText(window);
        if (caption != progressCaption_) {
            progressCaption_ = caption;
            out_.Emit("[caption]", caption);
        }
        HWND list = ChildById(window, 101);
        if (!list) {
            return;
        }
        if (hook_) {
            ReadHookLog();
            return;
        }
        DWORD_PTR count = 0;
        if (!SendMessageTimeoutA(list, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 300, &count) ||
            static_cast<LONG_PTR>(count) == LB_ERR) {
            return;
        }
        for (; progressLines_ < static_cast<int>(count); ++progressLines_) {
            DWORD_PTR length = 0;
            if (!SendMessageTimeoutW(list, LB_GETTEXTLEN, progressLines_, 0, SMTO_ABORTIFHUNG, 300,
                                     &length) ||
                static_cast<LONG_PTR>(length) == LB_ERR) {
                return;
            }
            // Room to spare: the length may be counted in either form.
            std::vector<wchar_t> text(2 * length + 16, L'\0');
            DWORD_PTR got = 0;
            if (!SendMessageTimeoutW(list, LB_GETTEXT, progressLines_,
                                     reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG, 300,
                                     &got) ||
                static_cast<LONG_PTR>(got) == LB_ERR) {
                return;
            }
            std::string line =
                Narrow(text.data(), static_cast<int>(wcsnlen(text.data(), text.size())));
            out_.Emit("[progress]", line);
        }
    }

    std::string NextAnswer() {
        if (nextAnswer_ < job_.answers.size()) {
            return job_.answers[nextAnswer_++];
        }
        return std::string();
    }

    void Box(HWND box) {
        RECT rect{};
        GetWindowRect(box, &rect);
        std::string text;
        bool icon = false;
        std::vector<std::string> controls;
        std::vector<std::pair<HWND, std::string>> buttons;
        for (HWND child : Children(box)) {
            std::string cls = ClassOf(child);
            LONG style = GetWindowLongA(child, GWL_STYLE);
            RECT r{};
            GetWindowRect(child, &r);
            OffsetRect(&r, -rect.left, -rect.top);
            controls.push_back("id=" + std::to_string(GetDlgCtrlID(child)) + " class=" + cls + " " +
                               RectText(r));
            if (SameText(cls, "Button")) {
                if (IsWindowVisible(child)) {
                    buttons.emplace_back(child, WithoutAmpersand(TextOf(child)));
                }
            } else if (SameText(cls, "Static")) {
                if ((style & SS_TYPEMASK) == SS_ICON) {
                    icon = icon || IsWindowVisible(child);
                } else if (GetDlgCtrlID(child) == 0xFFFF || text.empty()) {
                    text = TextOf(child);
                }
            }
        }
        // As the terminal does: an answer that names no button of the box is
        // reported and the next one taken; Esc is Cancel, or OK in an OK-only
        // box; at the end of the answers the box takes Cancel, No, or its
        // first button.
        auto find = [&](const std::string& label) -> HWND {
            for (auto& button : buttons) {
                if (SameText(button.second, label)) {
                    return button.first;
                }
            }
            return nullptr;
        };
        std::string answer;
        HWND press = nullptr;
        std::vector<std::string> hints;
        while (!press && nextAnswer_ < job_.answers.size()) {
            answer = NextAnswer();
            press = find(answer);
            if (!press && SameText(answer, "Esc")) {
                press = find("Cancel");
                if (!press && buttons.size() == 1) {
                    press = find("OK");
                }
            }
            if (!press) {
                hints.push_back("no button for the answer \"" + answer + "\"");
            }
        }
        if (!press) {
            for (const char* fallback : {"Cancel", "No"}) {
                if (!press) {
                    press = find(fallback);
                }
            }
            if (!press && !buttons.empty()) {
                press = buttons.front().first;
            }
            answer = std::string(press ? WithoutAmpersand(TextOf(press)) : "") + " (end of input)";
        }
        out_.Emit("[box]", RectText(rect));
        out_.Emit("[caption]", TextOf(box));
        out_.Emit("[text]", text);
        std::string labels;
        for (auto& button : buttons) {
            labels += (labels.empty() ? "" : " | ") + std::to_string(GetDlgCtrlID(button.first)) +
                      " " + button.second;
        }
        out_.Emit("[buttons]", labels);
        if (icon) {
            out_.Emit("[icon]");
        }
        for (const std::string& control : controls) {
            out_.Emit("[control]", control);
        }
        for (const std::string& hint : hints) {
            out_.Emit("[hint]", hint);
        }
        out_.Emit("[answer]", answer);
        if (press) {
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(press), BN_CLICKED),
                         reinterpret_cast<LPARAM>(press));
        } else {
            PostMessageA(box, WM_COMMAND, IDCANCEL, 0);
        }
    }

    void Dialog(HWND dialog) {
        RECT rect{};
        GetWindowRect(dialog, &rect);
        out_.Emit("[dialog]", "DLG_DELSHARED " + RectText(rect));
        out_.Emit("[caption]", TextOf(dialog));
        std::string labels;
        for (HWND child : Children(dialog)) {
            int id = GetDlgCtrlID(child);
            std::string cls = ClassOf(child);
            std::string text = TextOf(child);
            RECT r{};
            GetWindowRect(child, &r);
            OffsetRect(&r, -rect.left, -rect.top);
            out_.Emit("[control]",
                      "id=" + std::to_string(id) + " class=" + cls + " " + RectText(r));
            if (SameText(cls, "Button")) {
                labels += (labels.empty() ? "" : " | ") + std::to_string(id) + " " +
                          WithoutAmpersand(text);
            } else {
                out_.Emit("[field " + std::to_string(id) + "]", text);
            }
        }
        out_.Emit("[buttons]", labels);
        // The buttons by label (the texts the dialog shows) or id; Esc is
        // IDCANCEL, as is the end of the answers.
        std::string answer;
        int id = 0;
        while (id == 0 && nextAnswer_ < job_.answers.size()) {
            answer = NextAnswer();
            if (SameText(answer, "Esc")) {
                id = IDCANCEL;
                break;
            }
            for (HWND child : Children(dialog)) {
                int childId = GetDlgCtrlID(child);
                if (SameText(ClassOf(child), "Button") &&
                    (SameText(WithoutAmpersand(TextOf(child)), answer) ||
                     answer == std::to_string(childId))) {
                    id = childId;
                    break;
                }
            }
            if (id == 0) {
                out_.Emit("[hint]", "no button for the answer \"" + answer + "\"");
            }
        }
        if (id == 0) {
            id = IDCANCEL;
            answer = "Esc (end of input)";
        }
        out_.Emit("[answer]", answer);
        HWND button = id == IDCANCEL ? nullptr : ChildById(dialog, id);
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
    }

    const Job& job_;
    Transcript& out_;
    DWORD pid_ = 0;
    HWND progress_ = nullptr;
    int progressLines_ = 0;
    std::string progressCaption_;
    std::string hookLog_;
    std::streamoff hookOffset_ = 0;
    HMODULE library_ = nullptr;
    HHOOK hook_ = nullptr;
    size_t nextAnswer_ = 0;
    std::set<HWND> answered_;
    std::string shownLog_;
    std::set<UINT_PTR> shown_;
};

} // namespace

int main(int argc, char** argv) {
    Job job;
    if (argc < 2 || !ReadJob(argv[1], job)) {
        std::fprintf(stderr, "usage: robot JOBFILE (exe=, args=, out=, timeout=, answer=)\n");
        return 1;
    }
    Transcript transcript(job.out);
    if (!transcript.Ok()) {
        std::fprintf(stderr, "robot: cannot write %s\n", job.out.c_str());
        return 1;
    }
    return Robot(job, transcript).Run();
}
