// ExecAndWait and the programs run before and after removal, with the test
// program vt_recorder, which records its start and ends with the exit code
// it is told.
#include "PhaseTestSupport.h"
#include "ktShell.h"

#include <string>
#include <vector>

namespace {

class ShellTest : public PhaseTest {
  protected:
    void SetUp() override {
        PhaseTest::SetUp();
        // Relative: the recorder writes it in its working directory.
        logName_ = "record-" + std::to_string(GetCurrentProcessId()) + ".log";
        DeleteFileA(logName_.c_str());
        ASSERT_TRUE(SetEnvironmentVariableA("VANTREL_TEST_LOG", logName_.c_str()));
    }
    void TearDown() override {
        DeleteFileA(logName_.c_str());
        SetEnvironmentVariableA("VANTREL_TEST_LOG", nullptr);
        PhaseTest::TearDown();
    }

    std::string Recorder() const { return TestProgram("vt_recorder.exe"); }
    // The recorder's log when it ran in the test's folder.
    std::vector<std::string> Record() const { return ReadLines(PathOf(logName_)); }
    // The values of the recorded lines that start with `key` and a blank.
    std::vector<std::string> Recorded(const std::string& key) const {
        std::vector<std::string> values;
        for (const auto& line : Record()) {
            if (line.compare(0, key.size() + 1, key + " ") == 0) {
                values.push_back(line.substr(key.size() + 1));
            }
        }
        return values;
    }

    std::string logName_;
};

// ---- ExecAndWait ------------------------------------------------------------

TEST_F(ShellTest, ExitCodesComeBack) {
    for (int code : {0, 1, 42, 255}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(
            ExecAndWait(nullptr, Recorder(), "--exit=" + std::to_string(code), Dir(), SW_SHOW),
            code);
    }
    EXPECT_EQ(Recorded("exit"), (std::vector<std::string>{"0", "1", "42", "255"}));
}

// Natively exit codes have 8 bits (pal/README.md), so 259 cannot be made there.
TEST_F(ShellTest, ExitCode259EndsTheWait_Win32Only) {
    if (NativeBuild()) {
        GTEST_SKIP() << "native exit codes have 8 bits";
    }
    EXPECT_EQ(ExecAndWait(nullptr, Recorder(), "--exit=259", Dir(), SW_SHOW), 259);
}

TEST_F(ShellTest, ParametersAreSplitAsAWindowsProgramSplitsThem) {
    const std::string parameters = "plain \"two words\" \"a,b\" back\\\\slash say\\\"hi\\\" x";
    EXPECT_EQ(ExecAndWait(nullptr, Recorder(), parameters, Dir(), SW_SHOW), 0);
    EXPECT_EQ(Recorded("argc"), (std::vector<std::string>{"7"}));
    std::vector<std::string> argv;
    for (const auto& line : Record()) {
        if (line.compare(0, 5, "argv[") == 0) {
            argv.push_back(line.substr(line.find("] ") + 2));
        }
    }
    EXPECT_EQ(argv, (std::vector<std::string>{"plain", "two words", "a,b", "back\\\\slash",
                                              "say\"hi\"", "x"}));
    // The program sees the parameters as passed, after its own file name.
    std::vector<std::string> cmdline = Recorded("cmdline");
    ASSERT_EQ(cmdline.size(), 1u);
    ASSERT_GE(cmdline[0].size(), parameters.size());
    EXPECT_EQ(cmdline[0].substr(cmdline[0].size() - parameters.size()), parameters);
}

TEST_F(ShellTest, ProgramRunsInTheGivenDirectory) {
    ASSERT_TRUE(CreateDirectoryA(PathOf("work").c_str(), nullptr));
    EXPECT_EQ(ExecAndWait(nullptr, Recorder(), "--touch=marker.txt", PathOf("work"), SW_SHOW), 0);
    EXPECT_TRUE(PathExists(PathOf("work\\marker.txt")));
    EXPECT_FALSE(PathExists(PathOf("marker.txt")));
    EXPECT_EQ(ReadLines(PathOf("work\\" + logName_)).size(), 7u);
}

TEST_F(ShellTest, ShowValueReachesTheProgram) {
    for (int show : {SW_HIDE, SW_SHOWMINIMIZED, SW_SHOWMAXIMIZED, SW_SHOW}) {
        EXPECT_EQ(ExecAndWait(nullptr, Recorder(), "", Dir(), show), 0);
    }
    EXPECT_EQ(Recorded("show"), (std::vector<std::string>{"0", "2", "3", "5"}));
}

TEST_F(ShellTest, QuitMessageEndsTheWait) {
    PostQuitMessage(0);
    EXPECT_EQ(ExecAndWait(nullptr, Recorder(), "--sleep=300", Dir(), SW_SHOW), -1);
    // The quit message was consumed.
    MSG message;
    bool quitLeft = PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
    EXPECT_FALSE(quitLeft);
}

TEST_F(ShellTest, ShellFailsForFilesItCannotStart) {
    WriteBytes(PathOf("document.vtq"), "no program opens this");
    struct Case {
        std::string file;
        DWORD error;
    } cases[] = {
        {PathOf("missing.exe"), ERROR_FILE_NOT_FOUND},
        {PathOf("document.vtq"), ERROR_NO_ASSOCIATION},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        SHELLEXECUTEINFOA info = {};
        info.cbSize = sizeof info;
        // No UI: the shell would otherwise show its own error box.
        info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
        info.lpFile = c.file.c_str();
        info.lpParameters = "";
        info.lpDirectory = "";
        info.nShow = SW_SHOW;
        SetLastError(0);
        EXPECT_FALSE(ShellExecuteExA(&info));
        DWORD error = GetLastError();
        // Wine tries to run a file of unknown type as a program and reports a
        // bad format where Windows (and the native layer) report no association.
        EXPECT_TRUE(error == c.error ||
                    (c.error == ERROR_NO_ASSOCIATION && error == ERROR_BAD_EXE_FORMAT))
            << error;
        EXPECT_EQ(info.hProcess, nullptr);
    }
}

TEST_F(ShellTest, ProcessHandleTellsRunningFromEnded) {
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS;
    std::string recorder = Recorder();
    info.lpFile = recorder.c_str();
    info.lpParameters = "--sleep=200 --exit=9";
    std::string dir = Dir();
    info.lpDirectory = dir.c_str();
    info.nShow = SW_SHOW;
    ASSERT_TRUE(ShellExecuteExA(&info));
    ASSERT_NE(info.hProcess, nullptr);
    EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(info.hProcess, 0), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(code, 9u);
    EXPECT_TRUE(CloseHandle(info.hProcess));
}

// ---- RunProgramEntry ------------------------------------------------------------

TEST_F(ShellTest, EntryWithoutExistingFileRunsNothing) {
    for (const std::string& value :
         {std::string(), std::string(",--exit=3,,,Caption"), PathOf("missing.exe") + ",,,,Caption",
          Dir() + ",,,,Caption" /* a folder is not a file */}) {
        SCOPED_TRACE(value);
        EXPECT_EQ(RunProgramEntry(value), 0);
    }
    EXPECT_TRUE(ProgressLines().empty());
    EXPECT_TRUE(Record().empty());
}

TEST_F(ShellTest, EntryRunsWithItsFieldsAndCaption) {
    std::string value = "\"" + Recorder() + "\",\"a,b\" --exit=3," + Dir() + ",2,\"Running tool\"";
    EXPECT_EQ(RunProgramEntry(value), 3);
    EXPECT_EQ(ProgressLines(), (std::vector<std::string>{"Running tool"}));
    std::vector<std::string> argv;
    for (const auto& line : Record()) {
        if (line.compare(0, 5, "argv[") == 0) {
            argv.push_back(line.substr(line.find("] ") + 2));
        }
    }
    EXPECT_EQ(argv, (std::vector<std::string>{"a,b", "--exit=3"}));
    EXPECT_EQ(Recorded("show"), (std::vector<std::string>{"3"}));
}

TEST_F(ShellTest, ShowModeOfField4) {
    struct Case {
        const char* field;
        const char* show;
    } cases[] = {
        {"", "5"},
        {"abc", "5"},
        {"0", "0"},
        {"1", "5"},
        {"2", "3"},
        {"3", "2"},
        {"7", "5"},
        {" 2", "3"},
        {"2 ", "5"},
        {"$3", "2"},
        {"$00000000000", "0"},
        {"-1", "5"},
    };
    std::vector<std::string> expected;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        std::string value = Recorder() + ",," + Dir() + "," + c.field;
        EXPECT_EQ(RunProgramEntry(value), 0);
        expected.push_back(c.show);
    }
    EXPECT_EQ(Recorded("show"), expected);
    EXPECT_TRUE(ProgressLines().empty());
}

