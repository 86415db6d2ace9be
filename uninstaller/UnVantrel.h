// The program entry module: the uninstall run, its phases, the shared-file
// question and the programs run before and after. The state below is owned
// by the run and shared by its phases.
#pragma once

#include "ktStringList.h"
#include "winapi.h"

#include <string>

extern std::string InstallLogPath;
extern HWND ProgressWindow;
extern TStringList SectionEntries;
extern TStringList KeptSharedFiles;
extern std::string CurrentSharedFile;
extern HINSTANCE ModuleHandle;

// The whole run; returns the process exit code (0).
int RunUninstall();
// Start-up and shutdown around the run: COM, platform identifier, cache.
void StartUp();
void ShutDown();

std::string GetMessageText(int number);
void LoadSection(const std::string& section);
void AddProgressCaption(const std::string& text);
// True when the list holds a line whose name equals `name` (case ignored).
bool InKeptSharedFiles(const std::string& name);

// Phases, in the order of the run.
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
