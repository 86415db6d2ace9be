// The removal phases, the shared-file question and the programs run before
// and after, in the order of the run. They work on the shared state below.
#pragma once

#include "State.h"

#include <string>

void SharedFilesPhase();
int AskRemoveSharedFile(const std::string& fileName);
INT_PTR CALLBACK DelSharedDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void ShortcutsPhase();
void AddIniPhase();
void RegFontsPhase();
void AddRegPhase();
void CreateKeysPhase();
void RegServersPhase();
void CopyFilesPhase();
void CreateDirsPhase();

int RunProgramEntry(const std::string& value);
bool RunProgramsBefore();
void RunProgramsAfter();

// Seams for tests and benchmarks: the SharedFiles phase asks through
// AskRemoveSharedFileHook (initially AskRemoveSharedFile), the RegFonts
// phase releases fonts through RemoveFontResourceHook (initially
// RemoveFontResourceA), and the CreateKeys phase removes keys through
// RemoveKeyHook (initially RemoveRegEntry), whose order the end state
// cannot show: a key removed first takes its subkeys with it.
extern int (*AskRemoveSharedFileHook)(const std::string& fileName);
extern BOOL(WINAPI* RemoveFontResourceHook)(LPCSTR fileName);
extern bool (*RemoveKeyHook)(const std::string& path);
