// Contract of the process, environment, module, version, library, COM and
// time calls at the edges the program's callers can reach: handles that name
// nothing, buffers too small, names that do not exist. The same table runs
// over pal/ natively and over the real API under Wine, so both must agree.
#include "TestSupport.h"

#include <cstring>
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
    EXPECT_EQ(len, std::strlen(full));
    EXPECT_NE(std::string(full).find("test_contract_process"), std::string::npos) << full;
    // Nothing is written beyond the size given.
    char small[5] = {'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, 4), 4u);
    EXPECT_EQ(small[4], 'x');
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

TEST(ContractVersion, SizeFieldMustMatchAndTheFamilyIsWindows) {
    for (DWORD size : {0u, 20u}) {
        OSVERSIONINFOA info = {};
        info.dwOSVersionInfoSize = size;
        SetLastError(0);
        EXPECT_FALSE(GetVersionExA(&info)) << size;
        EXPECT_EQ(Err(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER)) << size;
    }
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_TRUE(info.dwPlatformId == VER_PLATFORM_WIN32_NT ||
                info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS);
    EXPECT_GE(info.dwMajorVersion, 4u);
}

TEST(ContractVersion, NativeBuildPosesAsTheFamilyItIsTold_NativeOnly) {
    if (GetModuleHandleA("ntdll.dll") != nullptr) {
        GTEST_SKIP() << "the family is chosen by the environment only natively";
    }
    const struct {
        const char* platform; // VANTREL_PLATFORM; null: unset
        DWORD id, major, minor;
    } cases[] = {
        {"win95", VER_PLATFORM_WIN32_WINDOWS, 4, 10},
        {nullptr, VER_PLATFORM_WIN32_NT, 5, 1},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(SetEnvironmentVariableA("VANTREL_PLATFORM", c.platform));
        OSVERSIONINFOA info = {};
        info.dwOSVersionInfoSize = sizeof info;
        ASSERT_TRUE(GetVersionExA(&info));
        EXPECT_EQ(info.dwPlatformId, c.id);
        EXPECT_EQ(info.dwMajorVersion, c.major);
        EXPECT_EQ(info.dwMinorVersion, c.minor);
    }
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
    EXPECT_FALSE(TerminateProcess(nullptr, 1));
    EXPECT_EQ(Err(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    SetLastError(0);
    EXPECT_FALSE(CloseHandle(nullptr));
    EXPECT_EQ(Err(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(ContractProcess, IdsAreSetAndSteady) {
    EXPECT_NE(GetCurrentProcessId(), 0u);
    EXPECT_NE(GetCurrentThreadId(), 0u);
    EXPECT_EQ(GetCurrentProcessId(), GetCurrentProcessId());
    EXPECT_EQ(GetCurrentThreadId(), GetCurrentThreadId());
}

TEST(ContractCom, InitialiseTwiceThenUninitialiseTwice) {
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    CoUninitialize();
    CoUninitialize();
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

// The loader's errors, with the test libraries (see tests/programs).
TEST(ContractLibrary, LoaderReportsWin32Errors) {
    const std::string programs = std::string(VANTREL_TEST_PROGRAMS_DIR) + "/";
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA((programs + "vt-no-such-library.dll").c_str()), nullptr);
    EXPECT_EQ(Err(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

    const std::string plain = programs + "vt_plain.dll";
    HMODULE library = LoadLibraryA(plain.c_str());
    ASSERT_NE(library, nullptr);
    EXPECT_NE(GetProcAddress(library, "VantrelPlainFunction"), nullptr);
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(library, "DllUnregisterServer"), nullptr);
    EXPECT_EQ(Err(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_TRUE(FreeLibrary(library));

    // A library named by a full path loads with its folder searched; the
    // call that turns the restricted search on is found where it exists.
    library = LoadLibraryExA(plain.c_str(), nullptr,
                             LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    ASSERT_NE(library, nullptr);
    EXPECT_TRUE(FreeLibrary(library));
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    ASSERT_NE(kernel, nullptr);
    EXPECT_NE(GetProcAddress(kernel, "SetDefaultDllDirectories"), nullptr);
}

// The process's own command line, as the loader builds it from the
// arguments: test_contract_process_args (contract.cmake) passes ones with
// blanks; the plain run has none, and checks only the one buffer.
TEST(ContractCommandLine, ArgumentsWithBlanksAreQuotedInOneBuffer) {
    std::string line = GetCommandLineA();
    for (const std::string& argument : ::testing::internal::GetArgvs()) {
        if (argument.find(' ') != std::string::npos && argument.find('"') == std::string::npos) {
            EXPECT_NE(line.find('"' + argument + '"'), std::string::npos) << line;
        }
    }
    EXPECT_EQ(GetCommandLineA(), GetCommandLineA()) << "one buffer for the process";
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
