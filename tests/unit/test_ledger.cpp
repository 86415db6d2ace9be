// The ledger's outcomes, for real and in preview: what it changes, what it
// records, what it declines, and what it counts as left over.
#include "TestSupport.h"
#include "ktHandle.h"
#include "ktJson.h"
#include "ktLedger.h"
#include "ktReport.h"

#include <map>
#include <string>
#include <vector>

namespace {

class LedgerTest : public TempRegTest {
  protected:
    void SetUp() override {
        TempRegTest::SetUp();
        reportPath_ = PathOf("report.jsonl");
    }
    void TearDown() override {
        report_.Close();
        Ledger().Start(false, nullptr);
        TempRegTest::TearDown();
    }
    void Start(bool preview, const char* phase) {
        ASSERT_TRUE(report_.Create(reportPath_));
        Ledger().Start(preview, &report_);
        Ledger().SetPhase(phase);
    }
    // The report's lines so far (each line is on disk once written).
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::string bytes = ReadBytes(reportPath_);
        for (size_t start = 0, end; start < bytes.size(); start = end + 1) {
            end = bytes.find('\n', start);
            lines.push_back(bytes.substr(start, end - start));
        }
        return lines;
    }
    // The "outcome" of every line, in order.
    std::vector<std::string> Outcomes() const {
        std::vector<std::string> outcomes;
        for (const std::string& line : Lines()) {
            size_t at = line.find("\"outcome\":\"");
            size_t from = at + 11;
            outcomes.push_back(at == std::string::npos
                                   ? std::string()
                                   : line.substr(from, line.find('"', from) - from));
        }
        return outcomes;
    }
    // The ledger's tallies that are not 0, by outcome name.
    using TTallies = std::map<std::string, int>;
    static TTallies Tallies() {
        TTallies tallies;
        for (int i = 0; i < kOutcomeCount; ++i) {
            const TOutcome outcome = static_cast<TOutcome>(i);
            if (Ledger().Count(outcome) != 0) {
                tallies[OutcomeName(outcome)] = Ledger().Count(outcome);
            }
        }
        return tallies;
    }
    void MakeKey(const std::string& subKey) {
        TScopedRegKey key;
        ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, subKey.c_str(), key.Receive()), ERROR_SUCCESS);
        DWORD one = 1;
        ASSERT_EQ(
            RegSetValueExA(key.Get(), "v", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), sizeof one),
            ERROR_SUCCESS);
    }
    bool KeyThere(const std::string& subKey) {
        TScopedRegKey key;
        return RegOpenKeyA(HKEY_CURRENT_USER, subKey.c_str(), key.Receive()) == ERROR_SUCCESS;
    }

    std::string reportPath_;
    TReportFile report_;
};

TEST_F(LedgerTest, LineFormatNamesTargetOnlyWhenItDiffers) {
    Start(false, "AddReg");
    Ledger().RemoveRegistryEntry("HKCU\\Software\\VantrelNoSuchKey\\v=1",
                                 "HKCU\\Software\\VantrelNoSuchKey\\v");
    Ledger().SetPhase("Shortcuts");
    std::string lnk = PathOf("app.lnk");
    Ledger().DeleteFileNow(PathOf("app") + "=", lnk);
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "{\"type\":\"entry\",\"phase\":\"AddReg\",\"entry\":"
                        "\"HKCU\\\\Software\\\\VantrelNoSuchKey\\\\v=1\",\"outcome\":\"absent\"}");
    EXPECT_EQ(lines[1], "{\"type\":\"entry\",\"phase\":\"Shortcuts\",\"entry\":" +
                            JsonQuoteAnsi(PathOf("app") + "=") +
                            ",\"target\":" + JsonQuoteAnsi(lnk) + ",\"outcome\":\"absent\"}");
    EXPECT_EQ(Tallies(), (TTallies{{"absent", 2}}));
}

TEST_F(LedgerTest, FilesAreRemovedScheduledOrFoundAbsent) {
    const std::string gone = PathOf("gone.dll");
    const std::string held = PathOf("held.dll");
    const std::string plain = PathOf("plain.dll");
    WriteBytes(held, "x");
    WriteBytes(plain, "x");
    // Held without delete sharing: it cannot go now.
    TScopedHandle holder(CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);

    Start(true, "CopyFiles");
    for (const std::string& path : {plain, held, gone, plain}) {
        Ledger().DeleteFileOrSchedule(path + "=", path);
    }
    // The preview changed nothing, and knows the second "plain" is gone by then.
    EXPECT_TRUE(PathExists(plain));
    EXPECT_FALSE(Ledger().RestartPending());
    EXPECT_EQ(Outcomes(), (std::vector<std::string>{"would-removed", "would-scheduled-at-restart",
                                                    "would-absent", "would-absent"}));

    Start(false, "CopyFiles");
    for (const std::string& path : {plain, held, gone}) {
        Ledger().DeleteFileOrSchedule(path + "=", path);
    }
    EXPECT_FALSE(PathExists(plain));
    EXPECT_TRUE(Ledger().RestartPending());
    EXPECT_EQ(Outcomes(), (std::vector<std::string>{"removed", "scheduled-at-restart", "absent"}));
    EXPECT_NE(Lines()[1].find("\"error\":32,\"message\":\""), std::string::npos) << Lines()[1];
    EXPECT_EQ(Ledger().LeftOverCount(), 0);
}

