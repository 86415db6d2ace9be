// The process's command line and the small process facts beside it. The
// suite runs once without and once with arguments (see ui.cmake); either way
// the command line must split back into the arguments the program got.
#include "winapi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The program's own splitting rule: codes 1 to 32 separate, a double quote
// opens a stretch up to the next one, the quotes are dropped, no escapes.
std::vector<std::string> Split(const char* line) {
    std::vector<std::string> arguments;
    const char* p = line;
    for (;;) {
        while (*p && static_cast<unsigned char>(*p) <= 32) {
            ++p;
        }
        if (!*p) {
            break;
        }
        std::string argument;
        bool quoted = false;
        while (*p && (quoted || static_cast<unsigned char>(*p) > 32)) {
            if (*p == '"') {
                quoted = !quoted;
            } else {
                argument += *p;
            }
            ++p;
        }
        arguments.push_back(argument);
    }
    return arguments;
}

TEST(CommandLine, SplitsBackIntoTheProgramsArguments) {
    std::vector<std::string> argv = ::testing::internal::GetArgvs();
    ASSERT_FALSE(argv.empty());
    std::vector<std::string> split = Split(GetCommandLineA());
    ASSERT_FALSE(split.empty());
    EXPECT_NE(split[0].find("test_cmdline"), std::string::npos) << GetCommandLineA();
    // An empty argument splits into nothing by the program's rule: it is
    // there only as "" in the line itself. A double quote cannot come back
    // through that rule: the argument comes back as one, without it.
    std::vector<std::string> expected;
    size_t empties = 0;
    for (size_t i = 1; i < argv.size(); ++i) {
        std::string argument = argv[i];
        argument.erase(std::remove(argument.begin(), argument.end(), '"'), argument.end());
        if (argv[i].empty()) {
            ++empties;
        } else {
            expected.push_back(argument);
        }
    }
    std::vector<std::string> actual(split.begin() + 1, split.end());
    actual.erase(std::remove(actual.begin(), actual.end(), std::string()), actual.end());
    EXPECT_EQ(actual, expected) << GetCommandLineA();
    std::string line = GetCommandLineA();
    size_t quotedEmpties = 0;
    for (size_t at = line.find(" \"\""); at != std::string::npos; at = line.find(" \"\"", at + 1)) {
        ++quotedEmpties;
    }
    EXPECT_EQ(quotedEmpties, empties) << line;
}

TEST(CommandLine, ArgumentsWithBlanksAreQuoted) {
    std::string line = GetCommandLineA();
    for (const std::string& argument : ::testing::internal::GetArgvs()) {
        if (argument.find(' ') != std::string::npos && argument.find('"') == std::string::npos) {
            EXPECT_NE(line.find('"' + argument + '"'), std::string::npos) << line;
        }
    }
    EXPECT_EQ(GetCommandLineA(), GetCommandLineA()) << "one buffer for the process";
}

TEST(Version, ReportsAWindowsPlatform) {
    OSVERSIONINFOA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_TRUE(info.dwPlatformId == VER_PLATFORM_WIN32_NT ||
                info.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS);
    EXPECT_GE(info.dwMajorVersion, 4u);

    OSVERSIONINFOA small;
    std::memset(&small, 0, sizeof small);
    small.dwOSVersionInfoSize = 20;
    EXPECT_FALSE(GetVersionExA(&small));
}

bool IsNativeBuild() {
    return GetModuleHandleA("ntdll.dll") == nullptr;
}

TEST(Version, NativeBuildCanPoseAsTheOtherFamily_NativeOnly) {
    if (!IsNativeBuild()) {
        GTEST_SKIP() << "the platform is chosen by the environment only natively";
    }
    OSVERSIONINFOA info;
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(SetEnvironmentVariableA("VANTREL_PLATFORM", "win95"));
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(info.dwPlatformId, DWORD(VER_PLATFORM_WIN32_WINDOWS));
    EXPECT_EQ(info.dwMajorVersion, 4u);
    EXPECT_EQ(info.dwMinorVersion, 10u);
    ASSERT_TRUE(SetEnvironmentVariableA("VANTREL_PLATFORM", nullptr));
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(info.dwPlatformId, DWORD(VER_PLATFORM_WIN32_NT));
    EXPECT_EQ(info.dwMajorVersion, 5u);
    EXPECT_EQ(info.dwMinorVersion, 1u);
}

TEST(Environment, SetReadAndRemove) {
    const char* name = "VANTREL_TEST_VARIABLE";
    ASSERT_TRUE(SetEnvironmentVariableA(name, "abcdef"));
    char buffer[16];
    EXPECT_EQ(GetEnvironmentVariableA(name, buffer, sizeof buffer), 6u);
    EXPECT_STREQ(buffer, "abcdef");
    // Too small: the size needed, terminator included.
    EXPECT_EQ(GetEnvironmentVariableA(name, buffer, 6), 7u);
    EXPECT_EQ(GetEnvironmentVariableA(name, buffer, 7), 6u);
    ASSERT_TRUE(SetEnvironmentVariableA(name, nullptr));
    EXPECT_EQ(GetEnvironmentVariableA(name, buffer, sizeof buffer), 0u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ENVVAR_NOT_FOUND));
}

TEST(Module, HandleAndFileNameOfTheProgram) {
    HMODULE self = GetModuleHandleA(nullptr);
    ASSERT_NE(self, nullptr);
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(length, std::strlen(path));
    EXPECT_NE(std::string(path).find("test_cmdline"), std::string::npos) << path;
    char small[5];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, 4), 4u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(small[4], 'x');
}

TEST(Process, Ids) {
    EXPECT_NE(GetCurrentProcessId(), 0u);
    EXPECT_NE(GetCurrentThreadId(), 0u);
    EXPECT_EQ(GetCurrentThreadId(), GetCurrentThreadId());
}

TEST(Com, InitialiseTwiceThenUninitialise) {
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    CoUninitialize();
    CoUninitialize();
}

} // namespace
