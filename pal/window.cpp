// The terminal front-end of the native build: message boxes, dialogs and
// their controls, CBT hooks, the thread's message queue and the screen.
// Boxes and dialogs are printed as tagged lines on standard output (format
// in pal/README.md) and answered from standard input, one line per answer.
#include "internal.h"
#include "pal_resources.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <strings.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// ---- Screen and dialog units ----------------------------------------------

// Pixels per dialog unit come from the font's average character size; a
// fixed "MS Sans Serif" 8 at 96 dpi.
constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 13;
// Frame and caption bar around the client area of a top-level window.
constexpr int kFrame = 3;
constexpr int kCaptionBar = 19;

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

// ---- Windows ---------------------------------------------------------------

enum class Kind { MessageBox, Dialog, Control };

struct Window {
    Kind kind = Kind::Control;
    HWND handle = nullptr;
    HWND parent = nullptr; // controls: their dialog; top-level windows: the owner
    std::string className;
    std::string templateName;
    std::string text;
    DWORD style = 0;
    int id = 0;
    RECT rect = {0, 0, 0, 0}; // screen coordinates
    std::vector<HWND> children;
    std::vector<std::string> lines; // list boxes
    DLGPROC proc = nullptr;
    bool modal = false;
    bool ended = false;
    INT_PTR result = 0;
    bool shown = false; // printed on the terminal
};

std::map<uintptr_t, std::unique_ptr<Window>>& Windows() {
    static std::map<uintptr_t, std::unique_ptr<Window>> windows;
    return windows;
}

// Handle values never repeat, so a stale handle is never taken for a new
// window; they stay clear of HWND_BROADCAST (0xffff).
uintptr_t nextWindowValue = 0x10000;

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

// ---- Output ------------------------------------------------------------------

void WriteLine(const std::string& line) {
    std::string out = line + "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
}

// One tagged line per line of the text: CR, LF and CR LF each end a line.
void Emit(const std::string& tag, const std::string& text) {
    std::string line;
    auto flush = [&] { WriteLine(line.empty() ? tag : tag + " " + line); };
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            flush();
            line.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            line += c;
        }
    }
    flush();
}

std::string RectText(const RECT& r) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "rect=%ld,%ld,%ld,%ld", static_cast<long>(r.left),
                  static_cast<long>(r.top), static_cast<long>(r.right),
                  static_cast<long>(r.bottom));
    return buffer;
}

// A button's label without its mnemonic marks ("&Yes" -> "Yes").
std::string Label(const std::string& text) {
    std::string label;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) {
            ++i;
        }
        label += text[i];
    }
    return label;
}

struct Button {
    int id;
    std::string label;
};

std::string ButtonsText(const std::vector<Button>& buttons) {
    std::string text;
    for (const Button& b : buttons) {
        if (!text.empty()) {
            text += " | ";
        }
        text += std::to_string(b.id) + " " + b.label;
    }
    return text;
}

// ---- Input ---------------------------------------------------------------

volatile sig_atomic_t interrupted = 0;
volatile sig_atomic_t quitPosted = 0;
int quitCode = 0;

void TakeInterrupt() {
    if (interrupted) {
        interrupted = 0;
        quitPosted = 1;
        quitCode = 0;
    }
}

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

bool InputIsTerminal() {
    return isatty(STDIN_FILENO) == 1;
}

// Reads one line of standard input, byte by byte so that nothing beyond the
// line is taken from a pipe that a launched program may inherit. False at
// end of input and when an interrupt arrives.
bool ReadAnswerLine(std::string& line) {
    line.clear();
    if (InputIsTerminal()) {
        std::fputs("> ", stdout);
        std::fflush(stdout);
    }
    for (;;) {
        TakeInterrupt();
        if (quitPosted) {
            return false;
        }
        char c = 0;
        ssize_t got = read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return !line.empty();
        }
        if (c == '\n') {
            break;
        }
        line += c;
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
        line.pop_back();
    }
    size_t start = line.find_first_not_of(" \t");
    line.erase(0, start == std::string::npos ? line.size() : start);
    return true;
}

