// The preview property, case by case: a preview changes nothing, and the
// real run that follows on the same machine has, entry by entry, the outcome
// that the preview predicted (and stops where the preview stopped).
#include "RegTestSupport.h"
#include "TestSupport.h"
#include "ktFileChecks.h"
#include "ktFileUtils.h"
#include "ktHandle.h"
#include "ktIniCache.h"
#include "ktIniFile.h"
#include "ktLedger.h"
#include "ktPlatform.h"
#include "ktReport.h"

#include <map>
#include <string>
#include <vector>

namespace {

// One case's own folder and key, and what it holds open or protects.
struct TCaseMachine {
    std::string dir;    // with a trailing backslash
    std::string key;    // "HKCU\Software\VantrelTest-...\<case>"
    std::string subKey; // the same below HKCU
    std::vector<TScopedHandle>* held;
    std::vector<std::string>* protectedKeys;
    std::string Path(const std::string& name) const { return dir + name; }
};

struct TPreviewCase {
    const char* name;
    void (*lay)(const TCaseMachine&);
    // The entries, through Ledger(); may raise as a phase does.
    void (*act)(const TCaseMachine&);
    // The real run's outcomes, in order; empty to check only the agreement
    // (where one build cannot make the machine the case needs).
    std::vector<std::string> outcomes;
    bool raises;
};

void MakeDir(const std::string& path) {
    ASSERT_TRUE(CreateDirectoryA(path.c_str(), nullptr)) << path;
}

void Hold(const TCaseMachine& m, const std::string& path, DWORD share) {
    m.held->emplace_back(CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(m.held->back()) << path;
}

// A folder held open by handle, as another process would.
void HoldFolder(const TCaseMachine& m, const std::string& path, DWORD share) {
    m.held->emplace_back(CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(m.held->back()) << path;
}

void SetCounter(const TCaseMachine& m, const std::string& file, DWORD count) {
    TScopedRegKey key;
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, m.subKey.c_str(), key.Receive()), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.Get(), file.c_str(), 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&count), sizeof count),
              ERROR_SUCCESS);
}

std::string CounterOf(const TCaseMachine& m, const std::string& file) {
    return m.key + "\\'" + file + "'";
}

const char kIni[] = "[Main]\r\nKey=1\r\nKept=2\r\n";

// The INI phase's end: the write-back and the entries' outcomes.
void WriteBack() {
    Ledger().IniWrittenBack(FreeIniFiles());
}

// The 95 family's code for the rest of the scope.
class TAs95Family {
  public:
    TAs95Family() : saved_(PlatformId()) { SetPlatformId(VER_PLATFORM_WIN32_WINDOWS); }
    ~TAs95Family() { SetPlatformId(saved_); }
    TAs95Family(const TAs95Family&) = delete;
    TAs95Family& operator=(const TAs95Family&) = delete;

  private:
    DWORD saved_;
};

const char kRestartList[] = "[Rename]\r\nNUL=C:\\OLD\\OLD.DLL\r\n";

// Two files in use on the 95 family, and wininit.ini held with `share`.
void LayRestartListHeld(const TCaseMachine& m, DWORD share) {
    WriteBytes(m.Path("busy1.dll"), "x");
    WriteBytes(m.Path("busy2.dll"), "x");
    Hold(m, m.Path("busy1.dll"), FILE_SHARE_READ);
    Hold(m, m.Path("busy2.dll"), FILE_SHARE_READ);
    WriteBytes(RestartListFile(), kRestartList);
    Hold(m, RestartListFile(), share);
}

void ScheduleBoth95(const TCaseMachine& m) {
    TAs95Family family;
    Ledger().DeleteFileOrSchedule("b1=", m.Path("busy1.dll"));
    Ledger().DeleteFileOrSchedule("b2=", m.Path("busy2.dll"));
    Ledger().RestartListWrittenBack();
    EXPECT_EQ(ReadBytes(RestartListFile()), kRestartList);
    // Left over in the run (the preview names nothing left over), and no
    // restart claimed.
    EXPECT_EQ(Ledger().LeftOverCount(), Ledger().Preview() ? 0 : 2);
    EXPECT_FALSE(Ledger().RestartPending());
}

