// Reading another process's windows, for the robot: texts, classes,
// children, top-level windows, and the small text helpers it compares and
// prints with.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Wide text in the ANSI code page.
std::string Narrow(const wchar_t* text, int length);
// Another process's window text, asked of the window with a bounded wait;
// the window manager's copy when the window does not answer in time.
std::string TextOf(HWND window);
// The text the window manager keeps, without a message to the window.
std::string WindowText(HWND window);
// The class name without a Common Controls 6 version prefix.
std::string ClassOf(HWND window);
// Every child window of the parent, at any depth.
std::vector<HWND> Children(HWND parent);
// The child with the control id; null when there is none.
HWND ChildById(HWND parent, int id);
// The visible top-level windows of the process.
std::vector<HWND> TopWindowsOf(DWORD processId);
// The text with every "&" (a button's mnemonic mark) left out.
std::string WithoutAmpersand(const std::string& text);
// Equal without regard to letter case.
bool SameText(const std::string& a, const std::string& b);
// "rect=L,T,R,B".
std::string RectText(const RECT& r);
