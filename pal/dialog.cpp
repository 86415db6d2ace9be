// Dialogs of the native build: built from the program's templates, run
// modally or modelessly, printed on the terminal and answered there, and
// their controls (static, edit, button, list box).
#include "windowing.h"
#include "pal_resources.h"

#include <cstring>

namespace pal::ui {

namespace {

// Rounded to the nearest pixel, as MulDiv rounds.
LONG Scale(int units, int base, int divisor) {
    long product = static_cast<long>(units) * base;
    long half = divisor / 2;
    return static_cast<LONG>(product >= 0 ? (product + half) / divisor
                                          : -((-product + half) / divisor));
}

} // namespace

LONG DluX(int units) {
    return Scale(units, kBaseUnitX, 4);
}
LONG DluY(int units) {
    return Scale(units, kBaseUnitY, 8);
}

namespace {

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
        SetLastError(pal::MissingDialogError());
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

} // namespace

// A dialog without a procedure still closes on OK and Cancel.
LRESULT SendToDialog(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window* dialog = Find(hwnd);
    if (!dialog) {
        return 0;
    }
    if (msg == WM_QUERYENDSESSION) {
        // As DefDlgProc answers: a procedure that handles it answers with its
        // message result, which is FALSE unless set (the layer keeps none);
        // unhandled, the default agrees.
        return dialog->proc && dialog->proc(hwnd, msg, wParam, lParam) ? FALSE : TRUE;
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

namespace {

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

} // namespace

LRESULT SendToControl(Window* control, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (IsClass(control, "ListBox")) {
        auto& lines = control->lines;
        switch (msg) {
        case LB_ADDSTRING: {
            // The progress list is never sorted; a sorted list box is not used.
            std::string line = lParam ? reinterpret_cast<LPCSTR>(lParam) : "";
            lines.push_back(line);
            Window* dialog = Find(control->parent);
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
    if (msg == BM_CLICK && IsPushButton(control)) {
        Command(control->parent, control->id);
    }
    return 0;
}

} // namespace pal::ui

using namespace pal::ui;

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
        if (QuitPending() || !ReadAnswerLine(line)) {
            Emit("[answer]", QuitPending() ? "Esc (interrupted)" : "Esc (end of input)");
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

LRESULT WINAPI SendDlgItemMessageA(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam,
                                   LPARAM lParam) {
    HWND item = GetDlgItem(hDlg, nIDDlgItem);
    return item ? SendMessageA(item, Msg, wParam, lParam) : 0;
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
