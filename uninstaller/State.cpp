// The state that the run owns and its phases share.
#include "UnVantrel.h"

std::string InstallLogPath;
HWND ProgressWindow = nullptr;
TStringList SectionEntries;
TStringList KeptSharedFiles;
std::string CurrentSharedFile;
HINSTANCE ModuleHandle = nullptr;
