// The removal phases: each reads its own section of the install log and
// undoes one kind of change, adding its progress line first.
#include "Phases.h"

#include "CounterJournal.h"

#include "ktLedger.h"

#include "ktStrUtils.h"
#include "ktIniCache.h"

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
    kMsgSharedFiles = 14,
};

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

void RemoveShortcuts() {
    for (int i = 0; i < SectionEntries.Count(); ++i) {
        const std::string& entry = SectionEntries[i];
        std::string name = NameOf(entry);
        Ledger().DeleteFileNow(entry, ChangeExtension(name, ".lnk"));
        Ledger().DeleteFileNow(entry, ChangeExtension(name, ".pif"));
    }
}

void RemoveAddIni() {
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

void RemoveRegFonts() {
    for (int i = 0; i < SectionEntries.Count(); ++i) {
        const std::string& entry = SectionEntries[i];
        std::string name = NameOf(entry);
        if (InKeptSharedFiles(name)) {
            Ledger().SkipKeptShared(entry, name);
        } else {
            Ledger().RemoveFont(entry, name, RemoveFontResourceHook);
        }
    }
    Ledger().FontsChanged();
}

void RemoveAddReg() {
    for (int i = 0; i < SectionEntries.Count(); ++i) {
        const std::string& entry = SectionEntries[i];
        Ledger().RemoveRegistryEntry(entry, NameOf(entry));
    }
}

void RemoveCreateKeys() {
    std::vector<std::string> entries;
    SortNames(entries);
    for (int i = SectionEntries.Count() - 1; i >= 0; --i) {
        Ledger().RemoveRegistryEntry(EntryOf(i), SectionEntries[i], true);
    }
}

void RemoveRegServers() {
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

void RemoveCopyFiles() {
    for (int i = 0; i < SectionEntries.Count(); ++i) {
        const std::string& entry = SectionEntries[i];
        std::string name = NameOf(entry);
        if (InKeptSharedFiles(name)) {
            Ledger().SkipKeptShared(entry, name);
        } else {
            Ledger().DeleteFileOrSchedule(entry, name);
        }
    }
    // The 95 family's restart-time list is written now, so that its entries
    // are known scheduled or failed before the run's end, its final box and
    // its exit code.
    Ledger().RestartListWrittenBack();
}

void RemoveCreateDirs() {
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

} // namespace

void SharedFilesPhase() {
    RunPhase(RemovalPhases()[0]);
}

const std::vector<TPhase>& RemovalPhases() {
    static const std::vector<TPhase> phases = {
        {"SharedFiles", kMsgSharedFiles, &KeptSharedFiles, LowerSharedCounters},
        {"Shortcuts", kMsgShortcuts, &SectionEntries, RemoveShortcuts},
        {"AddIni", kMsgIniEntries, &SectionEntries, RemoveAddIni},
        {"RegFonts", kMsgFonts, &SectionEntries, RemoveRegFonts},
        {"AddReg", kMsgRegValues, &SectionEntries, RemoveAddReg},
        {"CreateKeys", kMsgRegKeys, &SectionEntries, RemoveCreateKeys},
        {"RegServers", kMsgServers, &SectionEntries, RemoveRegServers},
        {"CopyFiles", kMsgFiles, &SectionEntries, RemoveCopyFiles},
        {"CreateDirs", kMsgDirectories, &SectionEntries, RemoveCreateDirs},
    };
    return phases;
}

void RunPhase(const TPhase& phase) {
    Ledger().SetPhase(phase.section);
    phase.entries->Clear();
    IniReadSectionValues(InstallLogPath, phase.section, *phase.entries);
    if (phase.entries->Empty()) {
        return;
    }
    AddProgressCaption(GetMessageText(phase.message));
    phase.act();
}

void RunRemovalPhases() {
    for (const TPhase& phase : RemovalPhases()) {
        RunPhase(phase);
    }
}

void ShortcutsPhase() {
    RunPhase(RemovalPhases()[1]);
}

void AddIniPhase() {
    RunPhase(RemovalPhases()[2]);
}

void RegFontsPhase() {
    RunPhase(RemovalPhases()[3]);
}

void AddRegPhase() {
    RunPhase(RemovalPhases()[4]);
}

void CreateKeysPhase() {
    RunPhase(RemovalPhases()[5]);
}

void RegServersPhase() {
    RunPhase(RemovalPhases()[6]);
}

void CopyFilesPhase() {
    RunPhase(RemovalPhases()[7]);
}

void CreateDirsPhase() {
    RunPhase(RemovalPhases()[8]);
}
