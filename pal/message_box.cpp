// Message boxes of the native build: the buttons of each box type, the
// box's size from its text, and the answer read from the terminal (Esc,
// end of input and interrupt included).
#include "windowing.h"

#include <algorithm>
#include <cstdio>

using namespace pal::ui;

namespace {

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
        if (QuitPending() || !ReadAnswerLine(line)) {
            answer = EndOfInputAnswer(buttons);
            note = QuitPending() ? " (interrupted)" : " (end of input)";
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
