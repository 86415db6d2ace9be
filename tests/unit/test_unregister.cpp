// UnregisterServer: the server library is loaded, its export called once and
// the library released again; the test libraries record each of these events.
#include "PhaseTestSupport.h"
#include "ktUtils2.h"

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
}

} // namespace
