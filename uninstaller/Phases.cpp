// The removal phases: each reads its own section of the install log and
// undoes one kind of change, adding its progress line first.
#include "Phases.h"

#include "CounterJournal.h"

#include "ktLedger.h"
#include "ktRegIni.h"
#include "ktStrUtils.h"

#include <string>
#include <vector>

BOOL(WINAPI* RemoveFontResourceHook)(LPCSTR fileName) = RemoveFontResourceA;

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
    Ledger().SetPhase(section);
    LoadSection(section);
    if (SectionEntries.Empty()) {
        return false;
    }
    AddProgressCaption(GetMessageText(message));
    return true;
}

// The name with its extension replaced: the text from the last "." on, when
// that dot comes after the last "\", "/" and ":", otherwise nothing, is
// replaced. "/" separates path parts as "\" does, so a dot in a folder
// name never counts.
std::string ChangeExtension(const std::string& name, const std::string& extension) {
    size_t last = name.find_last_of(".\\/:");
    if (last != std::string::npos && name[last] == '.') {
        return name.substr(0, last) + extension;
    }
    return name + extension;
}

// Replaces every line of SectionEntries by its name and sorts the list, so a
// walk from the last line meets every path before the paths that hold it.
// Each line keeps its entry as the log gives it, in `entries`, reached
// through the line's object.
void SortNames(std::vector<std::string>& entries) {
    entries.assign(static_cast<size_t>(SectionEntries.Count()), std::string());
    for (int i = 0; i < SectionEntries.Count(); ++i) {
        entries[static_cast<size_t>(i)] = SectionEntries[i];
        SectionEntries.Set(i, NameOf(SectionEntries[i]));
        SectionEntries.SetObject(i, &entries[static_cast<size_t>(i)]);
    }
    SectionEntries.Sort();
}

const std::string& EntryOf(int index) {
    return *static_cast<const std::string*>(SectionEntries.Objects(index));
}

} // namespace

void ShortcutsPhase() {
    if (!BeginPhase("Shortcuts", kMsgShortcuts)) {
        return;
    }
    for (int i = 0; i < SectionEntries.Count(); ++i) {
        const std::string& entry = SectionEntries[i];
        std::string name = NameOf(entry);
        Ledger().DeleteFileNow(entry, ChangeExtension(name, ".lnk"));
        Ledger().DeleteFileNow(entry, ChangeExtension(name, ".pif"));
    }
}

void AddIniPhase() {
    if (!BeginPhase("AddIni", kMsgIniEntries)) {
        return;
    }
    const CharSet comma = CommaSet();
    for (int i = 0; i < SectionEntries.Count(); ++i) {
        const std::string& entry = SectionEntries[i];
        std::string name = NameOf(entry);
        Ledger().DeleteIniKey(entry, GetField(1, name, comma), GetField(2, name, comma),
                              GetField(3, name, comma));
    }
    // Writes the changed INI files back; the install log is loaded again on
    // its next read. The entries' outcomes are known only then: those of a
    // file that could not be written back stay, and count as left over.
    Ledger().IniWrittenBack(FreeIniFiles());
}

void RegFontsPhase() {
    if (!BeginPhase("RegFonts", kMsgFonts)) {
        return;
    }
    for (int i = 0; i < SectionEntries.Count(); ++i) {
        const std::string& entry = SectionEntries[i];
        std::string name = NameOf(entry);
        if (InKeptSharedFiles(name)) {
            Ledger().SkipKeptShared(entry, name);
        } else {
            Ledger().RemoveFont(entry, name, RemoveFontResourceHook);
        }
    }
    if (Ledger().Preview()) {
        return;
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
        const std::string& entry = SectionEntries[i];
        Ledger().RemoveRegistryEntry(entry, NameOf(entry));
    }
}

void CreateKeysPhase() {
    if (!BeginPhase("CreateKeys", kMsgRegKeys)) {
        return;
    }
    std::vector<std::string> entries;
    SortNames(entries);
    for (int i = SectionEntries.Count() - 1; i >= 0; --i) {
        Ledger().RemoveRegistryEntry(EntryOf(i), SectionEntries[i]);
    }
}

void RegServersPhase() {
    if (!BeginPhase("RegServers", kMsgServers)) {
        return;
    }
    for (int i = 0; i < SectionEntries.Count(); ++i) {
        const std::string& entry = SectionEntries[i];
        std::string name = NameOf(entry);
        if (InKeptSharedFiles(name)) {
            Ledger().SkipKeptShared(entry, name);
        } else {
            Ledger().UnregisterServerEntry(entry, name);
        }
    }
}

void CopyFilesPhase() {
    if (!BeginPhase("CopyFiles", kMsgFiles)) {
        return;
    }
    for (int i = 0; i < SectionEntries.Count(); ++i) {
        const std::string& entry = SectionEntries[i];
        std::string name = NameOf(entry);
        if (InKeptSharedFiles(name)) {
            Ledger().SkipKeptShared(entry, name);
        } else {
            Ledger().DeleteFileOrSchedule(entry, name);
        }
    }
}

void CreateDirsPhase() {
    if (!BeginPhase("CreateDirs", kMsgDirectories)) {
        return;
    }
    std::vector<std::string> entries;
    SortNames(entries);
    // The log may live in one of the directories, but it goes only after
    // every other directory: a run stopped before then leaves the log, so a
    // second run can finish the job. Directories that were not empty are
    // tried once more without it, and only then recorded.
    std::vector<int> notRemoved;
    for (int i = SectionEntries.Count() - 1; i >= 0; --i) {
        if (!Ledger().RemoveDirectoryEntry(EntryOf(i), SectionEntries[i], false)) {
            notRemoved.push_back(i);
        }
    }
    Ledger().DeleteInstallLog(InstallLogPath);
    if (!Ledger().Preview()) {
        TCounterJournal::RemoveAfterLog(InstallLogPath);
    }
    for (int i : notRemoved) {
        Ledger().RemoveDirectoryEntry(EntryOf(i), SectionEntries[i]);
    }
}