// ---- The sections -------------------------------------------------------------------

TEST_F(ShellTest, FailingPreRunProgramCallsTheUninstallOff) {
    WriteLog({"[PreRunApp]", "First=" + Recorder() + ",--exit=1," + Dir(),
              "Second=" + Recorder() + ",--exit=0," + Dir()});
    EXPECT_FALSE(RunProgramsBefore());
    EXPECT_EQ(Recorded("exit"), (std::vector<std::string>{"1"}));
}

TEST_F(ShellTest, PreRunProgramsRunInOrderAndLetTheUninstallGoOn) {
    WriteLog({"[PreRunApp]", "A=" + Recorder() + ",one," + Dir() + ",,First step",
              "Skipped=" + PathOf("missing.exe") + ",,,,Never shown",
              "B=" + Recorder() + ",two," + Dir() + ",,Second step"});
    EXPECT_TRUE(RunProgramsBefore());
    EXPECT_EQ(Recorded("argv[1]"), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(ProgressLines(), (std::vector<std::string>{"First step", "Second step"}));
}

TEST_F(ShellTest, EmptyPreRunSectionLetsTheUninstallGoOn) {
    WriteLog({"[RunApp]", "A=" + Recorder() + ",--exit=1," + Dir()});
    EXPECT_TRUE(RunProgramsBefore());
    EXPECT_TRUE(Record().empty());
}

TEST_F(ShellTest, AfterRemovalEveryProgramRunsWhateverItsExitCode) {
    WriteLog({"[RunApp]", "A=" + Recorder() + ",--exit=5," + Dir(),
              "B=" + PathOf("missing.exe") + ",,,", "C=" + Recorder() + ",--exit=0," + Dir()});
    RunProgramsAfter();
    EXPECT_EQ(Recorded("exit"), (std::vector<std::string>{"5", "0"}));
}

TEST_F(ShellTest, AfterRemovalProgramsAreReadFromTheLogInMemory) {
    WriteLog({"[CreateDirs]", PathOf("gone") + "=", "[RunApp]",
              "A=" + Recorder() + ",after," + Dir() + ",,Cleaning up"});
    ASSERT_TRUE(CreateDirectoryA(PathOf("gone").c_str(), nullptr));
    // CreateDirs deletes the install log before its directories.
    CreateDirsPhase();
    ASSERT_FALSE(PathExists(InstallLogPath));
    RunProgramsAfter();
    EXPECT_EQ(Recorded("argv[1]"), (std::vector<std::string>{"after"}));
    EXPECT_EQ(ProgressLines(),
              (std::vector<std::string>{"Removing directories...", "Cleaning up"}));
}

} // namespace
