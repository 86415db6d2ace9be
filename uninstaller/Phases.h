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
// The same, recorded in the ledger under the entry's line.
int RunProgramEntry(const std::string& value, const std::string& entry);
bool RunProgramsBefore();
void RunProgramsAfter();

// Seams for tests and benchmarks: the SharedFiles phase asks through
// AskRemoveSharedFileHook (initially AskRemoveSharedFile), and the RegFonts
// phase releases fonts through RemoveFontResourceHook (initially
// RemoveFontResourceA).
extern int (*AskRemoveSharedFileHook)(const std::string& fileName);
extern BOOL(WINAPI* RemoveFontResourceHook)(LPCSTR fileName);
