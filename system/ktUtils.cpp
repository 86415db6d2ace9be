#include "ktUtils.h"

#include "ktArithm.h"
#include "ktHandle.h"

#include <vector>

std::string AppTitle;
UINT MsgBoxFlags = 0;

namespace {

// The hook of the box now open; empty whenever no box is open, and emptied
// by the hook itself at the box's first activation.
TScopedHook centerHook;

LRESULT CALLBACK CenterHookProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code != HCBT_ACTIVATE) {
        return 0;
    }
    CenterOnScreen(reinterpret_cast<HWND>(wParam));
    LRESULT result = CallNextHookEx(centerHook.Get(), code, wParam, lParam);
    // Only the first activation moves the box: later ones leave it where the
    // user put it.
    centerHook.Close();
    return result;
}

// Removes the hook on every way out of MsgBox, errors included.
struct HookRemover {
    ~HookRemover() { centerHook.Close(); }
};

} // namespace

HHOOK MsgBoxHook() {
    return centerHook.Get();
}

int MsgBox(HWND owner, const std::string& caption, const std::string& text, UINT flags) {
    centerHook.Reset(SetWindowsHookExA(WH_CBT, CenterHookProc, nullptr, GetCurrentThreadId()));
    HookRemover remover;
    return MessageBoxA(owner, text.c_str(), caption.c_str(), MsgBoxFlags | MB_TASKMODAL | flags);
}

void ErrorBox(const std::string& text) {
    std::string caption = IfThen<std::string>(AppTitle.empty(), "Error", AppTitle);
    MsgBox(nullptr, caption, text, MB_ICONHAND);
}

int QuestionBox(const std::string& text) {
    std::string caption = IfThen<std::string>(AppTitle.empty(), "Question", AppTitle);
    return MsgBox(nullptr, caption, text, MB_YESNO | MB_ICONQUESTION);
}

void CenterOnScreen(HWND window) {
    RECT rect;
    if (!GetWindowRect(window, &rect)) {
        return;
    }
    LONG width = rect.right - rect.left;
    LONG height = rect.bottom - rect.top;
    int screenWidth = 0, screenHeight = 0;
    ScreenSize(screenWidth, screenHeight);
    RECT fitted;
    fitted.left = (screenWidth - width) / 2;
    fitted.top = (screenHeight - height) / 2;
    fitted.right = fitted.left + width;
    fitted.bottom = fitted.top + height;
    FitToScreen(fitted);
    SetWindowPos(window, nullptr, fitted.left, fitted.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void FitToScreen(RECT& rect) {
    int screenWidth = 0, screenHeight = 0;
    ScreenSize(screenWidth, screenHeight);
    LONG width = rect.right - rect.left;
    LONG height = rect.bottom - rect.top;
    if (rect.right > screenWidth) {
        rect.right = screenWidth;
        rect.left = rect.right - width;
    }
    if (rect.left < 0) {
        rect.left = 0;
        rect.right = width;
    }
    if (rect.bottom > screenHeight) {
        rect.bottom = screenHeight;
        rect.top = rect.bottom - height;
    }
    if (rect.top < 0) {
        rect.top = 0;
        rect.bottom = height;
    }
}

void ScreenSize(int& width, int& height) {
    width = GetSystemMetrics(SM_CXSCREEN);
    height = GetSystemMetrics(SM_CYSCREEN);
}
