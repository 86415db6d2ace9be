// UnregisterServer: the server library is loaded, its export called once and
// the library released again; the test libraries record each of these events.
// The call is made by a copy of this test program, the server host, so a
// server that faults or hangs ends only that copy, and the host's own reason
// comes back: a fault as an error, a failed load or a missing export with the
// host's error, a hang as the end of the host after the time limit.
#include "PhaseTestSupport.h"
#include "ktJson.h"
#include "ktReport.h"
#include "ktServerHost.h"
#include "ktSystemText.h"

#include <string>
#include <vector>

namespace {

using Events = std::vector<std::string>;

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
        SetServerTimeLimitForTests(kServerTimeLimitMs);
        TempDirTest::TearDown();
    }
    Events Recorded() const { return ReadLines(log_); }
    // Copies a test library into the test's folder under `name`.
    std::string Copy(const std::string& library, const std::string& name) {
        std::string path = PathOf(name);
        EXPECT_TRUE(CopyFileA(TestProgram(library).c_str(), path.c_str(), FALSE)) << path;
        return path;
    }

    std::string log_;
};

bool Called(const std::string& path) {
    return UnregisterServer(path).result == TServerCallResult::Called;
}

Events CalledOnce(const std::string& library) {
    return {"load " + library, "DllUnregisterServer " + library, "unload " + library};
}

TEST_F(UnregisterTest, ServerIsCalledOnceAndReleased) {
    EXPECT_TRUE(Called(TestProgram("vt_server.dll")));
    EXPECT_EQ(Recorded(), CalledOnce("vt_server.dll"));
}

TEST_F(UnregisterTest, EachCallLoadsAndReleasesAgain) {
    EXPECT_TRUE(Called(TestProgram("vt_server.dll")));
    EXPECT_TRUE(Called(TestProgram("vt_server.dll")));
    Events twice = CalledOnce("vt_server.dll");
    const Events once = twice;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(Recorded(), twice);
}

TEST_F(UnregisterTest, FailureStatusStillCountsAsCalled) {
    EXPECT_TRUE(Called(TestProgram("vt_failserver.dll")));
    EXPECT_EQ(Recorded(), CalledOnce("vt_failserver.dll"));
}

