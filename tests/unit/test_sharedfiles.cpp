// The SharedFiles phase: use counts lowered, the question asked (answered
// here through the hook) for files nothing else uses, and KeptSharedFiles
// left with the files that stay. Also the question dialog's texts.
#include "CounterJournal.h"
#include "PhaseTestSupport.h"
#include "ktText.h"

#include <deque>
#include <string>
#include <vector>

namespace {

const char kSharedDlls[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

std::deque<int> answers;
std::vector<std::string> asked;
int ScriptedAnswer(const std::string& fileName) {
    asked.push_back(fileName);
    if (answers.empty()) {
        ADD_FAILURE() << "unexpected question about " << fileName;
        return IDNO;
    }
    int answer = answers.front();
    answers.pop_front();
    return answer;
}

class SharedFilesTest : public PhaseTest {
  protected:
    void SetUp() override {
        PhaseTest::SetUp();
        answers.clear();
        asked.clear();
        AskRemoveSharedFileHook = ScriptedAnswer;
    }
    void TearDown() override {
        AskRemoveSharedFileHook = AskRemoveSharedFile;
        for (const auto& name : counters_) {
            HKEY key = nullptr;
            if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kSharedDlls, &key) == ERROR_SUCCESS) {
                RegDeleteValueA(key, name.c_str());
                RegCloseKey(key);
            }
        }
        PhaseTest::TearDown();
    }

    // The use count of a file: its value, or -1000 when there is none.
    int Counter(const std::string& file) {
        counters_.push_back(file);
        HKEY key = nullptr;
        if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kSharedDlls, &key) != ERROR_SUCCESS) {
            return -1000;
        }
        DWORD type = 0;
        DWORD data = 0;
        DWORD size = sizeof data;
        LSTATUS status = RegQueryValueExA(key, file.c_str(), nullptr, &type,
                                          reinterpret_cast<BYTE*>(&data), &size);
        RegCloseKey(key);
        return status == ERROR_SUCCESS && type == REG_DWORD ? static_cast<int>(data) : -1000;
    }
    void SetCounter(const std::string& file, int value) {
        counters_.push_back(file);
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyA(HKEY_LOCAL_MACHINE, kSharedDlls, &key), ERROR_SUCCESS);
        DWORD data = static_cast<DWORD>(value);
        RegSetValueExA(key, file.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                       sizeof data);
        RegCloseKey(key);
    }
    std::vector<std::string> KeptNames() const {
        std::vector<std::string> names;
        for (int i = 0; i < KeptSharedFiles.Count(); ++i) {
            const std::string& line = KeptSharedFiles[i];
            names.push_back(line.substr(0, line.find('=')));
        }
        return names;
    }
    // Writes the section for the given files, each with value 1.
    void WriteShared(const std::vector<std::string>& files) {
        std::vector<std::string> log = {"[SharedFiles]"};
        for (const auto& file : files) {
            log.push_back(file + "=1");
        }
        WriteLog(log);
    }

    std::vector<std::string> counters_;
};

const int kMissing = -1000;

TEST_F(SharedFilesTest, CountersAboveOneAreLoweredWithoutQuestion) {
    std::string three = PathOf("three.dll");
    std::string two = PathOf("two.dll");
    SetCounter(three, 3);
    SetCounter(two, 2);
    WriteShared({three, two});
    SharedFilesPhase();
    EXPECT_EQ(Counter(three), 2);
    EXPECT_EQ(Counter(two), 1);
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(KeptNames(), (std::vector<std::string>{three, two}));
    EXPECT_TRUE(InKeptSharedFiles(UpperCase(three)));
    EXPECT_EQ(ProgressLines(), (std::vector<std::string>{"Checking shared files..."}));
}

TEST_F(SharedFilesTest, CounterOneOrMissingAsksAndFollowsTheAnswer) {
    struct Case {
        const char* name;
        int counter; // kMissing: no value
        int answer;
        int counterAfter;
        bool kept;
    } cases[] = {
        {"one-yes.dll", 1, IDYES, kMissing, false},
        {"one-no.dll", 1, IDNO, 1, true},
        {"missing-no.dll", kMissing, IDNO, kMissing, true},
        {"missing-yes.dll", kMissing, IDYES, kMissing, false},
        {"zero-yes.dll", 0, IDYES, kMissing, false},
        {"negative-no.dll", -4, IDNO, -4, true},
        {"failed-dialog.dll", 1, -1, 1, true},
    };
    std::vector<std::string> files;
    std::vector<std::string> kept;
    for (const auto& c : cases) {
        std::string file = PathOf(c.name);
        files.push_back(file);
        if (c.counter != kMissing) {
            SetCounter(file, c.counter);
        }
        answers.push_back(c.answer);
        if (c.kept) {
            kept.push_back(file);
        }
    }
    WriteShared(files);
    SharedFilesPhase();
    EXPECT_EQ(asked, files);
    for (const auto& c : cases) {
        EXPECT_EQ(Counter(PathOf(c.name)), c.counterAfter) << c.name;
    }
    EXPECT_EQ(KeptNames(), kept);
}

