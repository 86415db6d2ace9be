// What the pieces of the terminal front-end share: the window table and its
// geometry (window.cpp), the tagged lines and answers (terminal.cpp), the
// queue and quit state (message_queue.cpp), hooks (hooks.cpp) and dialogs
// (dialog.cpp). Inside pal/ only.
#pragma once

#include "internal.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace pal::ui {

// ---- Window table and geometry (window.cpp) ------------------------------

// Pixels per dialog unit come from the font's average character size; a
// fixed "MS Sans Serif" 8 at 96 dpi.
constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 13;
// Frame and caption bar around the client area of a top-level window.
constexpr int kFrame = 3;
constexpr int kCaptionBar = 19;

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

std::map<uintptr_t, std::unique_ptr<Window>>& Windows();
Window* Find(HWND hwnd);
// Find, with ERROR_INVALID_WINDOW_HANDLE when there is no such window.
Window* FindOrFail(HWND hwnd);
Window* NewWindow(Kind kind);
// Removes a window and its controls; a modeless dialog on show prints
// "[closed]".
void DestroyTree(HWND hwnd);

bool IsClass(const Window* window, const char* name);
bool IsIconStatic(const Window* window);
bool IsPushButton(const Window* window);

void ScreenSizeOf(int& width, int& height);
RECT ScreenRect();
void ClientOrigin(const Window* window, LONG& x, LONG& y);
// Places a top-level window of the given size centred on a reference
// rectangle (the owner's, or the screen's).
void CentreOn(Window* window, LONG width, LONG height, const RECT& reference);

// ---- Tagged lines and answers (terminal.cpp) ------------------------------

struct Button {
    int id;
    std::string label;
};

// One tagged line per line of the text: CR, LF and CR LF each end a line.
void Emit(const std::string& tag, const std::string& text);
std::string RectText(const RECT& r);
// A button's label without its mnemonic marks ("&Yes" -> "Yes").
std::string Label(const std::string& text);
std::string ButtonsText(const std::vector<Button>& buttons);
// The label of the button with that id, "Esc" for IDCANCEL without one.
std::string LabelOf(const std::vector<Button>& buttons, int id);
// Reads one answer line; false at end of input and when an interrupt arrives.
bool ReadAnswerLine(std::string& line);
// Matches an answer line against the buttons: a label (letter case ignored),
// the beginning of exactly one label ("y" for Yes, "yes t" for Yes to all),
// a control id, or "Esc" (reported as IDCANCEL). Returns false when nothing
// matches, or when the beginning fits several labels.
bool MatchAnswer(const std::string& line, const std::vector<Button>& buttons, int& id);

// ---- Queue and quit (message_queue.cpp) -----------------------------------

// Turns an interrupt that arrived into a posted quit.
void TakeInterrupt();
// A quit is posted and not yet collected: nothing more is read.
bool QuitPending();
// Removes and returns the first posted message for the window or one of its
// controls.
bool TakePosted(HWND hwnd, MSG& msg);
// The top-level windows (boxes and dialogs, not their controls) in the
// order they were made: what a broadcast reaches.
std::vector<HWND> TopLevelWindows();

// ---- End of the session (session.cpp) -------------------------------------

// Sends the session's end messages that a signal asked for, if any.
void DeliverSessionEnd();

// ---- Hooks (hooks.cpp) ----------------------------------------------------

// Tells the CBT hooks that a box or dialog is about to be shown.
void Activate(Window* window);

// ---- Dialogs (dialog.cpp) -------------------------------------------------

LONG DluX(int units);
LONG DluY(int units);
// A message to a dialog's procedure; a dialog without one still closes on OK
// and Cancel.
LRESULT SendToDialog(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// What a control does with a message sent to it (list boxes, push buttons).
LRESULT SendToControl(Window* control, UINT msg, WPARAM wParam, LPARAM lParam);

} // namespace pal::ui
