// The program entry module: the uninstall run, its phases, the shared-file
// question and the programs run before and after. The state below is owned
// by the run and shared by its phases.
#pragma once

#include "ktStringList.h"
#include "winapi.h"

#include <string>
#include <vector>

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

// The command line split into arguments, the program name first: characters
// 1 to 32 separate; double quotes open and close stretches in which they do
// not, and are dropped; there is no escape character.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);
// `format` with its first "%s" replaced by `value` and "%%" by "%".
std::string FormatOneString(const std::string& format, const std::string& value);

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

// Seams for tests and benchmarks: the SharedFiles phase asks through
// AskRemoveSharedFileHook (initially AskRemoveSharedFile), and the RegFonts
// phase releases fonts through RemoveFontResourceHook (initially
// RemoveFontResourceA).
extern int (*AskRemoveSharedFileHook)(const std::string& fileName);
extern BOOL(WINAPI* RemoveFontResourceHook)(LPCSTR fileName);