TEST_F(SharedFilesTest, YesToAllRemovesEveryLaterUnusedFileWithoutAsking) {
    std::vector<std::string> files = {PathOf("a.dll"), PathOf("b.dll"), PathOf("c.dll"),
                                      PathOf("d.dll")};
    SetCounter(files[0], 1);
    SetCounter(files[1], 3);
    SetCounter(files[2], 1);
    WriteShared(files);
    answers = {10};
    SharedFilesPhase();
    EXPECT_EQ(asked, (std::vector<std::string>{files[0]}));
    EXPECT_EQ(Counter(files[0]), kMissing);
    EXPECT_EQ(Counter(files[1]), 2);
    EXPECT_EQ(Counter(files[2]), kMissing);
    EXPECT_EQ(KeptNames(), (std::vector<std::string>{files[1]}));
}

TEST_F(SharedFilesTest, NoToAllKeepsEveryLaterUnusedFileWithoutAskingOrWriting) {
    std::vector<std::string> files = {PathOf("a.dll"), PathOf("b.dll"), PathOf("c.dll")};
    SetCounter(files[0], 1);
    SetCounter(files[1], 2);
    WriteShared(files);
    answers = {9};
    SharedFilesPhase();
    EXPECT_EQ(asked, (std::vector<std::string>{files[0]}));
    EXPECT_EQ(Counter(files[0]), 1);
    EXPECT_EQ(Counter(files[1]), 1);
    EXPECT_EQ(Counter(files[2]), kMissing);
    EXPECT_EQ(KeptNames(), files);
}

TEST_F(SharedFilesTest, YesAndNoDecideOneFileOnly) {
    std::vector<std::string> files = {PathOf("a.dll"), PathOf("b.dll"), PathOf("c.dll")};
    WriteShared(files);
    answers = {IDNO, IDYES, IDNO};
    SharedFilesPhase();
    EXPECT_EQ(asked, files);
    EXPECT_EQ(KeptNames(), (std::vector<std::string>{files[0], files[2]}));
    EXPECT_FALSE(InKeptSharedFiles(files[1]));
    EXPECT_TRUE(InKeptSharedFiles(files[2]));
}

