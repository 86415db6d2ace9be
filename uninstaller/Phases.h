// The removal phases, the shared-file question and the programs run before
// and after, in the order of the run. They work on the shared state below.
#pragma once

#include "State.h"

#include <string>
#include <vector>

// One removal phase: the log section it reads, into which list, the message
// of its progress line, and what it does with the entries. A phase whose
// section is empty adds no progress line and does nothing.
struct TPhase {
    const char* section;
    int message;
    TStringList* entries;
    void (*act)();
};
// The removal phases in the order of the run, SharedFiles first and
// CreateDirs last; the run and the benchmark both go through this table.
const std::vector<TPhase>& RemovalPhases();
void RunPhase(const TPhase& phase);
// Every phase of the table, in its order.
void RunRemovalPhases();

// Each phase of the table on its own (tests call them one by one).
void SharedFilesPhase();
// The SharedFiles phase's work on KeptSharedFiles: lowers each use count,
// asks about files nothing uses any more, and leaves what stays in the list.
void LowerSharedCounters();
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