TEST_F(LedgerTest, DirectoriesDeclinedNotEmptyOrRemoved) {
    const std::string full = PathOf("full");
    const std::string empty = PathOf("empty");
    ASSERT_TRUE(CreateDirectoryA(full.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(empty.c_str(), nullptr));
    WriteBytes(full + "\\keep.txt", "x");
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);

    Start(true, "CreateDirs");
    // In preview a directory whose files the run removes first is empty.
    Ledger().SetPhase("CopyFiles");
    Ledger().DeleteFileOrSchedule("f=", full + "\\keep.txt");
    Ledger().SetPhase("CreateDirs");
    Ledger().RemoveDirectoryEntry(full + "=", full);
    EXPECT_EQ(Outcomes().back(), "would-removed");

    Start(false, "CreateDirs");
    for (const std::string& path : {std::string(windows), full, empty, PathOf("none")}) {
        Ledger().RemoveDirectoryEntry(path + "=", path);
    }
    EXPECT_EQ(Outcomes(), (std::vector<std::string>{"declined", "not-empty", "removed", "absent"}));
    EXPECT_TRUE(PathExists(full));
    EXPECT_FALSE(PathExists(empty));
    // Only the directory that still holds files is left over; the declined
    // folder is never offered for removal by hand.
    EXPECT_EQ(Ledger().LeftOver(), (std::vector<std::string>{full}));
}

TEST_F(LedgerTest, RegistryKeysWellKnownAreDeclinedOthersRemoved) {
    const std::string app = SubKey() + "\\App";
    MakeKey(app + "\\Sub");
    const std::string appPath = KeyPath() + "\\App";

    Start(true, "CreateKeys");
    Ledger().RemoveRegistryEntry(appPath + "\\Sub\\v=", appPath + "\\Sub\\v");
    Ledger().RemoveRegistryEntry(appPath + "=", appPath);
    Ledger().RemoveRegistryEntry(appPath + "\\Sub=", appPath + "\\Sub");
    Ledger().RemoveRegistryEntry("HKCU\\Software=", "HKCU\\Software");
    EXPECT_EQ(Outcomes(), (std::vector<std::string>{"would-removed", "would-removed",
                                                    "would-absent", "would-declined"}));
    EXPECT_TRUE(KeyThere(app + "\\Sub"));

    Start(false, "CreateKeys");
    Ledger().RemoveRegistryEntry("HKCU\\Software=", "HKCU\\Software");
    Ledger().RemoveRegistryEntry("HKCU\\=", "HKCU\\");
    Ledger().RemoveRegistryEntry(appPath + "\\Sub\\v=", appPath + "\\Sub\\v");
    Ledger().RemoveRegistryEntry(appPath + "=", appPath);
    EXPECT_EQ(Outcomes(), (std::vector<std::string>{"declined", "declined", "removed", "removed"}));
    EXPECT_FALSE(KeyThere(app));
    EXPECT_TRUE(KeyThere("Software"));
    EXPECT_EQ(Ledger().LeftOverCount(), 0);
    EXPECT_EQ(Tallies(), (TTallies{{"removed", 2}, {"declined", 2}}));
}

TEST_F(LedgerTest, CountersAndKeptSharedFiles) {
    const std::string counter = KeyPath() + "\\'C:\\Shared\\a.dll'";
    Start(false, "SharedFiles");
    Ledger().DecrementCounter("C:\\Shared\\a.dll=", counter, 3);
    bool exists = false;
    EXPECT_EQ(Ledger().ReadCounter(counter, exists), 2);
    EXPECT_TRUE(exists);
    Ledger().KeepShared("C:\\Shared\\b.dll=", counter, 1, true);
    Ledger().DeleteCounter("C:\\Shared\\c.dll=", counter, 2, true);
    EXPECT_EQ(Ledger().ReadCounter(counter, exists), 1);
    EXPECT_FALSE(exists);
    Ledger().SetPhase("CopyFiles");
    Ledger().SkipKeptShared("c:\\shared\\A.DLL=", "c:\\shared\\A.DLL");
    Ledger().SkipKeptShared("C:\\Shared\\b.dll=", "C:\\Shared\\b.dll");
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_NE(lines[0].find("\"outcome\":\"counter-decremented\",\"before\":3,\"after\":2}"),
              std::string::npos)
        << lines[0];
    EXPECT_NE(lines[1].find("\"outcome\":\"kept-by-answer\",\"before\":1,\"after\":1}"),
              std::string::npos)
        << lines[1];
    EXPECT_NE(lines[2].find("\"outcome\":\"removed\",\"before\":2,\"after\":0}"), std::string::npos)
        << lines[2];
    EXPECT_EQ(Outcomes()[3], "kept-shared");
    EXPECT_EQ(Outcomes()[4], "kept-by-answer");
    EXPECT_EQ(Ledger().LeftOverCount(), 0);
}

TEST_F(LedgerTest, LeftOverListStopsAtTenButCountsAll) {
    Start(false, "CreateDirs");
    for (int i = 0; i < 12; ++i) {
        std::string dir = PathOf("d" + std::to_string(i));
        ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
        WriteBytes(dir + "\\f", "x");
        Ledger().RemoveDirectoryEntry(dir + "=", dir);
    }
    EXPECT_EQ(Ledger().LeftOver().size(), TLedger::kLeftOverShown);
    EXPECT_EQ(Ledger().LeftOver().front(), PathOf("d0"));
    EXPECT_EQ(Ledger().LeftOverCount(), 12);
    EXPECT_EQ(Ledger().Count(TOutcome::NotEmpty), 12);
}

} // namespace