// A run killed part-way is finished by a second run on the same copy of the
// log: the counts the first one lowered are not lowered again. A journal
// left by a run on an older copy of the log (a reinstall wrote it anew)
// counts for nothing.
TEST_F(SharedFilesTest, SecondRunTrustsOnlyTheJournalOfItsOwnCopyOfTheLog) {
    struct Case {
        const char* name;
        bool reinstalled; // the log written anew between the runs
        int countBetween; // the count when the second run starts
        int countAfter;
    };
    const Case cases[] = {
        {"lowered by the first run", false, 2, 2},
        {"recorded, killed before the count was written", false, 3, 2},
        {"journal of the log's older copy", true, 2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = PathOf("a.dll");
        SetCounter(file, 3);
        WriteShared({file});
        SharedFilesPhase();
        ASSERT_EQ(Counter(file), 2);
        const std::vector<std::string> names = FolderListing(Dir());
        ASSERT_EQ(names.size(), 2u);
        EXPECT_EQ(names[1], TCounterJournal::PathFor(InstallLogPath).substr(Dir().size()));
        EXPECT_EQ(names[1].find("install.log.~vt"), 0u) << names[1];
        if (c.reinstalled) {
            WriteLog({"[SharedFiles]", file + "=1", "; reinstalled"});
        }
        SetCounter(file, c.countBetween);
        SharedFilesPhase();
        EXPECT_TRUE(asked.empty());
        EXPECT_EQ(Counter(file), c.countAfter);
        // The log gone, the journals of ours for it go; nothing else.
        DeleteFileA(InstallLogPath.c_str());
        TCounterJournal::RemoveAfterLog(InstallLogPath);
        EXPECT_TRUE(FolderListing(Dir()).empty());
    }
}

// Only files of ours for this very log are ever read or removed: a file
// that a user named like the old journal, one that bears our journal's name
// without its header, and our journal of another log stay, whether the log
// is there (the run goes on without a journal) or not (a mistyped path).
TEST_F(SharedFilesTest, NoFileButThisLogsJournalIsReadOrRemoved) {
    const std::string file = PathOf("a.dll");
    SetCounter(file, 3);
    WriteShared({file});
    const std::string ours = TCounterJournal::PathFor(InstallLogPath);
    ASSERT_FALSE(ours.empty());
    const std::string other = PathOf("other.log");
    WriteBytes(other, "[SharedFiles]\r\n");
    const std::vector<std::pair<std::string, std::string>> strangers = {
        {InstallLogPath + ".counters", "4," + file + "\r\n"},
        {ours, "user's notes\r\n4," + file + "\r\n"},
        {InstallLogPath + ".~vt00000000.counters",
         TCounterJournal::HeaderFor(other) + "\r\n4," + file + "\r\n"},
    };
    for (const auto& stranger : strangers) {
        WriteBytes(stranger.first, stranger.second);
    }
    SharedFilesPhase(); // the record "4" in those files would keep the count
    EXPECT_EQ(Counter(file), 2);
    for (bool logThere : {true, false}) {
        if (!logThere) {
            DeleteFileA(InstallLogPath.c_str());
        }
        TCounterJournal::RemoveAfterLog(InstallLogPath);
        for (const auto& stranger : strangers) {
            EXPECT_EQ(ReadBytes(stranger.first), stranger.second) << stranger.first;
        }
    }
}

TEST_F(SharedFilesTest, FileNamedTwiceIsLoweredOnce) {
    std::string file = PathOf("Twice.dll");
    SetCounter(file, 3);
    WriteLog({"[SharedFiles]", file + "=1", UpperCase(file) + "=2"});
    SharedFilesPhase();
    EXPECT_EQ(Counter(file), 2);
    EXPECT_EQ(KeptSharedFiles.Count(), 1);
}

TEST_F(SharedFilesTest, QuoteInTheFileNameFindsItsOwnCounter) {
    std::string file = PathOf("it's.dll");
    std::string lookalike = PathOf("it");
    SetCounter(file, 2);
    SetCounter(lookalike, 5);
    WriteShared({file});
    SharedFilesPhase();
    EXPECT_EQ(Counter(file), 1);
    EXPECT_EQ(Counter(lookalike), 5);
    EXPECT_TRUE(asked.empty());
}

TEST_F(SharedFilesTest, EntryWithoutNameLeavesTheKeysDefaultValueAlone) {
    // The counter path of an empty name would name the key's default value.
    std::string file = PathOf("named.dll");
    SetCounter("", 3);
    SetCounter(file, 2);
    WriteLog({"[SharedFiles]", "=1", file + "=1"});
    SharedFilesPhase();
    EXPECT_EQ(Counter(""), 3);
    EXPECT_EQ(Counter(file), 1);
    EXPECT_TRUE(asked.empty());
}

TEST_F(SharedFilesTest, EmptySectionAddsNoLine) {
    WriteLog({"[SharedFiles]", "[CopyFiles]", PathOf("x.dll") + "=1"});
    SharedFilesPhase();
    EXPECT_TRUE(KeptSharedFiles.Empty());
    EXPECT_TRUE(ProgressLines().empty());
}

TEST_F(SharedFilesTest, KeptFilesAreSkippedByTheLaterPhases) {
    std::string kept = PathOf("kept.dll");
    std::string removed = PathOf("removed.dll");
    WriteBytes(kept, "k");
    WriteBytes(removed, "r");
    SetCounter(kept, 3);
    SetCounter(removed, 1);
    WriteLog({"[SharedFiles]", kept + "=", removed + "=", "[CopyFiles]", UpperCase(kept) + "=",
              removed + "="});
    answers = {IDYES};
    SharedFilesPhase();
    CopyFilesPhase();
    EXPECT_TRUE(PathExists(kept));
    EXPECT_FALSE(PathExists(removed));
    EXPECT_EQ(Counter(kept), 2);
}

// Full-width A, Greek alpha and Cyrillic a as code page 932 spells them: the
// locale holds the capitals equal to the small letters, and so must the kept
// list, or a later phase deletes a shared file that stays.
TEST_F(SharedFilesTest, KeptNamesMatchDoubleByteLettersInEitherCaseUnderCodePage932Only) {
    if (!UnderCodePage932()) {
        GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", not 932";
    }
    std::string capitals = PathOf("\x82\x60\x83\x9F\x84\x40.dll");
    std::string smalls = PathOf("\x82\x81\x83\xBF\x84\x70.dll");
    ASSERT_EQ(CompareStringA(LOCALE_USER_DEFAULT, NORM_IGNORECASE, capitals.c_str(), -1,
                             smalls.c_str(), -1),
              CSTR_EQUAL);
    WriteBytes(capitals, "k");
    SetCounter(capitals, 3);
    WriteLog({"[SharedFiles]", capitals + "=", "[CopyFiles]", smalls + "="});
    SharedFilesPhase();
    EXPECT_TRUE(InKeptSharedFiles(smalls));
    CopyFilesPhase();
    EXPECT_TRUE(PathExists(capitals));
    EXPECT_EQ(Counter(capitals), 2);
}

// ---- The question dialog ------------------------------------------------------------------

std::string ItemText(HWND dialog, int id) {
    char buffer[2048] = {};
    GetDlgItemTextA(dialog, id, buffer, sizeof buffer);
    return buffer;
}

TEST_F(SharedFilesTest, DialogShowsItsTextsAndSplitsTheFileName) {
    struct Case {
        const char* file;
        const char* name;
        const char* folder;
    } cases[] = {
        {"C:\\Program Files\\Common\\shared.dll", "shared.dll", "C:\\Program Files\\Common\\"},
        {"D:lonely.dll", "lonely.dll", "D:"},
        {"bare.dll", "bare.dll", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        CurrentSharedFile = c.file;
        HWND dialog =
            CreateDialogParamA(ModuleHandle, RES_DLG_DELSHARED, nullptr, DelSharedDlgProc, 0);
        ASSERT_NE(dialog, nullptr);
        char caption[256] = {};
        GetWindowTextA(dialog, caption, sizeof caption);
        EXPECT_STREQ(caption, "Remove shared file?");
        EXPECT_EQ(ItemText(dialog, IDC_DELSHARED_NAME), c.name);
        EXPECT_EQ(ItemText(dialog, IDC_DELSHARED_FOLDER), c.folder);
        EXPECT_EQ(ItemText(dialog, IDC_DELSHARED_NAME_LABEL), "File name:");
        EXPECT_EQ(ItemText(dialog, IDC_DELSHARED_FOLDER_LABEL), "Located in:");
        EXPECT_EQ(ItemText(dialog, IDC_DELSHARED_YES), "Yes");
        EXPECT_EQ(ItemText(dialog, IDC_DELSHARED_YES_ALL), "Yes to all");
        EXPECT_EQ(ItemText(dialog, IDC_DELSHARED_NO), "No");
        EXPECT_EQ(ItemText(dialog, IDC_DELSHARED_NO_ALL), "No to all");
        std::string text = ItemText(dialog, IDC_DELSHARED_TEXT);
        EXPECT_EQ(text.find("The system indicates that the following shared file"), 0u);
        EXPECT_NE(text.find("remove the shared file?\r\rLeaving"), std::string::npos);
        DestroyWindow(dialog);
    }
}

// The real question, answered by pressing a button as soon as the dialog is
// activated (a CBT hook posts the command). Under Wine the activation comes
// before WM_INITDIALOG, so the texts are checked on the modeless dialog above.
WPARAM pressedId = 0;
LRESULT CALLBACK PressWhenActivated(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND dialog = reinterpret_cast<HWND>(wParam);
        PostMessageA(dialog, WM_COMMAND, pressedId, 0);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(SharedFilesTest, QuestionAnswersByTheButtonPressed) {
    struct Case {
        WPARAM id;
        int answer;
    } cases[] = {
        {IDC_DELSHARED_YES, IDYES}, {IDC_DELSHARED_YES_ALL, 10},
        {IDC_DELSHARED_NO, IDNO},   {IDC_DELSHARED_NO_ALL, 9},
        {IDCANCEL, IDNO},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        pressedId = c.id;
        HHOOK hook = SetWindowsHookExA(WH_CBT, PressWhenActivated, nullptr, GetCurrentThreadId());
        ASSERT_NE(hook, nullptr);
        int answer = AskRemoveSharedFile(PathOf("common.dll"));
        UnhookWindowsHookEx(hook);
        EXPECT_EQ(answer, c.answer);
        EXPECT_EQ(CurrentSharedFile, PathOf("common.dll"));
    }
}

} // namespace
