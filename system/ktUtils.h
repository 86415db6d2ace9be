// Message boxes centred on the screen, and small desktop helpers.
#pragma once

#include "winapi.h"

#include <string>

// Caption of the error and question boxes ("Error" / "Question" while empty).
extern std::string AppTitle;
// Flags added to every box.
extern UINT MsgBoxFlags;

int MsgBox(HWND owner, const std::string& caption, const std::string& text, UINT flags);
// The hook that MsgBox installs for the box it shows; null while no box is
// open or once the box has been centred.
HHOOK MsgBoxHook();
void ErrorBox(const std::string& text);
int QuestionBox(const std::string& text);
void CenterOnScreen(HWND window);
void FitToScreen(RECT& rect);
void ScreenSize(int& width, int& height);
std::string GetWindowsDir();
