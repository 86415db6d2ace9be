// CBT hooks of the native build: WH_CBT only, and only HCBT_ACTIVATE is
// delivered, when a message box or dialog is about to be shown.
#include "windowing.h"

#include <vector>

namespace pal::ui {

namespace {

struct Hook {
    HHOOK handle;
    int type;
    HOOKPROC proc;
};

std::vector<Hook>& Hooks() {
    static std::vector<Hook> hooks;
    return hooks;
}
uintptr_t nextHookValue = 0x20000;

// Calls the hooks of a type from the newest down, starting below `after`
// (null: from the newest). Each hook decides whether to pass the call on.
LRESULT CallHooksBelow(int type, HHOOK after, int code, WPARAM wParam, LPARAM lParam) {
    auto& hooks = Hooks();
    size_t index = hooks.size();
    if (after) {
        index = 0;
        while (index < hooks.size() && hooks[index].handle != after) {
            ++index;
        }
        if (index == hooks.size()) {
            return 0;
        }
    }
    while (index > 0) {
        --index;
        if (hooks[index].type == type) {
            // Copy: the procedure may remove itself or others.
            Hook hook = hooks[index];
            return hook.proc(code, wParam, lParam);
        }
    }
    return 0;
}

} // namespace

void Activate(Window* window) {
    HWND handle = window->handle;
    CallHooksBelow(WH_CBT, nullptr, HCBT_ACTIVATE, reinterpret_cast<WPARAM>(handle), 0);
}

} // namespace pal::ui

using namespace pal::ui;

HHOOK WINAPI SetWindowsHookExA(int idHook, HOOKPROC lpfn, HINSTANCE, DWORD dwThreadId) {
    if (idHook != WH_CBT || !lpfn) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // One thread shows windows; a hook for another thread would never run.
    if (dwThreadId != 0 && dwThreadId != GetCurrentThreadId()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    nextHookValue += 4;
    HHOOK handle = reinterpret_cast<HHOOK>(nextHookValue);
    Hooks().push_back(Hook{handle, idHook, lpfn});
    return handle;
}

BOOL WINAPI UnhookWindowsHookEx(HHOOK hhk) {
    auto& hooks = Hooks();
    for (auto it = hooks.begin(); it != hooks.end(); ++it) {
        if (it->handle == hhk) {
            hooks.erase(it);
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

LRESULT WINAPI CallNextHookEx(HHOOK hhk, int nCode, WPARAM wParam, LPARAM lParam) {
    for (const Hook& hook : Hooks()) {
        if (hook.handle == hhk) {
            return CallHooksBelow(hook.type, hhk, nCode, wParam, lParam);
        }
    }
    return 0;
}