// Matches an answer line against the buttons: a label (letter case ignored),
// the beginning of exactly one label ("y" for Yes, "yes t" for Yes to all),
// a control id, or "Esc" (reported as IDCANCEL). Returns false when nothing
// matches, or when the beginning fits several labels.
bool MatchAnswer(const std::string& line, const std::vector<Button>& buttons, int& id) {
    if (strcasecmp(line.c_str(), "Esc") == 0) {
        id = IDCANCEL;
        return true;
    }
    for (const Button& b : buttons) {
        if (strcasecmp(line.c_str(), b.label.c_str()) == 0) {
            id = b.id;
            return true;
        }
    }
    const Button* only = nullptr;
    int fitting = 0;
    for (const Button& b : buttons) {
        if (!line.empty() && line.size() < b.label.size() &&
            strncasecmp(line.c_str(), b.label.c_str(), line.size()) == 0) {
            only = &b;
            ++fitting;
        }
    }
    if (fitting == 1) {
        id = only->id;
        return true;
    }
    char* end = nullptr;
    long number = std::strtol(line.c_str(), &end, 10);
    if (!line.empty() && end && *end == '\0') {
        for (const Button& b : buttons) {
            if (b.id == number) {
                id = b.id;
                return true;
            }
        }
    }
    return false;
}

// ---- Message queue -----------------------------------------------------------

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

// ---- Hooks -------------------------------------------------------------------

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

void Activate(Window* window) {
    HWND handle = window->handle;
    CallHooksBelow(WH_CBT, nullptr, HCBT_ACTIVATE, reinterpret_cast<WPARAM>(handle), 0);
}

// ---- Dialogs -----------------------------------------------------------------