const TPreviewCase kCases[] = {
    {"ShortNames",
     [](const TCaseMachine& m) {
         WriteBytes(m.Path("Long File Name.txt"), "x");
         MakeDir(m.Path("Long Folder"));
         WriteBytes(m.Path("Long Folder\\Inner File.txt"), "x");
     },
     [](const TCaseMachine& m) {
         std::string file = GetShortPath(m.Path("Long File Name.txt"));
         std::string inner = GetShortPath(m.Path("Long Folder")) + "\\Inner File.txt";
         EXPECT_NE(file, m.Path("Long File Name.txt"));
         Ledger().DeleteFileOrSchedule("f1=", file);
         Ledger().DeleteFileOrSchedule("f2=", m.Path("Long File Name.txt"));
         Ledger().DeleteFileOrSchedule("f3=", inner);
         Ledger().RemoveDirectoryEntry("d1=", m.Path("long folder"));
     },
     {"removed", "absent", "removed", "removed"},
     false},
    {"DotDotDoubledSeparatorsDevices",
     [](const TCaseMachine& m) {
         MakeDir(m.Path("D"));
         MakeDir(m.Path("D\\sub"));
         WriteBytes(m.Path("D\\a.txt"), "a");
         WriteBytes(m.Path("D\\b.txt"), "b");
     },
     [](const TCaseMachine& m) {
         Ledger().DeleteFileNow("a1=", m.Path("D\\sub\\..\\a.txt"));
         Ledger().DeleteFileNow("a2=", m.Path("D\\a.txt"));
         Ledger().DeleteFileOrSchedule("b1=", m.Path("D\\\\b.txt"));
         Ledger().DeleteFileOrSchedule("b2=", m.Path("d/./B.TXT"));
         Ledger().DeleteFileOrSchedule("n=", m.Path("D\\NUL"));
         Ledger().RemoveDirectoryEntry("s=", m.Path("D\\\\sub\\"));
         Ledger().RemoveDirectoryEntry("d=", m.Path("D\\sub\\.."));
     },
     {"removed", "absent", "removed", "absent", "absent", "removed", "removed"},
     false},
    {"FileInUseKeepsItsFolder",
     [](const TCaseMachine& m) {
         MakeDir(m.Path("F"));
         WriteBytes(m.Path("F\\busy.dll"), "x");
         Hold(m, m.Path("F\\busy.dll"), FILE_SHARE_READ);
     },
     [](const TCaseMachine& m) {
         Ledger().DeleteFileOrSchedule("b=", m.Path("F\\busy.dll"));
         Ledger().RemoveDirectoryEntry("f=", m.Path("F"));
     },
     {"scheduled-at-restart", "not-empty"},
     false},
    // A folder held open without delete sharing stays, empty from the start
    // or emptied by the run; a read-only file goes, as the run clears the
    // attribute first. (A folder whose access rights forbid its removal is
    // probed by the same open, but neither build can make one: the native
    // layer keeps no access rights, and Wine running as root enforces none.)
    {"FolderHeldAndReadOnlyFile",
     [](const TCaseMachine& m) {
         MakeDir(m.Path("empty"));
         MakeDir(m.Path("emptied"));
         WriteBytes(m.Path("emptied\\x.txt"), "x");
         WriteBytes(m.Path("ro.txt"), "x");
         ASSERT_TRUE(SetFileAttributesA(m.Path("ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
         HoldFolder(m, m.Path("empty"), FILE_SHARE_READ | FILE_SHARE_WRITE);
         HoldFolder(m, m.Path("emptied"), FILE_SHARE_READ | FILE_SHARE_WRITE);
     },
     [](const TCaseMachine& m) {
         Ledger().RemoveDirectoryEntry("e=", m.Path("empty"));
         Ledger().DeleteFileNow("x=", m.Path("emptied\\x.txt"));
         Ledger().RemoveDirectoryEntry("d=", m.Path("emptied"));
         Ledger().DeleteFileNow("r=", m.Path("ro.txt"));
     },
     {"failed", "removed", "failed", "removed"},
     false},
    {"IniFileUnderOtherNames",
     [](const TCaseMachine& m) { WriteBytes(m.Path("app.ini"), kIni); },
     [](const TCaseMachine& m) {
         Ledger().DeleteIniKey("i1=", m.Path("\\app.ini"), "Main", "Key");
         Ledger().DeleteIniKey("i2=", m.Path("APP.INI"), "main", "KEY");
         Ledger().DeleteIniKey("i3=", m.Path("app.ini"), "Main", "None");
         Ledger().DeleteIniKey("i4=", m.Path("none.ini"), "Main", "Key");
         WriteBack();
     },
     {"removed", "absent", "absent", "absent"},
     false},
    {"IniFileReadOnlyEndsTheRun",
     [](const TCaseMachine& m) {
         WriteBytes(m.Path("ro.ini"), kIni);
         ASSERT_TRUE(SetFileAttributesA(m.Path("ro.ini").c_str(), FILE_ATTRIBUTE_READONLY));
     },
     [](const TCaseMachine& m) {
         Ledger().DeleteIniKey("r=", m.Path("ro.ini"), "Main", "Key");
         Ledger().DeleteIniKey("after=", m.Path("ro.ini"), "Main", "Kept");
     },
     {"failed"},
     true},
    {"IniFileHeldEndsTheRun",
     [](const TCaseMachine& m) {
         WriteBytes(m.Path("held.ini"), kIni);
         Hold(m, m.Path("held.ini"), 0);
     },
     [](const TCaseMachine& m) { Ledger().DeleteIniKey("h=", m.Path("held.ini"), "Main", "Key"); },
     {"failed"},
     true},
    {"IniFileThatCannotBeReplaced",
     [](const TCaseMachine& m) {
         WriteBytes(m.Path("stuck.ini"), kIni);
         Hold(m, m.Path("stuck.ini"), FILE_SHARE_READ | FILE_SHARE_WRITE);
     },
     [](const TCaseMachine& m) {
         Ledger().DeleteIniKey("s1=", m.Path("stuck.ini"), "Main", "Key");
         Ledger().DeleteIniKey("s2=", m.Path("stuck.ini"), "Main", "None");
         WriteBack();
     },
     {"failed", "absent"},
     false},
    // On the 95 family a restart-time list that cannot be replaced keeps
    // the files in use: failed, not scheduled.
    {"RestartListThatCannotBeReplaced95",
     [](const TCaseMachine& m) { LayRestartListHeld(m, FILE_SHARE_READ | FILE_SHARE_WRITE); },
     ScheduleBoth95,
     {"failed", "failed"},
     false},
    // One the engine cannot open ends the run at the first file in use.
    {"RestartListHeldEndsTheRun95",
     [](const TCaseMachine& m) { LayRestartListHeld(m, 0); },
     ScheduleBoth95,
     {"failed"},
     true},
    {"CountersLoweredAndReadAgain",
     [](const TCaseMachine& m) {
         SetCounter(m, "C:\\Shared\\a.dll", 3);
         SetCounter(m, "C:\\Shared\\b.dll", 1);
     },
     [](const TCaseMachine& m) {
         bool exists = false;
         int32_t a = Ledger().ReadCounter(CounterOf(m, "C:\\Shared\\a.dll"), exists);
         Ledger().DecrementCounter("a=", CounterOf(m, "C:\\Shared\\a.dll"), a);
         EXPECT_EQ(Ledger().ReadCounter(CounterOf(m, "c:\\shared\\A.DLL"), exists), 2);
         int32_t b = Ledger().ReadCounter(CounterOf(m, "C:\\Shared\\b.dll"), exists);
         Ledger().DeleteCounter("b=", CounterOf(m, "C:\\Shared\\b.dll"), b, exists);
         Ledger().ReadCounter(CounterOf(m, "C:\\Shared\\b.dll"), exists);
         EXPECT_FALSE(exists);
         Ledger().RemoveRegistryEntry("v=", CounterOf(m, "C:\\Shared\\b.dll"));
     },
     {"counter-decremented", "removed", "absent"},
     false},
    {"CounterKeyThatCannotBeWritten",
     [](const TCaseMachine& m) {
         SetCounter(m, "C:\\Shared\\a.dll", 3);
         SetCounter(m, "C:\\Shared\\b.dll", 1);
         // Only the native store can refuse writes (Wine keeps no registry
         // security): there the outcomes are failures, under Wine the two
         // runs still agree.
         if (ProtectKeyForTest(HKEY_CURRENT_USER, m.subKey, true)) {
             m.protectedKeys->push_back(m.subKey);
         }
     },
     [](const TCaseMachine& m) {
         bool exists = false;
         int32_t a = Ledger().ReadCounter(CounterOf(m, "C:\\Shared\\a.dll"), exists);
         Ledger().DecrementCounter("a=", CounterOf(m, "C:\\Shared\\a.dll"), a);
         int32_t b = Ledger().ReadCounter(CounterOf(m, "C:\\Shared\\b.dll"), exists);
         Ledger().DeleteCounter("b=", CounterOf(m, "C:\\Shared\\b.dll"), b, exists);
     },
     {},
     false},
    {"ServersThatNameNoLibrary",
     [](const TCaseMachine& m) {
         MakeDir(m.Path("S"));
         WriteBytes(m.Path("S\\server.dll"), "not run");
     },
     [](const TCaseMachine& m) {
         Ledger().UnregisterServerEntry("NUL=", "NUL");
         Ledger().UnregisterServerEntry("n=", m.Path("S\\nul.dll"));
         Ledger().UnregisterServerEntry("t=", m.Path("S\\server.dll\\"));
         Ledger().UnregisterServerEntry("d=", m.Path("S\\"));
         Ledger().UnregisterServerEntry("m=", m.Path("S\\missing.dll"));
     },
     {"unregister-failed", "unregister-failed", "unregister-failed", "unregister-failed",
      "unregister-failed"},
     false},
};

// Everything below a folder: names with attributes, and file bytes.
void SnapshotFolder(const std::string& dir, std::map<std::string, std::string>& into) {
    WIN32_FIND_DATAA data;
    TScopedFind find(FindFirstFileA((dir + "*").c_str(), &data));
    for (bool more = static_cast<bool>(find); more; more = FindNextFileA(find.Get(), &data)) {
        std::string name = data.cFileName;
        if (name == "." || name == "..") {
            continue;
        }
        std::string path = dir + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            into[path] = "dir";
            SnapshotFolder(path + "\\", into);
        } else {
            into[path] = std::to_string(data.dwFileAttributes & ~FILE_ATTRIBUTE_ARCHIVE) + ":" +
                         ReadBytes(path);
        }
    }
}

// Every key and value below a key, with the values' data.
void SnapshotKey(const std::string& subKey, std::map<std::string, std::string>& into) {
    TScopedRegKey key;
    if (RegOpenKeyA(HKEY_CURRENT_USER, subKey.c_str(), key.Receive()) != ERROR_SUCCESS) {
        return;
    }
    into[subKey] = "key";
    char name[1024];
    BYTE value[1024];
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = sizeof name;
        DWORD size = sizeof value;
        if (RegEnumValueA(key.Get(), i, name, &nameSize, nullptr, nullptr, value, &size) !=
            ERROR_SUCCESS) {
            break;
        }
        into[subKey + "\n" + name] = std::string(reinterpret_cast<char*>(value), size);
    }
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = sizeof name;
        if (RegEnumKeyExA(key.Get(), i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        SnapshotKey(subKey + "\\" + name, into);
    }
}

class LedgerPreview : public TempRegTest {
  protected:
    // The outcomes of one run of the case, and whether it raised.
    std::vector<std::string> Run(const TPreviewCase& c, const TCaseMachine& m, bool preview,
                                 bool& raised) {
        std::string reportPath = PathOf(preview ? "preview.jsonl" : "run.jsonl");
        TReportFile report;
        EXPECT_TRUE(report.Create(reportPath));
        Ledger().Start(preview, &report);
        Ledger().SetPhase(c.name);
        raised = false;
        try {
            c.act(m);
        } catch (const EIniFileError&) {
            raised = true;
        }
        FreeIniFiles();
        Ledger().Start(false, nullptr);
        report.Close();
        std::vector<std::string> outcomes;
        std::string bytes = ReadBytes(reportPath);
        const std::string field = "\"outcome\":\"";
        for (size_t at = bytes.find(field); at != std::string::npos;
             at = bytes.find(field, at + 1)) {
            size_t from = at + field.size();
            outcomes.push_back(bytes.substr(from, bytes.find('"', from) - from));
        }
        return outcomes;
    }
};

TEST_F(LedgerPreview, PredictsTheRunAndChangesNothing) {
    // The 95 family's cases lay out wininit.ini: it is put back at the end.
    const bool hadRestartList = FileExists(RestartListFile());
    const std::string restartList = ReadBytes(RestartListFile());
    for (const TPreviewCase& c : kCases) {
        SCOPED_TRACE(c.name);
        std::vector<TScopedHandle> held;
        std::vector<std::string> protectedKeys;
        TCaseMachine m{PathOf(std::string(c.name) + "\\"), KeyPath() + "\\" + c.name,
                       SubKey() + "\\" + c.name, &held, &protectedKeys};
        MakeDir(RemoveBackslash(m.dir));
        c.lay(m);
        std::map<std::string, std::string> before;
        std::map<std::string, std::string> afterPreview;
        SnapshotFolder(m.dir, before);
        SnapshotKey(m.subKey, before);
        before["restart list"] = ReadBytes(RestartListFile());

        bool previewRaised = false;
        std::vector<std::string> predicted = Run(c, m, true, previewRaised);
        SnapshotFolder(m.dir, afterPreview);
        SnapshotKey(m.subKey, afterPreview);
        afterPreview["restart list"] = ReadBytes(RestartListFile());
        EXPECT_EQ(afterPreview, before) << "the preview changed the machine";

        bool raised = false;
        std::vector<std::string> outcomes = Run(c, m, false, raised);
        std::vector<std::string> expectedPrediction;
        for (const std::string& outcome : outcomes) {
            expectedPrediction.push_back("would-" + outcome);
        }
        EXPECT_EQ(predicted, expectedPrediction);
        EXPECT_EQ(previewRaised, raised);
        EXPECT_EQ(raised, c.raises);
        if (!c.outcomes.empty()) {
            EXPECT_EQ(outcomes, c.outcomes);
        } else if (!protectedKeys.empty()) {
            EXPECT_EQ(outcomes, (std::vector<std::string>{"failed", "failed"}));
        }
        for (const std::string& key : protectedKeys) {
            ProtectKeyForTest(HKEY_CURRENT_USER, key, false);
        }
    }
    if (hadRestartList) {
        WriteBytes(RestartListFile(), restartList);
    } else {
        DeleteFileA(RestartListFile().c_str());
    }
}

} // namespace
