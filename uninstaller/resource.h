// Resource names and control ids, shared by the program, the .rc and the
// native build's resource table. Plain #defines only: windres reads this too.
#pragma once

// Resources carry string names, not numbers.
#define RES_DLG_UNINSTALL "DLG_UNINSTALL"
#define RES_DLG_DELSHARED "DLG_DELSHARED"
#define RES_DLG_SESSION "DLG_SESSION"
#define RES_DLG_FILESINUSE "DLG_FILESINUSE"
#define RES_MAINICON "MAINICON"

// DLG_UNINSTALL
#define IDC_UNINSTALL_ICON 100
#define IDC_PROGRESS_LIST 101

// DLG_DELSHARED
#define IDC_DELSHARED_TEXT 101
#define IDC_DELSHARED_NAME_LABEL 103
#define IDC_DELSHARED_NAME 104
#define IDC_DELSHARED_FOLDER_LABEL 105
#define IDC_DELSHARED_FOLDER 106
#define IDC_DELSHARED_YES 107
#define IDC_DELSHARED_YES_ALL 108
#define IDC_DELSHARED_NO 109
#define IDC_DELSHARED_NO_ALL 110

// DLG_SESSION (never shown)
#define IDC_SESSION_TEXT 100
// DLG_FILESINUSE (its Cancel button is IDCANCEL, 2)
#define IDC_FILESINUSE_TEXT 101
#define IDC_FILESINUSE_LIST 102
#define IDC_FILESINUSE_CLOSE 103
#define IDC_FILESINUSE_CONTINUE 104

// The program's version, in the version resource and the removal report.
#define VANTREL_VERSION_TEXT "1.0.0.0"
