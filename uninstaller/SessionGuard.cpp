// No shutdown part-way: the hidden window that refuses the session's end,
// its reason, and the check between two entries.
#include "SessionGuard.h"

#include "State.h"
#include "resource.h"

#include "ktLedger.h"

#include <vector>

namespace {

const int kReasonText = 39;
// Messages sent from outside are taken between two entries at most this
// often (milliseconds): no system call per entry on the way.
const DWORD kCheckInterval = 50;

typedef BOOL(WINAPI* TShutdownBlockReasonCreate)(HWND window, LPCWSTR reason);
typedef BOOL(WINAPI* TShutdownBlockReasonDestroy)(HWND window);

bool sessionEnded = false;
DWORD lastCheck = 0;

INT_PTR CALLBACK SessionProc(HWND, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_QUERYENDSESSION:
        // Handled: the dialog's answer is its message result, FALSE.
        return TRUE;
    case WM_ENDSESSION:
        if (wParam) {
            sessionEnded = true;
        }
        return TRUE;
    default:
        return FALSE;
    }
}

// The user32 call, or null where the system lacks it (before Vista).
FARPROC User32Proc(const char* name) {
    HMODULE user32 = GetModuleHandleA("user32.dll");
    return user32 == nullptr ? nullptr : GetProcAddress(user32, name);
}

void CreateReason(HWND window, const std::string& reason) {
    FARPROC proc = User32Proc("ShutdownBlockReasonCreate");
    if (proc == nullptr || window == nullptr) {
        return;
    }
    int length = MultiByteToWideChar(CP_ACP, 0, reason.c_str(), -1, nullptr, 0);
    if (length <= 0) {
        return;
    }
    std::vector<WCHAR> wide(static_cast<size_t>(length));
    MultiByteToWideChar(CP_ACP, 0, reason.c_str(), -1, wide.data(), length);
    reinterpret_cast<TShutdownBlockReasonCreate>(reinterpret_cast<void*>(proc))(window,
                                                                                wide.data());
}

void DestroyReason(HWND window) {
    FARPROC proc = User32Proc("ShutdownBlockReasonDestroy");
    if (proc != nullptr && window != nullptr) {
        reinterpret_cast<TShutdownBlockReasonDestroy>(reinterpret_cast<void*>(proc))(window);
    }
}

// After each entry: takes the messages sent to the process (the session's
// end among them) now and then, and stops the run once the session ended.
void CheckSession() {
    DWORD now = GetTickCount();
    if (now - lastCheck < kCheckInterval && !sessionEnded) {
        return;
    }
    lastCheck = now;
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    if (sessionEnded) {
        throw ESessionEnded();
    }
}

} // namespace

TSessionGuard::TSessionGuard() {
    sessionEnded = false;
    lastCheck = GetTickCount();
    window_ = CreateDialogParamA(ModuleHandle, RES_DLG_SESSION, nullptr, SessionProc, 0);
    std::string reason = GetMessageText(kReasonText);
    CreateReason(window_, reason);
    CreateReason(ProgressWindow, reason);
    Ledger().SetAfterEntry(CheckSession);
}

TSessionGuard::~TSessionGuard() {
    Ledger().SetAfterEntry(nullptr);
    DestroyReason(ProgressWindow);
    DestroyReason(window_);
    if (window_ != nullptr) {
        DestroyWindow(window_);
    }
}

bool SessionEnded() {
    return sessionEnded;
}