// A library that does not load and one without the export are told apart,
// each with the loader's error in the host, whatever the parent's own last
// error is.
TEST_F(UnregisterTest, HostHandsBackWhyTheCallFailed) {
    WriteBytes(PathOf("notalibrary.dll"), "MZ this is not a library");
    const struct {
        std::string path;
        TServerCallResult result;
        DWORD error;
        Events events;
    } cases[] = {
        {PathOf("missing.dll"), TServerCallResult::NotLoaded, ERROR_MOD_NOT_FOUND, {}},
        {PathOf("nofolder\\x.dll"), TServerCallResult::NotLoaded, ERROR_MOD_NOT_FOUND, {}},
        {PathOf("notalibrary.dll"), TServerCallResult::NotLoaded, ERROR_BAD_EXE_FORMAT, {}},
        {TestProgram("vt_plain.dll"),
         TServerCallResult::NoExport,
         ERROR_PROC_NOT_FOUND,
         {"load vt_plain.dll", "unload vt_plain.dll"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        DeleteFileA(log_.c_str());
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        TServerCall call = UnregisterServer(c.path);
        EXPECT_EQ(call.result, c.result);
        EXPECT_EQ(call.error, c.error);
        EXPECT_EQ(Recorded(), c.events);
    }
}

// The path goes to the host byte for byte: a double quote or a trailing
// backslash must not make the host load another library (today's example:
// the first half of a name holding quotes is a real server).
TEST_F(UnregisterTest, PathReachesTheHostByteForByte) {
    ASSERT_TRUE(CreateDirectoryA(PathOf("dir").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(PathOf("two  blanks").c_str(), nullptr));
    Copy("vt_server.dll", "dir\\vt_server.dll");
    Copy("vt_server.dll", "two  blanks\\vt_server.dll");
    const struct {
        std::string path;
        TServerCallResult result;
        DWORD error;
    } cases[] = {
        {PathOf("two  blanks\\vt_server.dll"), TServerCallResult::Called, 0},
        {PathOf("dir\\vt_server.dll\"  \"") + PathOf("notlib.dll"), TServerCallResult::NotLoaded,
         ERROR_MOD_NOT_FOUND},
        {"\"" + PathOf("dir\\vt_server.dll") + "\" x", TServerCallResult::NotLoaded,
         ERROR_MOD_NOT_FOUND},
        {PathOf("dir\\"), TServerCallResult::NotLoaded, ERROR_MOD_NOT_FOUND},
        {PathOf("dir\\\" ") + PathOf("dir\\vt_server.dll"), TServerCallResult::NotLoaded,
         ERROR_MOD_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        DeleteFileA(log_.c_str());
        TServerCall call = UnregisterServer(c.path);
        EXPECT_EQ(call.result, c.result);
        EXPECT_EQ(call.error, c.error);
        EXPECT_EQ(Recorded(),
                  c.result == TServerCallResult::Called ? CalledOnce("vt_server.dll") : Events());
    }
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
    EXPECT_TRUE(Called(TestProgram("vt_server.dll")));
    Events expected;
    for (const auto& c : cases) {
        expected.push_back(std::string("DllUnregisterServer ") + c.library);
    }
    for (const std::string& event : CalledOnce("vt_server.dll")) {
        expected.push_back(event);
    }
    EXPECT_EQ(Recorded(), expected);
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
    EXPECT_EQ(Recorded(), Events{"DllUnregisterServer vt_crash_stack.dll"});
}

TEST_F(UnregisterTest, ExceptionEscapingTheServerIsRaisedAsAFault) {
    std::string path = TestProgram("vt_crash_throw.dll");
    EXPECT_THROW(UnregisterServer(path), EServerFault);
    EXPECT_EQ(Recorded(), Events{"DllUnregisterServer vt_crash_throw.dll"});
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

// A server that never returns is ended after the time limit (shortened here;
// long enough for Wine to start the host under load), the entry says so, its
// library is free again, and the run goes on. A library that does not load
// and one without the export each carry the host's error and what failed.
TEST_F(UnregisterTest, LedgerReportsEachFailureWithItsReasonAndGoesOn) {
    const uint32_t limit = 4000;
    SetServerTimeLimitForTests(limit);
    const std::string hang = Copy("vt_crash_hang.dll", "hang.dll");
    const std::string missing = PathOf("missing.dll");
    const std::string plain = TestProgram("vt_plain.dll");
    const std::string server = TestProgram("vt_server.dll");
    const std::string reportPath = PathOf("report.jsonl");
    TReportFile report;
    ASSERT_TRUE(report.Create(reportPath));
    Ledger().Start(false, &report);
    Ledger().SetPhase("RegServers");
    const DWORD start = GetTickCount();
    for (const std::string& path : {hang, missing, plain, server}) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        Ledger().UnregisterServerEntry(path + "=", path);
    }
    const DWORD elapsed = GetTickCount() - start;
    report.Close();
    Ledger().Start(false, nullptr);
    EXPECT_GE(elapsed, limit);
    EXPECT_LT(elapsed, limit + 30000u);
    EXPECT_TRUE(DeleteFileA(hang.c_str())) << "the ended host still holds the library";

    auto line = [](const std::string& path, const std::string& outcome, DWORD error,
                   const std::string& message) {
        return "{\"type\":\"entry\",\"phase\":\"RegServers\",\"entry\":" +
               JsonQuoteAnsi(path + "=") + ",\"outcome\":\"" + outcome + "\"" +
               (error != 0 ? ",\"error\":" + std::to_string(error) : std::string()) +
               (message.empty() ? std::string() : ",\"message\":" + JsonQuoteAnsi(message)) + "}\n";
    };
    const std::string expected =
        line(hang, "unregister-failed", 0,
             "DllUnregisterServer did not finish within 4 seconds; the server was ended") +
        line(missing, "unregister-failed", ERROR_MOD_NOT_FOUND,
             "The library did not load: " + SystemErrorText(ERROR_MOD_NOT_FOUND)) +
        line(plain, "unregister-failed", ERROR_PROC_NOT_FOUND,
             "The library has no DllUnregisterServer export: " +
                 SystemErrorText(ERROR_PROC_NOT_FOUND)) +
        line(server, "unregistered", 0, "");
    EXPECT_EQ(ReadBytes(reportPath), expected);
    Events events = {"DllUnregisterServer vt_crash_hang.dll", "load vt_plain.dll",
                     "unload vt_plain.dll"};
    for (const std::string& event : CalledOnce("vt_server.dll")) {
        events.push_back(event);
    }
    EXPECT_EQ(Recorded(), events);
}

TEST_F(UnregisterTest, CallTextsSayWhatFailed) {
    const struct {
        TServerCall call;
        std::string text;
    } cases[] = {
        {{TServerCallResult::Called, 0, 0}, ""},
        {{TServerCallResult::NotLoaded, 0, 0}, "The library did not load"},
        {{TServerCallResult::NotLoaded, ERROR_BAD_EXE_FORMAT, 0},
         "The library did not load: " + SystemErrorText(ERROR_BAD_EXE_FORMAT)},
        {{TServerCallResult::NoExport, ERROR_PROC_NOT_FOUND, 0},
         "The library has no DllUnregisterServer export: " + SystemErrorText(ERROR_PROC_NOT_FOUND)},
        {{TServerCallResult::TimedOut, 0, 60000},
         "DllUnregisterServer did not finish within 60 seconds; the server was ended"},
        {{TServerCallResult::NotStarted, ERROR_FILE_NOT_FOUND, 0},
         "The server host could not be started: " + SystemErrorText(ERROR_FILE_NOT_FOUND)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ServerCallText(c.call), c.text);
    }
    EXPECT_EQ(kServerTimeLimitMs, 60000u);
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
    // Copied into a folder that no search path names, and under a Windows
    // path of the machine, as install logs name servers.
    ASSERT_TRUE(CreateDirectoryA(PathOf("Server Folder").c_str(), nullptr));
    Copy("vt_depserver.dll", "Server Folder\\vt_depserver.dll");
    Copy("vt_helper.dll", "Server Folder\\vt_helper.dll");
    EXPECT_TRUE(Called(PathOf("Server Folder\\vt_depserver.dll")));
    EXPECT_TRUE(Called(Copy("vt_server.dll", "Server Copy.DLL")));
    Events expected = {"DllUnregisterServer vt_depserver.dll", "helper vt_helper.dll"};
    for (const std::string& event : CalledOnce("vt_server.dll")) {
        expected.push_back(event);
    }
    EXPECT_EQ(Recorded(), expected);
}

TEST_F(UnregisterTest, LibraryPlantedInTheCurrentFolderIsNotLoadedByName) {
    // A bare name is looked up in the system folder only.
    std::string planted = "vt-planted-" + std::to_string(GetCurrentProcessId()) + ".dll";
    ASSERT_TRUE(CopyFileA(TestProgram("vt_server.dll").c_str(), planted.c_str(), FALSE));
    TServerCall call = UnregisterServer(planted);
    DeleteFileA(planted.c_str());
    EXPECT_EQ(call.result, TServerCallResult::NotLoaded);
    EXPECT_TRUE(Recorded().empty());
}

} // namespace