// Rounded to the nearest pixel, as MulDiv rounds.
LONG Scale(int units, int base, int divisor) {
    long product = static_cast<long>(units) * base;
    long half = divisor / 2;
    return static_cast<LONG>(product >= 0 ? (product + half) / divisor
                                          : -((-product + half) / divisor));
}
LONG DluX(int units) {
    return Scale(units, kBaseUnitX, 4);
}
LONG DluY(int units) {
    return Scale(units, kBaseUnitY, 8);
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

std::vector<Button> ButtonsOf(const Window* dialog) {
    std::vector<Button> buttons;
    for (HWND child : dialog->children) {
        Window* c = Find(child);
        if (c && IsPushButton(c)) {
            buttons.push_back(Button{c->id, Label(c->text)});
        }
    }
    return buttons;
}

void PrintDialog(Window* dialog) {
    Emit(dialog->modal ? "[dialog]" : "[window]",
         dialog->templateName + " " + RectText(dialog->rect));
    if (!dialog->text.empty() || dialog->modal) {
        Emit("[caption]", dialog->text);
    }
    for (HWND child : dialog->children) {
        Window* c = Find(child);
        if (!c || IsIconStatic(c)) {
            continue;
        }
        if (IsClass(c, "Static") || IsClass(c, "Edit")) {
            Emit("[field " + std::to_string(c->id) + "]", c->text);
        } else if (IsClass(c, "ListBox")) {
            for (const std::string& line : c->lines) {
                Emit("[progress]", line);
            }
        }
    }
    std::vector<Button> buttons = ButtonsOf(dialog);
    if (!buttons.empty()) {
        Emit("[buttons]", ButtonsText(buttons));
    }
    dialog->shown = true;
}

Window* CreateFromTemplate(LPCSTR name, HWND parent, DLGPROC proc, bool modal) {
    const PalDialogTemplate* t = pal::FindDialogTemplate(name);
    if (!t) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    Window* owner = nullptr;
    if (parent && !(owner = FindOrFail(parent))) {
        return nullptr;
    }
    Window* dialog = NewWindow(Kind::Dialog);
    dialog->parent = parent;
    dialog->className = "#32770";
    dialog->templateName = t->name;
    dialog->text = t->caption ? t->caption : "";
    dialog->style = t->style;
    dialog->proc = proc;
    dialog->modal = modal;
    LONG width = DluX(t->cx) + 2 * kFrame;
    LONG height = DluY(t->cy) + 2 * kFrame + kCaptionBar;
    if (t->style & DS_CENTER) {
        CentreOn(dialog, width, height, ScreenRect());
    } else {
        LONG x = 0, y = 0;
        if (owner) {
            ClientOrigin(owner, x, y);
        }
        dialog->rect = RECT{x + DluX(t->x), y + DluY(t->y), 0, 0};
        dialog->rect.right = dialog->rect.left + width;
        dialog->rect.bottom = dialog->rect.top + height;
    }
    LONG originX = 0, originY = 0;
    ClientOrigin(dialog, originX, originY);
    for (size_t i = 0; i < t->itemCount; ++i) {
        const PalDialogItem& item = t->items[i];
        Window* control = NewWindow(Kind::Control);
        control->parent = dialog->handle;
        control->className = item.className;
        control->text = item.text ? item.text : "";
        control->style = item.style;
        control->id = item.id;
        control->rect.left = originX + DluX(item.x);
        control->rect.top = originY + DluY(item.y);
        control->rect.right = control->rect.left + DluX(item.cx);
        control->rect.bottom = control->rect.top + DluY(item.cy);
        dialog->children.push_back(control->handle);
    }
    return dialog;
}

HWND FirstTabStop(const Window* dialog) {
    for (HWND child : dialog->children) {
        Window* c = Find(child);
        if (c && (c->style & WS_TABSTOP)) {
            return child;
        }
    }
    return nullptr;
}

// A dialog without a procedure still closes on OK and Cancel.
LRESULT SendToDialog(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window* dialog = Find(hwnd);
    if (!dialog) {
        return 0;
    }
    if (dialog->proc) {
        return dialog->proc(hwnd, msg, wParam, lParam);
    }
    if (msg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        dialog->ended = true;
        dialog->result = LOWORD(wParam);
    }
    return 0;
}

void Command(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    SendToDialog(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
}

bool DialogRunning(HWND hwnd) {
    Window* dialog = Find(hwnd);
    return dialog && !dialog->ended;
}

// Delivers what was posted to the dialog or its controls while it runs.
void DeliverPosted(HWND hwnd) {
    MSG msg;
    while (DialogRunning(hwnd) && TakePosted(hwnd, msg)) {
        DispatchMessageA(&msg);
    }
}

// ---- Message boxes -------------------------------------------------------------

std::vector<Button> BoxButtons(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_OK:
        return {{IDOK, "OK"}};
    case MB_OKCANCEL:
        return {{IDOK, "OK"}, {IDCANCEL, "Cancel"}};
    case MB_ABORTRETRYIGNORE:
        return {{IDABORT, "Abort"}, {IDRETRY, "Retry"}, {IDIGNORE, "Ignore"}};
    case MB_YESNOCANCEL:
        return {{IDYES, "Yes"}, {IDNO, "No"}, {IDCANCEL, "Cancel"}};
    case MB_YESNO:
        return {{IDYES, "Yes"}, {IDNO, "No"}};
    case MB_RETRYCANCEL:
        return {{IDRETRY, "Retry"}, {IDCANCEL, "Cancel"}};
    default:
        return {};
    }
}

bool HasButton(const std::vector<Button>& buttons, int id) {
    for (const Button& b : buttons) {
        if (b.id == id) {
            return true;
        }
    }
    return false;
}

std::string LabelOf(const std::vector<Button>& buttons, int id) {
    for (const Button& b : buttons) {
        if (b.id == id) {
            return b.label;
        }
    }
    return id == IDCANCEL ? "Esc" : std::to_string(id);
}

// What Esc means in a box: Cancel where there is one, OK in an OK-only box,
// nothing otherwise (0).
int EscapeAnswer(const std::vector<Button>& buttons) {
    if (HasButton(buttons, IDCANCEL)) {
        return IDCANCEL;
    }
    if (buttons.size() == 1 && buttons[0].id == IDOK) {
        return IDOK;
    }
    return 0;
}

// The answer at end of input: Cancel, else No, else the first button.
int EndOfInputAnswer(const std::vector<Button>& buttons) {
    if (HasButton(buttons, IDCANCEL)) {
        return IDCANCEL;
    }
    if (HasButton(buttons, IDNO)) {
        return IDNO;
    }
    return buttons.front().id;
}

// The box's size from its text, wrapped as a box wraps long lines.
void BoxSize(const std::string& text, const std::string& caption, size_t buttonCount, LONG& width,
             LONG& height) {
    int screenWidth = 0, screenHeight = 0;
    ScreenSizeOf(screenWidth, screenHeight);
    const LONG charWidth = 6, lineHeight = 13;
    const LONG maxTextWidth = screenWidth * 5 / 8;
    LONG textWidth = 0, lines = 0, current = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '\r' || text[i] == '\n') {
            LONG w = current * charWidth;
            lines += w > maxTextWidth ? (w + maxTextWidth - 1) / maxTextWidth : 1;
            textWidth = std::max(textWidth, std::min(w, maxTextWidth));
            current = 0;
            if (i < text.size() && text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            ++current;
        }
    }
    LONG buttonsWidth = static_cast<LONG>(buttonCount) * 85 + 20;
    LONG captionWidth = static_cast<LONG>(caption.size()) * charWidth + 60;
    width = std::max({textWidth + 80, buttonsWidth, captionWidth, LONG(120)}) + 2 * kFrame;
    height = lines * lineHeight + 80 + 2 * kFrame + kCaptionBar;
}

} // namespace

