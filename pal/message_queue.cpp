// The thread's message queue: posted messages, WM_QUIT after everything
// posted before it, and the terminal's interrupt (SIGINT) as a posted quit.
// Sent messages go straight to the window's handler; a broadcast reaches
// every top-level window of the process.
#include "windowing.h"

#include <csignal>
#include <cstring>
#include <deque>
#include <vector>

namespace pal::ui {

namespace {

volatile sig_atomic_t interrupted = 0;
volatile sig_atomic_t quitPosted = 0;
int quitCode = 0;

void OnInterrupt(int) {
    if (interrupted || quitPosted) {
        // A second interrupt while the first is still unanswered ends the
        // process, so a program that never looks at its queue can be stopped.
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
        return;
    }
    interrupted = 1;
}

std::deque<MSG> queue;

bool FilterMatches(const MSG& msg, HWND hwnd, UINT minMsg, UINT maxMsg) {
    if (minMsg != 0 || maxMsg != 0) {
        if (msg.message < minMsg || msg.message > maxMsg) {
            return false;
        }
    }
    if (hwnd == reinterpret_cast<HWND>(-1)) {
        return msg.hwnd == nullptr;
    }
    if (hwnd == nullptr) {
        return true;
    }
    if (msg.hwnd == hwnd) {
        return true;
    }
    Window* target = Find(msg.hwnd);
    return target && target->parent == hwnd && target->kind == Kind::Control;
}

} // namespace

std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> handles;
    for (const auto& entry : Windows()) {
        if (entry.second->kind != Kind::Control) {
            handles.push_back(entry.second->handle);
        }
    }
    return handles;
}

void TakeInterrupt() {
    if (interrupted) {
        interrupted = 0;
        quitPosted = 1;
        quitCode = 0;
    }
}

bool QuitPending() {
    return quitPosted != 0;
}

// Removes and returns the first posted message for the window or one of its
// controls.
bool TakePosted(HWND hwnd, MSG& msg) {
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (it->hwnd && FilterMatches(*it, hwnd, 0, 0)) {
            msg = *it;
            queue.erase(it);
            return true;
        }
    }
    return false;
}

} // namespace pal::ui

namespace pal {

void InstallInterruptHandler() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = ui::OnInterrupt;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a read waiting for an answer must see the interrupt.
    sigaction(SIGINT, &action, nullptr);
}

} // namespace pal

using namespace pal::ui;

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (hWnd == HWND_BROADCAST) {
        // Every top-level window of the process; a window that a handler
        // destroys on the way is skipped. This process's windows are the only
        // ones on this machine.
        for (HWND handle : TopLevelWindows()) {
            if (Find(handle)) {
                SendMessageA(handle, Msg, wParam, lParam);
            }
        }
        return 0;
    }
    Window* window = FindOrFail(hWnd);
    if (!window) {
        return 0;
    }
    switch (Msg) {
    case WM_SETTEXT:
        return SetWindowTextA(hWnd, reinterpret_cast<LPCSTR>(lParam));
    case WM_GETTEXT:
        return GetWindowTextA(hWnd, reinterpret_cast<LPSTR>(lParam), static_cast<int>(wParam));
    default:
        break;
    }
    if (window->kind == Kind::Dialog) {
        return SendToDialog(hWnd, Msg, wParam, lParam);
    }
    if (window->kind != Kind::Control) {
        return Msg == WM_QUERYENDSESSION ? TRUE : 0; // a message box lets the session end
    }
    return SendToControl(window, Msg, wParam, lParam);
}

LRESULT WINAPI SendMessageTimeoutA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT, UINT,
                                   DWORD_PTR* lpdwResult) {
    if (hWnd != HWND_BROADCAST && !FindOrFail(hWnd)) {
        return 0;
    }
    LRESULT result = SendMessageA(hWnd, Msg, wParam, lParam);
    if (lpdwResult) {
        *lpdwResult = static_cast<DWORD_PTR>(result);
    }
    return 1;
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (hWnd == HWND_BROADCAST) {
        for (HWND handle : TopLevelWindows()) {
            PostMessageA(handle, Msg, wParam, lParam);
        }
        return TRUE;
    }
    if (hWnd && !FindOrFail(hWnd)) {
        return FALSE;
    }
    MSG msg;
    std::memset(&msg, 0, sizeof msg);
    msg.hwnd = hWnd;
    msg.message = Msg;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = GetTickCount();
    queue.push_back(msg);
    return TRUE;
}

void WINAPI PostQuitMessage(int nExitCode) {
    quitPosted = 1;
    quitCode = nExitCode;
}

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax,
                         UINT wRemoveMsg) {
    // Messages sent from outside the process: the session's end.
    DeliverSessionEnd();
    if (wRemoveMsg & PM_QS_SENDMESSAGE) {
        return FALSE; // sent messages only, and those went to their windows
    }
    TakeInterrupt();
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (FilterMatches(*it, hWnd, wMsgFilterMin, wMsgFilterMax)) {
            *lpMsg = *it;
            if (wRemoveMsg & PM_REMOVE) {
                queue.erase(it);
            }
            return TRUE;
        }
    }
    // WM_QUIT comes after everything posted before it, whatever the range.
    if (quitPosted && (hWnd == nullptr || hWnd == reinterpret_cast<HWND>(-1))) {
        std::memset(lpMsg, 0, sizeof *lpMsg);
        lpMsg->message = WM_QUIT;
        lpMsg->wParam = static_cast<WPARAM>(quitCode);
        if (wRemoveMsg & PM_REMOVE) {
            quitPosted = 0;
        }
        return TRUE;
    }
    return FALSE;
}

BOOL WINAPI TranslateMessage(const MSG*) {
    return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg) {
    if (!lpMsg || !lpMsg->hwnd) {
        return 0;
    }
    Window* window = Find(lpMsg->hwnd);
    if (!window) {
        return 0;
    }
    if (window->kind == Kind::Dialog) {
        return SendToDialog(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
    }
    if (window->kind == Kind::Control) {
        return SendMessageA(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
    }
    return 0;
}
