// Contract of the process, environment, module, version and time calls at
// the edges the program's callers can reach: handles that name nothing,
// buffers too small, names that do not exist. The same table runs over
// pal/ natively and over the real API under Wine, so both must agree.
#include "TestSupport.h"

#include <string>

namespace {

DWORD Err() {
    return GetLastError();
}

TEST(ContractEnvironment, BufferSizesAndMissingNames) {
    ASSERT_TRUE(SetEnvironmentVariableA("VANTREL_CONTRACT", "abcdef"));
    struct Case {
        const char* name;
        DWORD size;       // buffer size passed
        DWORD result;     // expected return
        DWORD error;      // expected last error when result is 0, else unchecked
        const char* text; // expected buffer when the value fits
    } cases[] = {
        {"VANTREL_CONTRACT", 7, 6, 0, "abcdef"}, // exact fit: length without null
        {"VANTREL_CONTRACT", 6, 7, 0, nullptr},  // one short: size needed with null
        {"VANTREL_CONTRACT", 0, 7, 0, nullptr},  // asking for the size only
        {"vantrel_contract", 7, 6, 0, "abcdef"}, // names ignore case
        {"VANTREL_NO_SUCH_VAR", 16, 0, ERROR_ENVVAR_NOT_FOUND, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " size " + std::to_string(c.size));
        char buf[16] = "untouched";
        SetLastError(0);
        DWORD got = GetEnvironmentVariableA(c.name, c.size ? buf : nullptr, c.size);
        EXPECT_EQ(got, c.result);
        if (c.result == 0) {
            EXPECT_EQ(Err(), c.error);
        }
        if (c.text) {
            EXPECT_STREQ(buf, c.text);
        }
    }
    // A null value removes the variable; removing it again still succeeds.
    EXPECT_TRUE(SetEnvironmentVariableA("VANTREL_CONTRACT", nullptr));
    SetLastError(0);
    EXPECT_EQ(GetEnvironmentVariableA("VANTREL_CONTRACT", nullptr, 0), 0u);
    EXPECT_EQ(Err(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
}

TEST(ContractModule, MissingModuleAndShortFileNameBuffer) {
    SetLastError(0);
    EXPECT_EQ(GetModuleHandleA("vantrel-no-such-module.dll"), nullptr);
    EXPECT_EQ(Err(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

    char full[MAX_PATH];
    DWORD len = GetModuleFileNameA(nullptr, full, sizeof full);
    ASSERT_GT(len, 4u);
    // Too small: truncated to the size, the size returned.
    char shortBuf[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(GetModuleFileNameA(nullptr, shortBuf, sizeof shortBuf), 4u);
    EXPECT_EQ(std::string(shortBuf, 3), std::string(full, 3));
    // The program's own handle names the same file as a null one.
    char same[MAX_PATH];
    EXPECT_EQ(GetModuleFileNameA(GetModuleHandleA(nullptr), same, sizeof same), len);
    EXPECT_STREQ(same, full);
}

// Windows' documentation: the truncated name ends in a null within the
// size, and the shortage is reported (Windows XP and Wine do neither).
TEST(ContractModule, ShortFileNameBufferIsTerminated_WindowsDocumented_NotUnderWine) {
    if (UnderWine()) {
        GTEST_SKIP() << "Wine fills a short buffer without a null and sets no "
                        "ERROR_INSUFFICIENT_BUFFER";
    }
    char shortBuf[4] = {'x', 'x', 'x', 'x'};
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameA(nullptr, shortBuf, sizeof shortBuf), 4u);
    EXPECT_EQ(shortBuf[3], '\0');
    EXPECT_EQ(Err(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
}

TEST(ContractVersion, SizeFieldMustMatch) {
    OSVERSIONINFOA info = {};
    SetLastError(0);
    EXPECT_FALSE(GetVersionExA(&info)); // dwOSVersionInfoSize left 0
    EXPECT_EQ(Err(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    info.dwOSVersionInfoSize = sizeof info;
    EXPECT_TRUE(GetVersionExA(&info));
}

// Handles the program can hold that name no process: a null one (no
// process was started) and one already closed is not tried, as Windows may
// reuse it.
TEST(ContractProcess, NullHandleIsRefused) {
    DWORD code = 12345;
    SetLastError(0);
    EXPECT_FALSE(GetExitCodeProcess(nullptr, &code));
    EXPECT_EQ(Err(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(code, 12345u);

    SetLastError(0);
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
    EXPECT_EQ(Err(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    SetLastError(0);
    EXPECT_FALSE(CloseHandle(nullptr));
    EXPECT_EQ(Err(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(ContractLibrary, NullHandlesAreRefused) {
    SetLastError(0);
    EXPECT_FALSE(FreeLibrary(nullptr));
    EXPECT_NE(Err(), 0u);
    // The program's own module has no such export.
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(GetModuleHandleA(nullptr), "VantrelNoSuchExport"), nullptr);
    EXPECT_EQ(Err(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
}

TEST(ContractTime, TickCountDoesNotGoBackAndLastErrorKeepsItsValue) {
    DWORD before = GetTickCount();
    Sleep(0);
    DWORD after = GetTickCount();
    EXPECT_LT(after - before, 0x80000000u); // no step backwards, wrap allowed
    // Calls that succeed leave the last error alone.
    SetLastError(0xABCD);
    GetCurrentProcessId();
    GetCurrentThreadId();
    GetTickCount();
    EXPECT_EQ(Err(), 0xABCDu);
}

} // namespace