namespace pal {

void InstallInterruptHandler() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a read waiting for an answer must see the interrupt.
    sigaction(SIGINT, &action, nullptr);
}

} // namespace pal

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    if (hWnd && !FindOrFail(hWnd)) {
        return 0;
    }
    std::vector<Button> buttons = BoxButtons(uType);
    if (buttons.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string text = lpText ? lpText : "";
    std::string caption = lpCaption ? lpCaption : "Error";

    Window* box = NewWindow(Kind::MessageBox);
    HWND handle = box->handle;
    box->parent = hWnd;
    box->className = "#32770";
    box->text = caption;
    box->style = WS_POPUP | WS_VISIBLE | WS_CAPTION;
    box->modal = true;
    LONG width = 0, height = 0;
    BoxSize(text, caption, buttons.size(), width, height);
    Window* owner = hWnd ? Find(hWnd) : nullptr;
    CentreOn(box, width, height, owner ? owner->rect : ScreenRect());
    // The text and the buttons are controls of the box, as on Windows, so
    // GetDlgItem finds them.
    auto addControl = [&](const char* className, int id, const std::string& label) {
        Window* control = NewWindow(Kind::Control);
        control->parent = handle;
        control->className = className;
        control->id = id;
        control->text = label;
        control->style = WS_CHILD | WS_VISIBLE;
        control->rect = box->rect;
        box->children.push_back(control->handle);
    };
    addControl("Static", 0xFFFF, text);
    for (const Button& b : buttons) {
        addControl("Button", b.id, b.label);
    }

    Activate(box);
    box = Find(handle);
    if (!box) {
        return 0;
    }
    char flags[32];
    std::snprintf(flags, sizeof flags, "flags=0x%X", uType);
    Emit("[box]", std::string(flags) + " " + RectText(box->rect));
    Emit("[caption]", caption);
    Emit("[text]", text);
    Emit("[buttons]", ButtonsText(buttons));
    switch (uType & MB_ICONMASK) {
    case MB_ICONHAND:
        Emit("[icon]", "stop");
        break;
    case MB_ICONQUESTION:
        Emit("[icon]", "question");
        break;
    case MB_ICONEXCLAMATION:
        Emit("[icon]", "exclamation");
        break;
    case MB_ICONASTERISK:
        Emit("[icon]", "information");
        break;
    default:
        break;
    }
    box->shown = true;

    int answer = 0;
    std::string note;
    MSG msg;
    while (answer == 0) {
        TakeInterrupt();
        if (TakePosted(handle, msg)) {
            int id = 0;
            if (msg.message == WM_COMMAND) {
                id = LOWORD(msg.wParam);
            } else if (msg.message == WM_CLOSE) {
                id = IDCANCEL;
            }
            if (id == IDCANCEL) {
                answer = EscapeAnswer(buttons);
            } else if (HasButton(buttons, id)) {
                answer = id;
            }
            continue;
        }
        std::string line;
        if (quitPosted || !ReadAnswerLine(line)) {
            answer = EndOfInputAnswer(buttons);
            note = quitPosted ? " (interrupted)" : " (end of input)";
            break;
        }
        int id = 0;
        if (!MatchAnswer(line, buttons, id)) {
            Emit("[hint]", "answer with one of: " + ButtonsText(buttons));
            continue;
        }
        answer = id == IDCANCEL ? EscapeAnswer(buttons) : id;
        if (answer == 0) {
            Emit("[hint]", "this box has no Cancel button");
        }
    }
    Emit("[answer]", LabelOf(buttons, answer) + note);
    DestroyTree(handle);
    return answer;
}

