// Reading another process's windows: texts, classes, children, top-level
// windows, and the small text helpers the robot compares and prints with.
#include "robot_windows.h"

#include <cstdio>
#include <cwchar>

namespace {

BOOL CALLBACK CollectChild(HWND child, LPARAM param) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(child);
    return TRUE;
}

struct WindowSearch {
    DWORD pid;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->pid && IsWindowVisible(window)) {
        search->found.push_back(window);
    }
    return TRUE;
}

} // namespace

std::string Narrow(const wchar_t* text, int length) {
    if (length <= 0) {
        return std::string();
    }
    int size = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size : 0, '\0');
    if (size > 0) {
        WideCharToMultiByte(CP_ACP, 0, text, length, &out[0], size, nullptr, nullptr);
    }
    return out;
}

// Another process's window text. Texts cross the process boundary in their
// wide form (Wine hands back wide text even to the ANSI call), so ask for it
// and convert; a window whose thread does not answer in time falls back to
// the text the window manager keeps.
std::string TextOf(HWND window) {
    static wchar_t buffer[8192];
    DWORD_PTR length = 0;
    if (SendMessageTimeoutW(window, WM_GETTEXT, 8191, reinterpret_cast<LPARAM>(buffer),
                            SMTO_ABORTIFHUNG, 1000, &length)) {
        buffer[8191] = 0;
        return Narrow(buffer, static_cast<int>(wcsnlen(buffer, 8191)));
    }
    int n = GetWindowTextW(window, buffer, 8191);
    return Narrow(buffer, n);
}

// The text the window manager keeps: no message to the window's thread,
// which does not answer while the program works through a phase.
std::string WindowText(HWND window) {
    static wchar_t buffer[1024];
    int n = GetWindowTextW(window, buffer, 1023);
    return Narrow(buffer, n);
}

// The class name without the version prefix ("6.0.0.0!Button") that a
// class registered through Common Controls 6 may carry.
std::string ClassOf(HWND window) {
    char buffer[256];
    int n = GetClassNameA(window, buffer, sizeof buffer);
    std::string name(buffer, n > 0 ? n : 0);
    return name.substr(name.find('!') + 1);
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> result;
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&result));
    return result;
}

HWND ChildById(HWND parent, int id) {
    for (HWND child : Children(parent)) {
        if (GetDlgCtrlID(child) == id) {
            return child;
        }
    }
    return nullptr;
}

std::vector<HWND> TopWindowsOf(DWORD processId) {
    WindowSearch search{processId, {}};
    EnumWindows(CollectTopWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string WithoutAmpersand(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c != '&') {
            out += c;
        }
    }
    return out;
}

bool SameText(const std::string& a, const std::string& b) {
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

std::string RectText(const RECT& r) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "rect=%ld,%ld,%ld,%ld", static_cast<long>(r.left),
                  static_cast<long>(r.top), static_cast<long>(r.right),
                  static_cast<long>(r.bottom));
    return buffer;
}
