// Message boxes centred on the screen.
#pragma once

#include "winapi.h"

#include <string>

// Caption of the error and question boxes ("Error" / "Question" while empty).
extern std::string AppTitle;
// Flags added to every box.
extern UINT MsgBoxFlags;

// Shows a task-modal box, centred on the screen when it first shows; the
// button the user chose (IDYES, IDOK, ...), or 0 when the box could not show.
int MsgBox(HWND owner, const std::string& caption, const std::string& text, UINT flags);
// The hook that MsgBox installs for the box it shows; null while no box is
// open or once the box has been centred.
HHOOK MsgBoxHook();
// An error box with AppTitle (or "Error") as its caption; returns when closed.
void ErrorBox(const std::string& text);
// A Yes/No question with AppTitle (or "Question") as its caption; IDYES or
// IDNO, or 0 when the box could not show.
int QuestionBox(const std::string& text);
// Moves the window to the middle of the screen, kept inside it; a window
// whose rectangle cannot be read stays where it is.
void CenterOnScreen(HWND window);
// Shifts the rectangle, its size kept, until it lies inside the screen (its
// top-left corner wins when it is larger than the screen).
void FitToScreen(RECT& rect);
// The primary screen's size in pixels.
void ScreenSize(int& width, int& height);