HWND WINAPI CreateDialogParamA(HINSTANCE, LPCSTR lpTemplateName, HWND hWndParent,
                               DLGPROC lpDialogFunc, LPARAM dwInitParam) {
    Window* dialog = CreateFromTemplate(lpTemplateName, hWndParent, lpDialogFunc, false);
    if (!dialog) {
        return nullptr;
    }
    HWND handle = dialog->handle;
    if (lpDialogFunc) {
        lpDialogFunc(handle, WM_INITDIALOG, reinterpret_cast<WPARAM>(FirstTabStop(dialog)),
                     dwInitParam);
    }
    dialog = Find(handle);
    if (dialog && (dialog->style & WS_VISIBLE)) {
        Activate(dialog);
        if ((dialog = Find(handle)) != nullptr) {
            PrintDialog(dialog);
        }
    }
    return Find(handle) ? handle : nullptr;
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE, LPCSTR lpTemplateName, HWND hWndParent,
                               DLGPROC lpDialogFunc, LPARAM dwInitParam) {
    Window* dialog = CreateFromTemplate(lpTemplateName, hWndParent, lpDialogFunc, true);
    if (!dialog) {
        return -1;
    }
    HWND handle = dialog->handle;
    if (lpDialogFunc) {
        lpDialogFunc(handle, WM_INITDIALOG, reinterpret_cast<WPARAM>(FirstTabStop(dialog)),
                     dwInitParam);
    }
    DeliverPosted(handle);
    // A dialog ended while it initialises is never shown.
    if (DialogRunning(handle)) {
        Activate(Find(handle));
        DeliverPosted(handle);
    }
    if (DialogRunning(handle)) {
        PrintDialog(Find(handle));
    }
    while (DialogRunning(handle)) {
        std::vector<Button> buttons = ButtonsOf(Find(handle));
        std::string line;
        if (quitPosted || !ReadAnswerLine(line)) {
            Emit("[answer]", quitPosted ? "Esc (interrupted)" : "Esc (end of input)");
            Command(handle, IDCANCEL);
            // Nothing more can be read: a procedure that ignores Cancel must
            // not keep the program waiting for ever.
            if (DialogRunning(handle)) {
                EndDialog(handle, IDCANCEL);
            }
            break;
        }
        int id = 0;
        if (!MatchAnswer(line, buttons, id)) {
            Emit("[hint]", "answer with one of: " + ButtonsText(buttons) + " | Esc");
            continue;
        }
        Emit("[answer]", LabelOf(buttons, id));
        Command(handle, id);
        DeliverPosted(handle);
    }
    dialog = Find(handle);
    INT_PTR result = dialog ? dialog->result : 0;
    DestroyTree(handle);
    return result;
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult) {
    Window* dialog = FindOrFail(hDlg);
    if (!dialog || dialog->kind != Kind::Dialog) {
        if (dialog) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        }
        return FALSE;
    }
    dialog->ended = true;
    dialog->result = nResult;
    return TRUE;
}

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
    if (!lpString || nMaxCount <= 0) {
        return 0;
    }
    lpString[0] = '\0';
    if (!window) {
        return 0;
    }
    size_t copied = std::min(window->text.size(), static_cast<size_t>(nMaxCount) - 1);
    std::memcpy(lpString, window->text.data(), copied);
    lpString[copied] = '\0';
    return static_cast<int>(copied);
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem) {
    Window* dialog = FindOrFail(hDlg);
    if (!dialog) {
        return nullptr;
    }
    for (HWND child : dialog->children) {
        Window* c = Find(child);
        if (c && c->id == nIDDlgItem) {
            return child;
        }
    }
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
}

