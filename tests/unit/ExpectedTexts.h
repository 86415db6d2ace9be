// The program's message texts as the string table holds them ("||" stands for
// a line break), written out here on purpose rather than taken from the
// texts' source: the one expected table of the string-table and message tests.
#pragma once

struct TExpectedText {
    unsigned number;
    const char* text;
};

inline const TExpectedText kExpectedTexts[] = {
    {1, "Uninstall application"},
    {2, "Installation log file was not specified!"},
    {3, "Installation log file %s not found!"},
    {4, "Are you sure you want to completely remove the selected application and all of its "
        "components?"},
    {5, "Application uninstall finished."},
    {6, "Removing files..."},
    {7, "Removing registry values..."},
    {8, "Removing registry keys..."},
    {9, "Removing ini entries..."},
    {10, "Removing shortcuts..."},
    {11, "Removing directories..."},
    {12, "Unregister OLE servers..."},
    {13, "Unregister fonts..."},
    {14, "Checking shared files..."},
    {15, "Remove shared file?"},
    {16, "The system indicates that the following shared file is no longer used by any "
         "programs.  If any programs are still using this file and it is removed, those "
         "programs may not function.  Are you sure you want to remove the shared "
         "file?||||Leaving this file will not harm your system.  If you are not sure what to "
         "do, it is suggested that you choose to not remove this shared component."},
    {17, "File name:"},
    {18, "Located in:"},
    {19, "Yes"},
    {20, "Yes to all"},
    {21, "No"},
    {22, "No to all"},
    {23, "Some files are in use and will be removed when Windows restarts."},
    {24, "Some items could not be removed. You can remove them yourself:"},
    {25, "Unknown option: %s"},
    {26, "and %s more"},
    {27, "Nothing was changed. What the uninstall would do is written to %s"},
    {28, "Cannot create the report file %s"},
    {29, "The report file %s is the installation log itself. Choose another file for /LOG."},
    {30, "%s is the report of this uninstall and is kept."},
    {31, "Files in use"},
    {32, "The following applications hold files that the uninstall must remove. Close them to "
         "remove the files now, or continue without closing them: the files are then removed "
         "when Windows restarts."},
    {33, "Close the applications"},
    {34, "Continue without closing"},
    {35, "Cancel"},
    {36, "These applications did not close. The files they hold will be removed when Windows "
         "restarts:"},
    {37, "Closing applications..."},
    {38, "Another uninstall is running on this computer. Wait until it has finished, then "
         "choose Retry."},
    {39, "The uninstall is removing files. Shutting down now would leave the program partly "
         "removed."},
};

// The highest message number the string table holds.
inline constexpr unsigned kLastMessage = 39;
