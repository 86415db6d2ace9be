// The state that the run owns and its phases share, with the helpers both
// use. It sits below the phases and the run: the phases include this and
// never the run's own header.
#pragma once

#include "Options.h"

#include "ktStringList.h"
#include "winapi.h"

#include <string>

extern std::string InstallLogPath;
extern HWND ProgressWindow;
extern TStringList SectionEntries;
extern TStringList KeptSharedFiles;
extern std::string CurrentSharedFile;
extern HINSTANCE ModuleHandle;
// The policy of the run, from the options after the log path.
extern TRunOptions RunOptions;

// The text of message `number`: the log's "Strings" override when it is not
// empty, else the built-in text, with "||" turned into carriage returns.
// Loads the log into the profile cache on first use; an unreadable log
// raises the engine's open error.
std::string GetMessageText(int number);
// The same before the log is known to be readable: the built-in text when
// the log is missing or cannot be read, never the engine's open error.
std::string MessageTextBeforeLogIsRead(int number);
// Refills SectionEntries with the log's section; a missing section leaves it
// empty.
void LoadSection(const std::string& section);
// Adds one line to the progress window's list and paints it at once; nothing
// when the run shows no window.
void AddProgressCaption(const std::string& text);
// True when KeptSharedFiles holds a line whose name equals `name` (case
// ignored).
bool InKeptSharedFiles(const std::string& name);
