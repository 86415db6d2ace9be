// The applications that hold files the uninstall must remove: named after
// the programs run before removal and before the first phase, and closed
// when the user (or /CLOSEAPPS in an unattended run) says so.
#pragma once

#include "State.h"

#include <string>
#include <vector>

// Asks the Restart Manager, once for the whole CopyFiles list, which
// applications hold those files. Interactively, when some do, asks the user
// (DLG_FILESINUSE) to close them, continue without closing, or cancel;
// unattended, closes them only under /CLOSEAPPS. Afterwards the report names
// the applications that held each file scheduled at restart. False when the
// user cancelled: nothing is to be removed.
bool HandleFilesInUse();

// The dialog's answers.
enum : int {
    kFilesInUseClose = 103,    // IDC_FILESINUSE_CLOSE
    kFilesInUseContinue = 104, // IDC_FILESINUSE_CONTINUE
    kFilesInUseCancel = 2,     // IDCANCEL
};
// Shows DLG_FILESINUSE with these lines in its list; one of the answers.
int AskAboutFilesInUse(const std::vector<std::string>& applications);
// The seam through which HandleFilesInUse asks (tests answer for the user).
extern int (*AskAboutFilesInUseHook)(const std::vector<std::string>& applications);
