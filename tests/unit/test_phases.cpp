// The removal phases, each run directly on an install log in the test's
// folder: its effect on files, INI files and registry, and its progress line.
#include "PhaseTestSupport.h"
#include "ktJson.h"
#include "ktReport.h"
#include "ktStrUtils.h"
#include "ktText.h"
#include "ktIniCache.h"

#include <functional>
#include <string>
#include <vector>

namespace {

std::vector<std::string> fontCalls;
BOOL WINAPI RecordFont(LPCSTR name) {
    fontCalls.push_back(name);
    return TRUE;
}

int fontChanges = 0;
INT_PTR CALLBACK CountFontChanges(HWND, UINT message, WPARAM, LPARAM) {
    if (message == WM_FONTCHANGE) {
        ++fontChanges;
    }
    return FALSE;
}

// The font-change broadcasts that a top-level window of the process gets
// while the RegFonts phase runs.
int FontChangesSeenDuringRegFonts() {
    HWND listener =
        CreateDialogParamA(ModuleHandle, RES_DLG_UNINSTALL, nullptr, CountFontChanges, 0);
    EXPECT_NE(listener, nullptr);
    fontChanges = 0;
    RegFontsPhase();
    int seen = fontChanges;
    DestroyWindow(listener);
    return seen;
}

class PhasesTest : public PhaseTest {
  protected:
    void SetUp() override {
        PhaseTest::SetUp();
        fontCalls.clear();
        RemoveFontResourceHook = RecordFont;
        log_ = "vt-phases-" + std::to_string(GetCurrentProcessId()) + ".log";
        DeleteFileA(log_.c_str());
        ASSERT_TRUE(SetEnvironmentVariableA("VANTREL_TEST_LOG", log_.c_str()));
    }
    void TearDown() override {
        RemoveFontResourceHook = RemoveFontResourceA;
        DeleteFileA(log_.c_str());
        SetEnvironmentVariableA("VANTREL_TEST_LOG", nullptr);
        PhaseTest::TearDown();
    }
    // Events of the test libraries.
    std::vector<std::string> LibraryEvents() const { return ReadLines(log_); }

    bool RegValueThere(const std::string& subKey, const std::string& value) const {
        HKEY key = nullptr;
        if (RegOpenKeyA(HKEY_CURRENT_USER, subKey.c_str(), &key) != ERROR_SUCCESS) {
            return false;
        }
        LSTATUS status = RegQueryValueExA(key, value.c_str(), nullptr, nullptr, nullptr, nullptr);
        RegCloseKey(key);
        return status == ERROR_SUCCESS;
    }
    bool RegKeyThere(const std::string& subKey) const {
        HKEY key = nullptr;
        if (RegOpenKeyA(HKEY_CURRENT_USER, subKey.c_str(), &key) != ERROR_SUCCESS) {
            return false;
        }
        RegCloseKey(key);
        return true;
    }
    void MakeRegValue(const std::string& subKey, const std::string& value) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, subKey.c_str(), &key), ERROR_SUCCESS);
        DWORD data = 1;
        RegSetValueExA(key, value.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                       sizeof data);
        RegCloseKey(key);
    }

    std::string log_;
};

// ---- Progress lines -----------------------------------------------------------------

struct PhaseCase {
    const char* section;
    std::function<void()> run;
    const char* line;
};

std::vector<PhaseCase> AllPhases() {
    return {
        {"Shortcuts", ShortcutsPhase, "Removing shortcuts..."},
        {"AddIni", AddIniPhase, "Removing ini entries..."},
        {"RegFonts", RegFontsPhase, "Unregister fonts..."},
        {"AddReg", AddRegPhase, "Removing registry values..."},
        {"CreateKeys", CreateKeysPhase, "Removing registry keys..."},
        {"RegServers", RegServersPhase, "Unregister OLE servers..."},
        {"CopyFiles", CopyFilesPhase, "Removing files..."},
        {"CreateDirs", CreateDirsPhase, "Removing directories..."},
    };
}

TEST_F(PhasesTest, EachPhaseAddsItsOwnLineWhenItsSectionHasEntries) {
    std::vector<std::string> log;
    for (const auto& phase : AllPhases()) {
        log.push_back(std::string("[") + phase.section + "]");
        // Names that exist nowhere: the phases only try.
        log.push_back(PathOf(std::string("none-") + phase.section) + "=1");
    }
    WriteLog(log);
    std::vector<std::string> expected;
    for (const auto& phase : AllPhases()) {
        SCOPED_TRACE(phase.section);
        phase.run();
        expected.push_back(phase.line);
        EXPECT_EQ(ProgressLines(), expected);
    }
}

