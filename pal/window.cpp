// The window table of the native build: handles, classes, text, styles and
// positions of message boxes, dialogs and their controls, and the screen
// they are placed on. Nothing is drawn; the terminal front-end prints them.
#include "windowing.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <utility>

namespace pal::ui {

void ScreenSizeOf(int& width, int& height) {
    width = 1024;
    height = 768;
    const char* spec = std::getenv("VANTREL_SCREEN");
    int w = 0, h = 0;
    char tail = 0;
    if (spec && std::sscanf(spec, "%dx%d%c", &w, &h, &tail) == 2 && w > 0 && h > 0) {
        width = w;
        height = h;
    }
}

std::map<uintptr_t, std::unique_ptr<Window>>& Windows() {
    static std::map<uintptr_t, std::unique_ptr<Window>> windows;
    return windows;
}

namespace {
// Handle values never repeat, so a stale handle is never taken for a new
// window; they stay clear of HWND_BROADCAST (0xffff).
uintptr_t nextWindowValue = 0x10000;
} // namespace

Window* Find(HWND hwnd) {
    auto& windows = Windows();
    auto it = windows.find(reinterpret_cast<uintptr_t>(hwnd));
    return it == windows.end() ? nullptr : it->second.get();
}

Window* FindOrFail(HWND hwnd) {
    Window* window = Find(hwnd);
    if (!window) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    }
    return window;
}

Window* NewWindow(Kind kind) {
    auto window = std::make_unique<Window>();
    nextWindowValue += 4;
    window->kind = kind;
    window->handle = reinterpret_cast<HWND>(nextWindowValue);
    Window* raw = window.get();
    Windows()[nextWindowValue] = std::move(window);
    return raw;
}

void DestroyTree(HWND hwnd) {
    Window* window = Find(hwnd);
    if (!window) {
        return;
    }
    std::vector<HWND> children = window->children;
    for (HWND child : children) {
        DestroyTree(child);
    }
    if (window->shown && window->kind == Kind::Dialog && !window->modal) {
        Emit("[closed]", window->templateName);
    }
    Windows().erase(reinterpret_cast<uintptr_t>(hwnd));
}

bool IsClass(const Window* window, const char* name) {
    return strcasecmp(window->className.c_str(), name) == 0;
}

bool IsIconStatic(const Window* window) {
    return IsClass(window, "Static") && (window->style & 0x1F) == SS_ICON;
}

bool IsPushButton(const Window* window) {
    return window->kind == Kind::Control && IsClass(window, "Button") &&
           (window->style & 0x0F) <= BS_DEFPUSHBUTTON;
}

void ClientOrigin(const Window* window, LONG& x, LONG& y) {
    x = window->rect.left;
    y = window->rect.top;
    if (window->kind != Kind::Control) {
        x += kFrame;
        y += kFrame + kCaptionBar;
    }
}

void MoveTree(Window* window, LONG dx, LONG dy) {
    window->rect.left += dx;
    window->rect.right += dx;
    window->rect.top += dy;
    window->rect.bottom += dy;
    for (HWND child : window->children) {
        if (Window* c = Find(child)) {
            MoveTree(c, dx, dy);
        }
    }
}

// Places a top-level window of the given size centred on a reference
// rectangle (the owner's, or the screen's).
void CentreOn(Window* window, LONG width, LONG height, const RECT& reference) {
    window->rect.left = reference.left + (reference.right - reference.left - width) / 2;
    window->rect.top = reference.top + (reference.bottom - reference.top - height) / 2;
    window->rect.right = window->rect.left + width;
    window->rect.bottom = window->rect.top + height;
}

RECT ScreenRect() {
    int width = 0, height = 0;
    ScreenSizeOf(width, height);
    return RECT{0, 0, width, height};
}

} // namespace pal::ui

using namespace pal::ui;

BOOL WINAPI DestroyWindow(HWND hWnd) {
    Window* window = FindOrFail(hWnd);
    if (!window) {
        return FALSE;
    }
    if (window->kind == Kind::Control) {
        if (Window* parent = Find(window->parent)) {
            auto& siblings = parent->children;
            for (auto it = siblings.begin(); it != siblings.end(); ++it) {
                if (*it == hWnd) {
                    siblings.erase(it);
                    break;
                }
            }
        }
    }
    // Owned windows go with their owner, as on Windows.
    std::vector<HWND> owned;
    for (auto& entry : Windows()) {
        if (entry.second->kind != Kind::Control && entry.second->parent == hWnd) {
            owned.push_back(entry.second->handle);
        }
    }
    for (HWND h : owned) {
        DestroyWindow(h);
    }
    DestroyTree(hWnd);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND hWnd) {
    return Find(hWnd) != nullptr;
}

BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString) {
    Window* window = FindOrFail(hWnd);
    if (!window) {
        return FALSE;
    }
    std::string text = lpString ? lpString : "";
    bool changed = text != window->text;
    window->text = text;
    if (!changed) {
        return TRUE;
    }
    // A window on show reprints what changed.
    if (window->kind == Kind::Dialog && window->shown) {
        Emit("[caption]", text);
    } else if (window->kind == Kind::Control) {
        Window* dialog = Find(window->parent);
        if (dialog && dialog->shown && !IsIconStatic(window) &&
            (IsClass(window, "Static") || IsClass(window, "Edit"))) {
            Emit("[field " + std::to_string(window->id) + "]", text);
        }
    }
    return TRUE;
}

int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount) {
    Window* window = FindOrFail(hWnd);
    return pal::CopyTruncated(window ? window->text : std::string(), lpString, nMaxCount);
}

BOOL WINAPI EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam) {
    if (!lpEnumFunc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // The handles first: the callback may create or destroy windows.
    std::vector<HWND> topLevel;
    for (const auto& entry : Windows()) {
        if (entry.second->kind != Kind::Control) {
            topLevel.push_back(entry.second->handle);
        }
    }
    for (HWND window : topLevel) {
        if (Find(window) && !lpEnumFunc(window, lParam)) {
            break;
        }
    }
    return TRUE;
}

DWORD WINAPI GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId) {
    if (!FindOrFail(hWnd)) {
        return 0;
    }
    if (lpdwProcessId) {
        *lpdwProcessId = GetCurrentProcessId();
    }
    return GetCurrentThreadId();
}

BOOL WINAPI IsWindowVisible(HWND hWnd) {
    for (Window* window = Find(hWnd); window; window = Find(window->parent)) {
        if (!(window->style & WS_VISIBLE)) {
            return FALSE;
        }
        if (window->kind != Kind::Control) {
            return TRUE;
        }
    }
    return FALSE;
}

BOOL WINAPI UpdateWindow(HWND hWnd) {
    return FindOrFail(hWnd) != nullptr;
}

BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect) {
    Window* window = FindOrFail(hWnd);
    if (!window || !lpRect) {
        return FALSE;
    }
    *lpRect = window->rect;
    return TRUE;
}

BOOL WINAPI SetWindowPos(HWND hWnd, HWND, int X, int Y, int cx, int cy, UINT uFlags) {
    Window* window = FindOrFail(hWnd);
    if (!window) {
        return FALSE;
    }
    if (!(uFlags & SWP_NOSIZE)) {
        window->rect.right = window->rect.left + cx;
        window->rect.bottom = window->rect.top + cy;
    }
    if (!(uFlags & SWP_NOMOVE)) {
        LONG x = X, y = Y;
        if (window->kind == Kind::Control) {
            if (Window* parent = Find(window->parent)) {
                LONG ox = 0, oy = 0;
                ClientOrigin(parent, ox, oy);
                x += ox;
                y += oy;
            }
        }
        MoveTree(window, x - window->rect.left, y - window->rect.top);
    }
    return TRUE;
}

int WINAPI GetSystemMetrics(int nIndex) {
    int width = 0, height = 0;
    ScreenSizeOf(width, height);
    switch (nIndex) {
    case SM_CXSCREEN:
        return width;
    case SM_CYSCREEN:
        return height;
    default:
        return 0;
    }
}

int WINAPI GetClassNameA(HWND hWnd, LPSTR lpClassName, int nMaxCount) {
    Window* window = FindOrFail(hWnd);
    return window ? pal::CopyTruncated(window->className, lpClassName, nMaxCount) : 0;
}

LONG WINAPI GetWindowLongA(HWND hWnd, int nIndex) {
    Window* window = FindOrFail(hWnd);
    if (!window) {
        return 0;
    }
    switch (nIndex) {
    case GWL_STYLE:
        return static_cast<LONG>(window->style);
    case GWL_ID:
        return window->id;
    case GWL_EXSTYLE:
        // Borders stay in the style: nothing is drawn in three dimensions.
        return 0;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
}

BOOL WINAPI ClientToScreen(HWND hWnd, LPPOINT lpPoint) {
    Window* window = FindOrFail(hWnd);
    if (!window || !lpPoint) {
        return FALSE;
    }
    LONG x = 0, y = 0;
    ClientOrigin(window, x, y);
    lpPoint->x += x;
    lpPoint->y += y;
    return TRUE;
}
