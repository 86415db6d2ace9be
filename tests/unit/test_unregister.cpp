// UnregisterServer: the server library is loaded, its export called once and
// the library released again; the test libraries record each of these events.
// The call is made by a copy of this test program, the server host, so a
// server that faults ends only that copy and the fault comes back as an error.
#include "PhaseTestSupport.h"
#include "ktJson.h"
#include "ktReport.h"
#include "ktServerHost.h"

#include <string>
#include <vector>

namespace {

class UnregisterTest : public TempDirTest {
  protected:
    void SetUp() override {
        TempDirTest::SetUp();
        // Relative, so the library (C runtime I/O) and the test (Win32 I/O)
        // name the same file on both builds.
        log_ = "vt-unreg-" + std::to_string(GetCurrentProcessId()) + ".log";
        DeleteFileA(log_.c_str());
        ASSERT_TRUE(SetEnvironmentVariableA("VANTREL_TEST_LOG", log_.c_str()));
    }
    void TearDown() override {
        DeleteFileA(log_.c_str());
        SetEnvironmentVariableA("VANTREL_TEST_LOG", nullptr);
        TempDirTest::TearDown();
    }
    std::vector<std::string> Events() const { return ReadLines(log_); }

    std::string log_;
};

TEST_F(UnregisterTest, ServerIsCalledOnceAndReleased) {
    EXPECT_TRUE(UnregisterServer(TestProgram("vt_server.dll")));
    EXPECT_EQ(Events(),
              (std::vector<std::string>{"load vt_server.dll", "DllUnregisterServer vt_server.dll",
                                        "unload vt_server.dll"}));
}

TEST_F(UnregisterTest, EachCallLoadsAndReleasesAgain) {
    EXPECT_TRUE(UnregisterServer(TestProgram("vt_server.dll")));
    EXPECT_TRUE(UnregisterServer(TestProgram("vt_server.dll")));
    std::vector<std::string> once = {"load vt_server.dll", "DllUnregisterServer vt_server.dll",
                                     "unload vt_server.dll"};
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(Events(), twice);
}

TEST_F(UnregisterTest, LibraryWithoutExportGivesFalseAndIsReleased) {
    EXPECT_FALSE(UnregisterServer(TestProgram("vt_plain.dll")));
    EXPECT_EQ(Events(), (std::vector<std::string>{"load vt_plain.dll", "unload vt_plain.dll"}));
}

TEST_F(UnregisterTest, FailureStatusStillCountsAsCalled) {
    EXPECT_TRUE(UnregisterServer(TestProgram("vt_failserver.dll")));
    EXPECT_EQ(Events(), (std::vector<std::string>{"load vt_failserver.dll",
                                                  "DllUnregisterServer vt_failserver.dll",
                                                  "unload vt_failserver.dll"}));
}

TEST_F(UnregisterTest, MissingOrBrokenLibraryGivesFalse) {
    WriteBytes(PathOf("notalibrary.dll"), "MZ this is not a library");
    for (const std::string& path :
         {PathOf("missing.dll"), PathOf("notalibrary.dll"), PathOf("nofolder\\x.dll")}) {
        SCOPED_TRACE(path);
        EXPECT_FALSE(UnregisterServer(path));
    }
    EXPECT_TRUE(Events().empty());
}

TEST_F(UnregisterTest, ServerCopiedUnderAWindowsPathIsFound) {
    // The install log names servers by Windows paths in the machine.
    std::string copy = PathOf("Server Copy.DLL");
    ASSERT_TRUE(CopyFileA(TestProgram("vt_server.dll").c_str(), copy.c_str(), FALSE));
    EXPECT_TRUE(UnregisterServer(copy));
    EXPECT_EQ(Events(),
              (std::vector<std::string>{"load vt_server.dll", "DllUnregisterServer vt_server.dll",
                                        "unload vt_server.dll"}));
}

TEST_F(UnregisterTest, FaultInsideTheServerIsRaisedWithItsNameAndTheLibrary) {
    struct Case {
        const char* library;
        const char* fault;
    } cases[] = {
        {"vt_crash_null.dll", "Access violation"},
        {"vt_crash_illegal.dll", "Illegal instruction"},
        {"vt_crash_divide.dll", "Integer division by zero"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.library);
        std::string path = TestProgram(c.library);
        std::string raised;
        try {
            UnregisterServer(path);
        } catch (const EServerFault& fault) {
            raised = fault.what();
        }
        EXPECT_EQ(raised, std::string(c.fault) + " in " + path);
    }
    // Each server was called; the run goes on with the next one.
    EXPECT_TRUE(UnregisterServer(TestProgram("vt_server.dll")));
    std::vector<std::string> expected;
    for (const auto& c : cases) {
        expected.push_back(std::string("DllUnregisterServer ") + c.library);
    }
    expected.insert(expected.end(), {"load vt_server.dll", "DllUnregisterServer vt_server.dll",
                                     "unload vt_server.dll"});
    EXPECT_EQ(Events(), expected);
}

bool Running64BitWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return sizeof(void*) == 8 && ntdll != nullptr &&
           GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST_F(UnregisterTest, StackOverflowInsideTheServerIsRaised_NotUnder64BitWine) {
    if (Running64BitWine()) {
        // The server's and the host's runtimes each add a vectored handler;
        // 64-bit Wine runs them on the exhausted stack, overflows again and
        // ends the host with exit code 0, as if the call had succeeded.
        GTEST_SKIP() << "64-bit Wine ends a process whose stack overflows again while "
                        "handling a stack overflow with exit code 0";
    }
    std::string path = TestProgram("vt_crash_stack.dll");
    std::string raised;
    try {
        UnregisterServer(path);
    } catch (const EServerFault& fault) {
        raised = fault.what();
    }
    EXPECT_EQ(raised, "Stack overflow in " + path);
    EXPECT_EQ(Events(), (std::vector<std::string>{"DllUnregisterServer vt_crash_stack.dll"}));
}

TEST_F(UnregisterTest, ExceptionEscapingTheServerIsRaisedAsAFault) {
    std::string path = TestProgram("vt_crash_throw.dll");
    EXPECT_THROW(UnregisterServer(path), EServerFault);
    EXPECT_EQ(Events(), (std::vector<std::string>{"DllUnregisterServer vt_crash_throw.dll"}));
}

TEST_F(UnregisterTest, LedgerNamesTheFaultAtTheServersEntryAndRaisesIt) {
    // An unattended run shows no box: the report is where the fault is told.
    const std::string reportPath = PathOf("report.jsonl");
    TReportFile report;
    ASSERT_TRUE(report.Create(reportPath));
    Ledger().Start(false, &report);
    Ledger().SetPhase("RegServers");
    const std::string path = TestProgram("vt_crash_null.dll");
    EXPECT_THROW(Ledger().UnregisterServerEntry(path + "=", path), EServerFault);
    report.Close();
    Ledger().Start(false, nullptr);
    EXPECT_EQ(ReadBytes(reportPath), "{\"type\":\"entry\",\"phase\":\"RegServers\",\"entry\":" +
                                         JsonQuoteAnsi(path + "=") +
                                         ",\"outcome\":\"unregister-failed\",\"message\":" +
                                         JsonQuoteAnsi("Access violation in " + path) + "}\n");
}

TEST_F(UnregisterTest, HostExitCodesNameTheFault) {
    const std::string path = "C:\\App\\srv.dll";
    EXPECT_EQ(ServerFaultText(0, path), "");
    EXPECT_EQ(ServerFaultText(0xC0000005u, path), "Access violation in C:\\App\\srv.dll");
    EXPECT_EQ(ServerFaultText(0xE06D7363u, path), "Unhandled exception in C:\\App\\srv.dll");
    EXPECT_EQ(ServerFaultText(0xC0000409u, path), "Exception 0xC0000409 in C:\\App\\srv.dll");
    EXPECT_EQ(ServerFaultText(5, path), "Unexpected end of C:\\App\\srv.dll (exit code 5)");
}

TEST_F(UnregisterTest, ServerFindsTheLibrariesOfItsOwnFolder) {
    // Copied into a folder that no search path names.
    ASSERT_TRUE(CreateDirectoryA(PathOf("Server Folder").c_str(), nullptr));
    for (const char* name : {"vt_depserver.dll", "vt_helper.dll"}) {
        ASSERT_TRUE(CopyFileA(TestProgram(name).c_str(),
                              PathOf(std::string("Server Folder\\") + name).c_str(), FALSE));
    }
    EXPECT_TRUE(UnregisterServer(PathOf("Server Folder\\vt_depserver.dll")));
    EXPECT_EQ(Events(), (std::vector<std::string>{"DllUnregisterServer vt_depserver.dll",
                                                  "helper vt_helper.dll"}));
}

TEST_F(UnregisterTest, LibraryPlantedInTheCurrentFolderIsNotLoadedByName) {
    // A bare name is looked up in the system folder only.
    std::string planted = "vt-planted-" + std::to_string(GetCurrentProcessId()) + ".dll";
    ASSERT_TRUE(CopyFileA(TestProgram("vt_server.dll").c_str(), planted.c_str(), FALSE));
    bool called = UnregisterServer(planted);
    DeleteFileA(planted.c_str());
    EXPECT_FALSE(called);
    EXPECT_TRUE(Events().empty());
}

TEST_F(UnregisterTest, LoaderReportsWin32Errors) {
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA(PathOf("missing.dll").c_str()), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

    HMODULE library = LoadLibraryA(TestProgram("vt_plain.dll").c_str());
    ASSERT_NE(library, nullptr);
    EXPECT_NE(GetProcAddress(library, "VantrelPlainFunction"), nullptr);
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(library, "DllUnregisterServer"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_TRUE(FreeLibrary(library));

    // A library named by a full path loads with its folder searched; the
    // call that turns the restricted search on is found where it exists.
    library = LoadLibraryExA(TestProgram("vt_plain.dll").c_str(), nullptr,
                             LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    ASSERT_NE(library, nullptr);
    EXPECT_TRUE(FreeLibrary(library));
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    ASSERT_NE(kernel, nullptr);
    EXPECT_NE(GetProcAddress(kernel, "SetDefaultDllDirectories"), nullptr);
}

} // namespace