TEST_F(PhasesTest, EmptyOrMissingSectionsAddNoLineAndDoNothing) {
    WriteLog({"[Shortcuts]", "[AddIni]", "; only a comment", "[CreateDirs]", "[Other]", "x=1"});
    for (const auto& phase : AllPhases()) {
        SCOPED_TRACE(phase.section);
        phase.run();
    }
    EXPECT_TRUE(ProgressLines().empty());
    EXPECT_TRUE(fontCalls.empty());
    // An empty CreateDirs section leaves the install log to the run.
    EXPECT_TRUE(PathExists(InstallLogPath));
}

// ---- Shortcuts -----------------------------------------------------------------------

TEST_F(PhasesTest, ShortcutsRemoveTheLnkAndPifTwins) {
    ASSERT_TRUE(CreateDirectoryA(PathOf("menu.v2").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(PathOf("tools.v3").c_str(), nullptr));
    for (const char* name :
         {"App.lnk", "App.pif", "Help.lnk", "Help.pif", "Help.txt", "menu.v2\\Tool.lnk",
          "menu.v2\\Tool.pif", "Other.lnk", "tools.v3\\Tool.lnk", "tools.lnk"}) {
        WriteBytes(PathOf(name), "x");
    }
    // "/" separates folders like "\": the dot of "tools.v3" is no extension.
    WriteLog({"[Shortcuts]", PathOf("App") + "=", PathOf("Help.lnk") + "=1",
              PathOf("menu.v2\\Tool") + "=1", PathOf("Gone.lnk") + "=1",
              PathOf("tools.v3/Tool") + "=1"});
    ShortcutsPhase();
    for (const char* gone : {"App.lnk", "App.pif", "Help.lnk", "Help.pif", "menu.v2\\Tool.lnk",
                             "menu.v2\\Tool.pif", "tools.v3\\Tool.lnk"}) {
        EXPECT_FALSE(PathExists(PathOf(gone))) << gone;
    }
    for (const char* kept : {"Help.txt", "Other.lnk", "tools.lnk"}) {
        EXPECT_TRUE(PathExists(PathOf(kept))) << kept;
    }
    EXPECT_EQ(ProgressLines(), (std::vector<std::string>{"Removing shortcuts..."}));
}

// ---- AddIni ------------------------------------------------------------------------------

TEST_F(PhasesTest, AddIniDeletesKeysInAnotherProgramsIniAndKeepsItsComments) {
    std::string ini = PathOf("other.ini");
    WriteBytes(ini, "; Settings of another program\r\n"
                    "[Main]\r\n"
                    "Keep=1\r\n"
                    "; about Ours\r\n"
                    "Ours=2\r\n"
                    "[Plugins]\r\n"
                    "Vantrel=on\r\n"
                    "Other=on\r\n");
    WriteLog({"[AddIni]", ini + ",Main,Ours=", ini + ",Plugins,Vantrel=", ini + ",Main,Missing="});
    AddIniPhase();
    EXPECT_EQ(IniReadString(ini, "Main", "Ours", "gone"), "gone");
    EXPECT_EQ(IniReadString(ini, "Plugins", "Vantrel", "gone"), "gone");
    std::string bytes = ReadBytes(ini);
    // The cache was flushed: the file on disk has changed.
    EXPECT_EQ(bytes.find("Ours=2"), std::string::npos);
    EXPECT_EQ(bytes.find("Vantrel=on"), std::string::npos);
    for (const char* kept : {"; Settings of another program", "; about Ours", "Keep=1", "Other=on",
                             "[Main]", "[Plugins]"}) {
        EXPECT_NE(bytes.find(kept), std::string::npos) << kept;
    }
    EXPECT_EQ(ProgressLines(), (std::vector<std::string>{"Removing ini entries..."}));
}

TEST_F(PhasesTest, AddIniFieldsMayBeQuoted) {
    std::string ini = PathOf("odd, name.ini");
    WriteBytes(ini, "[A,B]\r\nK=1\r\nL=2\r\n");
    WriteLog({"[AddIni]", "'" + ini + "','A,B',K="});
    AddIniPhase();
    EXPECT_EQ(IniReadString(ini, "A,B", "K", "gone"), "gone");
    EXPECT_EQ(IniReadString(ini, "A,B", "L", "gone"), "2");
}

// ---- RegFonts ------------------------------------------------------------------------------

TEST_F(PhasesTest, RegFontsReleasesEveryFontButTheKeptSharedOnes) {
    std::string shared = PathOf("Shared.ttf");
    WriteLog({"[RegFonts]", PathOf("One.ttf") + "=", shared + "=", PathOf("Two.fon") + "="});
    KeptSharedFiles.Add(UpperCase(shared) + "=");
    RegFontsPhase();
    EXPECT_EQ(fontCalls, (std::vector<std::string>{PathOf("One.ttf"), PathOf("Two.fon")}));
    EXPECT_EQ(ProgressLines(), (std::vector<std::string>{"Unregister fonts..."}));
}

TEST_F(PhasesTest, RegFontsTellsTheTopLevelWindowsOnceAfterItsFonts) {
    WriteLog({"[RegFonts]", PathOf("One.ttf") + "=", PathOf("Two.fon") + "="});
    EXPECT_EQ(FontChangesSeenDuringRegFonts(), 1);
}

TEST_F(PhasesTest, RegFontsTellsNoWindowWhenItsSectionIsEmpty) {
    WriteLog({"[RegFonts]", "[CopyFiles]", PathOf("One.ttf") + "="});
    EXPECT_EQ(FontChangesSeenDuringRegFonts(), 0);
}

// ---- AddReg and CreateKeys ---------------------------------------------------------------

TEST_F(PhasesTest, AddRegRemovesValuesAndKeys) {
    std::string app = SubKey() + "\\App";
    MakeRegValue(app, "Version");
    MakeRegValue(app, "Keep");
    MakeRegValue(app + "\\Sub", "X");
    MakeRegValue(app, "C:\\Path\\Value");
    WriteLog({"[AddReg]", KeyPath() + "\\App\\Version=", KeyPath() + "\\App\\Sub=",
              KeyPath() + "\\App\\'C:\\Path\\Value'=", KeyPath() + "\\App\\Missing="});
    AddRegPhase();
    EXPECT_FALSE(RegValueThere(app, "Version"));
    EXPECT_FALSE(RegValueThere(app, "C:\\Path\\Value"));
    EXPECT_FALSE(RegKeyThere(app + "\\Sub"));
    EXPECT_TRUE(RegValueThere(app, "Keep"));
    EXPECT_EQ(ProgressLines(), (std::vector<std::string>{"Removing registry values..."}));
}

// Whatever the order of the file, each key is removed before the keys that
// hold it. The end state cannot show the order (a key removed first takes
// its subkeys along), so the removals are read from the ledger's report,
// which records them as they are made.
TEST_F(PhasesTest, CreateKeysRemovesEveryKeyBeforeTheKeysThatHoldIt) {
    struct Case {
        const char* what;
        std::vector<std::string> listed;  // below KeyPath(), in file order
        std::vector<std::string> removed; // in the order of removal
    };
    const std::vector<Case> cases = {
        {"a key listed before its subkey",
         {"\\Vendor\\App", "\\Vendor\\App\\Settings"},
         {"\\Vendor\\App\\Settings", "\\Vendor\\App"}},
        {"subkeys listed first, letter case differing",
         {"\\vendor\\app\\settings\\Deep", "\\Vendor\\App", "\\VENDOR\\APP\\SETTINGS"},
         {"\\vendor\\app\\settings\\Deep", "\\VENDOR\\APP\\SETTINGS", "\\Vendor\\App"}},
        // A trailing backslash names the key itself, not its default value.
        {"a key named with a trailing backslash", {"\\Vendor\\App\\"}, {"\\Vendor\\App\\"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MakeRegValue(SubKey() + "\\Vendor\\App\\Settings\\Deep", "V");
        MakeRegValue(SubKey() + "\\Vendor\\Keep", "V");
        MakeRegValue(SubKey() + "\\Vendor\\App", "");
        std::vector<std::string> log = {"[CreateKeys]"};
        for (const auto& key : c.listed) {
            log.push_back(KeyPath() + key + "=");
        }
        WriteLog(log);
        FreeIniFiles(); // the run keeps the log it read in memory
        const std::string reportPath = PathOf("report.jsonl");
        {
            TReportFile report;
            ASSERT_TRUE(report.Create(reportPath));
            Ledger().Start(false, &report);
            CreateKeysPhase();
            Ledger().Start(false, nullptr);
        }
        std::vector<std::string> removals;
        for (const std::string& line : ReadLines(reportPath)) {
            size_t entry = line.find("\"entry\":");
            removals.push_back(entry == std::string::npos
                                   ? line
                                   : line.substr(entry + 8, line.find(",\"", entry) - entry - 8));
        }
        std::vector<std::string> expected;
        for (const auto& key : c.removed) {
            expected.push_back(JsonQuoteAnsi(KeyPath() + key + "="));
        }
        EXPECT_EQ(removals, expected);
        EXPECT_FALSE(RegKeyThere(SubKey() + "\\Vendor\\App"));
        EXPECT_TRUE(RegKeyThere(SubKey() + "\\Vendor\\Keep"));
    }
    EXPECT_EQ(ProgressLines(), std::vector<std::string>(cases.size(), "Removing registry keys..."));
}

// ---- RegServers --------------------------------------------------------------------------

TEST_F(PhasesTest, RegServersUnregistersEveryServerButTheKeptSharedOnes) {
    std::string kept = TestProgram("vt_server.dll");
    WriteLog({"[RegServers]", kept + "=", TestProgram("vt_failserver.dll") + "=",
              TestProgram("vt_plain.dll") + "=", PathOf("missing.dll") + "="});
    KeptSharedFiles.Add(UpperCase(kept) + "=");
    RegServersPhase();
    EXPECT_EQ(LibraryEvents(),
              (std::vector<std::string>{
                  "load vt_failserver.dll", "DllUnregisterServer vt_failserver.dll",
                  "unload vt_failserver.dll", "load vt_plain.dll", "unload vt_plain.dll"}));
    EXPECT_EQ(ProgressLines(), (std::vector<std::string>{"Unregister OLE servers..."}));
}

// ---- CopyFiles -----------------------------------------------------------------------------

TEST_F(PhasesTest, CopyFilesDeletesFilesReadOnlyOnesIncludedAndSkipsKeptSharedFiles) {
    WriteBytes(PathOf("app.exe"), "program");
    WriteBytes(PathOf("readonly.dat"), "data");
    ASSERT_TRUE(SetFileAttributesA(PathOf("readonly.dat").c_str(), FILE_ATTRIBUTE_READONLY));
    WriteBytes(PathOf("shared.dll"), "shared");
    WriteBytes(PathOf("unlisted.txt"), "stays");
    WriteLog({"[CopyFiles]", PathOf("app.exe") + "=", PathOf("readonly.dat") + "=",
              PathOf("shared.dll") + "="});
    KeptSharedFiles.Add(UpperCase(PathOf("shared.dll")) + "=x");
    CopyFilesPhase();
    EXPECT_FALSE(PathExists(PathOf("app.exe")));
    EXPECT_FALSE(PathExists(PathOf("readonly.dat")));
    EXPECT_TRUE(PathExists(PathOf("shared.dll")));
    EXPECT_TRUE(PathExists(PathOf("unlisted.txt")));
    EXPECT_EQ(ProgressLines(), (std::vector<std::string>{"Removing files..."}));
}

// ---- CreateDirs ----------------------------------------------------------------------------

TEST_F(PhasesTest, CreateDirsDeletesTheLogFirstAndKeepsFoldersThatStillHoldFiles) {
    for (const char* dir : {"App", "App\\Full", "Other"}) {
        ASSERT_TRUE(CreateDirectoryA(PathOf(dir).c_str(), nullptr)) << dir;
    }
    WriteBytes(PathOf("App\\Full\\user.txt"), "not ours");
    // The log lives in a folder it removes.
    InstallLogPath = PathOf("Logs\\install.log");
    ASSERT_TRUE(CreateDirectoryA(PathOf("Logs").c_str(), nullptr));
    WriteLog(
        {"[CreateDirs]", PathOf("App\\Full") + "=", PathOf("Logs") + "=", PathOf("App") + "="});
    CreateDirsPhase();
    EXPECT_FALSE(PathExists(PathOf("Logs")));
    // A folder that still holds a file stays, and so does its parent.
    EXPECT_TRUE(PathExists(PathOf("App\\Full\\user.txt")));
    EXPECT_TRUE(PathExists(PathOf("Other")));
    EXPECT_EQ(ProgressLines(), (std::vector<std::string>{"Removing directories..."}));
}

// Each order defeats one shortcut: a walk from the first line fails the
// first, a walk from the last line without sorting the second, a sort that
// minds letter case the third.
TEST_F(PhasesTest, CreateDirsRemovesNestedFoldersWhateverTheirOrderInTheLog) {
    const std::vector<std::vector<std::string>> orders = {
        {"Top", "Top\\Mid", "Top\\Mid\\Low"},
        {"Top\\Mid\\Low", "Top\\Mid", "Top"},
        {"Top\\Mid", "top", "TOP\\MID\\LOW"},
    };
    for (const auto& order : orders) {
        SCOPED_TRACE(order.front());
        for (const char* dir : {"Top", "Top\\Mid", "Top\\Mid\\Low"}) {
            ASSERT_TRUE(CreateDirectoryA(PathOf(dir).c_str(), nullptr)) << dir;
        }
        std::vector<std::string> log = {"[CreateDirs]"};
        for (const auto& dir : order) {
            log.push_back(PathOf(dir) + "=");
        }
        WriteLog(log);
        FreeIniFiles(); // the run keeps the log it read in memory
        CreateDirsPhase();
        EXPECT_FALSE(PathExists(PathOf("Top")));
    }
}

} // namespace
