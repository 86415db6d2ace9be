// The removal phases: each reads its own section of the install log and
// undoes one kind of change, adding its progress line first.
#include "Phases.h"

#include "CounterJournal.h"

#include "ktFileUtils.h"
#include "ktRegIni.h"
#include "ktStrUtils.h"
#include "ktUtils2.h"

#include <string>
#include <vector>

BOOL(WINAPI* RemoveFontResourceHook)(LPCSTR fileName) = RemoveFontResourceA;
bool (*RemoveKeyHook)(const std::string& path) = RemoveRegEntry;

namespace {

// Message numbers of the progress lines.
enum : int {
    kMsgFiles = 6,
    kMsgRegValues = 7,
    kMsgRegKeys = 8,
    kMsgIniEntries = 9,
    kMsgShortcuts = 10,
    kMsgDirectories = 11,
    kMsgServers = 12,
    kMsgFonts = 13,
};

// Loads the phase's section; false (and no progress line) when it is empty.
bool BeginPhase(const char* section, int message) {
    LoadSection(section);
    if (SectionEntries.Empty()) {
        return false;
    }
    AddProgressCaption(GetMessageText(message));
    return true;
}

// The name with its extension replaced: the text from the last "." on, when
// that dot comes after the last "\" and ":", otherwise nothing, is replaced.
std::string ChangeExtension(const std::string& name, const std::string& extension) {
    size_t last = name.find_last_of(".\\:");
    if (last != std::string::npos && name[last] == '.') {
        return name.substr(0, last) + extension;
    }
    return name + extension;
}

// Replaces every line of SectionEntries by its name and sorts the list, so a
// walk from the last line meets every path before the paths that hold it.
void SortNames() {
    for (int i = 0; i < SectionEntries.Count(); ++i) {
        SectionEntries.Set(i, NameOf(SectionEntries[i]));
    }
    SectionEntries.Sort();
}

} // namespace

void ShortcutsPhase() {
    if (!BeginPhase("Shortcuts", kMsgShortcuts)) {
        return;
    }
    for (int i = 0; i < SectionEntries.Count(); ++i) {
        std::string name = NameOf(SectionEntries[i]);
        RemoveFile(ChangeExtension(name, ".lnk"));
        RemoveFile(ChangeExtension(name, ".pif"));
    }
}

void AddIniPhase() {
    if (!BeginPhase("AddIni", kMsgIniEntries)) {
        return;
    }
    const CharSet comma = CommaSet();
    for (int i = 0; i < SectionEntries.Count(); ++i) {
        std::string name = NameOf(SectionEntries[i]);
        IniDeleteKey(GetField(1, name, comma), GetField(2, name, comma), GetField(3, name, comma));
    }
    // Writes the changed INI files back; the install log is loaded again on
    // its next read.
    FreeIniFiles();
}

void RegFontsPhase() {
    if (!BeginPhase("RegFonts", kMsgFonts)) {
        return;
    }
    for (int i = 0; i < SectionEntries.Count(); ++i) {
        std::string name = NameOf(SectionEntries[i]);
        if (!InKeptSharedFiles(name)) {
            RemoveFontResourceHook(name.c_str());
        }
    }
    // A window that does not answer must not hold the uninstall up.
    DWORD_PTR result = 0;
    SendMessageTimeoutA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
}

void AddRegPhase() {
    if (!BeginPhase("AddReg", kMsgRegValues)) {
        return;
    }
    for (int i = 0; i < SectionEntries.Count(); ++i) {
        RemoveRegEntry(NameOf(SectionEntries[i]));
    }
}

void CreateKeysPhase() {
    if (!BeginPhase("CreateKeys", kMsgRegKeys)) {
        return;
    }
    SortNames();
    for (int i = SectionEntries.Count() - 1; i >= 0; --i) {
        RemoveKeyHook(SectionEntries[i]);
    }
}

void RegServersPhase() {
    if (!BeginPhase("RegServers", kMsgServers)) {
        return;
    }
    for (int i = 0; i < SectionEntries.Count(); ++i) {
        std::string name = NameOf(SectionEntries[i]);
        if (!InKeptSharedFiles(name)) {
            UnregisterServer(name);
        }
    }
}

void CopyFilesPhase() {
    if (!BeginPhase("CopyFiles", kMsgFiles)) {
        return;
    }
    for (int i = 0; i < SectionEntries.Count(); ++i) {
        std::string name = NameOf(SectionEntries[i]);
        if (!InKeptSharedFiles(name) && !RemoveFile(name)) {
            DeleteOnRestart(name);
        }
    }
}

void CreateDirsPhase() {
    if (!BeginPhase("CreateDirs", kMsgDirectories)) {
        return;
    }
    SortNames();
    // The log may live in one of the directories, but it goes only after
    // every other directory: a run stopped before then leaves the log, so a
    // second run can finish the job. Directories that were not empty are
    // tried once more without it.
    std::vector<int> notRemoved;
    for (int i = SectionEntries.Count() - 1; i >= 0; --i) {
        if (!RemoveDirectoryA(SectionEntries[i].c_str())) {
            notRemoved.push_back(i);
        }
    }
    RemoveFile(InstallLogPath);
    TCounterJournal::RemoveAfterLog(InstallLogPath);
    for (int i : notRemoved) {
        RemoveDirectoryA(SectionEntries[i].c_str());
    }
}