BOOL WINAPI SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString) {
    HWND item = GetDlgItem(hDlg, nIDDlgItem);
    return item ? SetWindowTextA(item, lpString) : FALSE;
}

UINT WINAPI GetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPSTR lpString, int cchMax) {
    HWND item = GetDlgItem(hDlg, nIDDlgItem);
    if (!item) {
        if (lpString && cchMax > 0) {
            lpString[0] = '\0';
        }
        return 0;
    }
    return static_cast<UINT>(GetWindowTextA(item, lpString, cchMax));
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (hWnd == HWND_BROADCAST) {
        // No other top-level windows exist on this machine.
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
        return 0;
    }
    if (IsClass(window, "ListBox")) {
        auto& lines = window->lines;
        switch (Msg) {
        case LB_ADDSTRING: {
            // The progress list is never sorted; a sorted list box is not used.
            std::string line = lParam ? reinterpret_cast<LPCSTR>(lParam) : "";
            lines.push_back(line);
            Window* dialog = Find(window->parent);
            if (dialog && dialog->shown) {
                Emit("[progress]", line);
            }
            return static_cast<LRESULT>(lines.size() - 1);
        }
        case LB_GETCOUNT:
            return static_cast<LRESULT>(lines.size());
        case LB_GETTEXTLEN:
            return wParam < lines.size() ? static_cast<LRESULT>(lines[wParam].size()) : LB_ERR;
        case LB_GETTEXT:
            if (wParam >= lines.size() || !lParam) {
                return LB_ERR;
            }
            std::memcpy(reinterpret_cast<char*>(lParam), lines[wParam].c_str(),
                        lines[wParam].size() + 1);
            return static_cast<LRESULT>(lines[wParam].size());
        case LB_RESETCONTENT:
            lines.clear();
            return 0;
        default:
            return 0;
        }
    }
    if (Msg == BM_CLICK && IsPushButton(window)) {
        Command(window->parent, window->id);
    }
    return 0;
}

LRESULT WINAPI SendDlgItemMessageA(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam,
                                   LPARAM lParam) {
    HWND item = GetDlgItem(hDlg, nIDDlgItem);
    return item ? SendMessageA(item, Msg, wParam, lParam) : 0;
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

BOOL WINAPI UpdateWindow(HWND hWnd) {
    return FindOrFail(hWnd) != nullptr;
}

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
    if (!window || !lpClassName || nMaxCount <= 0) {
        return 0;
    }
    size_t copied = std::min(window->className.size(), static_cast<size_t>(nMaxCount) - 1);
    std::memcpy(lpClassName, window->className.data(), copied);
    lpClassName[copied] = '\0';
    return static_cast<int>(copied);
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

BOOL WINAPI MapDialogRect(HWND hDlg, LPRECT lpRect) {
    Window* dialog = FindOrFail(hDlg);
    if (!dialog || dialog->kind != Kind::Dialog || !lpRect) {
        return FALSE;
    }
    lpRect->left = DluX(lpRect->left);
    lpRect->right = DluX(lpRect->right);
    lpRect->top = DluY(lpRect->top);
    lpRect->bottom = DluY(lpRect->bottom);
    return TRUE;
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
