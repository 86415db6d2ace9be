// Contract of the system's folders, clock and fault settings at the edges
// the program's callers reach: buffers of every size for the folder calls,
// shell folders that have no path, the clock in UTC, and the error mode and
// fault filter handing back what was set before. The same tables run over
// pal/ natively and over the real API under Wine.
#include "TestSupport.h"

#include <ctime>
#include <string>
#include <vector>

namespace {

struct FolderCall {
    const char* name;
    DWORD (*run)(char* buffer, DWORD size);
};

const FolderCall kFolderCalls[] = {
    {"GetSystemDirectoryA",
     [](char* buffer, DWORD size) {
         return static_cast<DWORD>(GetSystemDirectoryA(buffer, size));
     }},
    {"GetTempPathA", [](char* buffer, DWORD size) { return GetTempPathA(size, buffer); }},
    {"GetCurrentDirectoryA",
     [](char* buffer, DWORD size) { return GetCurrentDirectoryA(size, buffer); }},
};

// Every folder call answers a size query and a short buffer with the room
// needed (NUL included), and a buffer that fits with the length without it.
TEST(ContractFolders, BufferSizesFollowOneConvention) {
    for (const FolderCall& call : kFolderCalls) {
        SCOPED_TRACE(call.name);
        DWORD needed = call.run(nullptr, 0);
        ASSERT_GT(needed, 3u);
        std::vector<char> buffer(needed + 1, 'x');
        EXPECT_EQ(call.run(buffer.data(), needed), needed - 1);
        const std::string path = buffer.data();
        EXPECT_EQ(path.size(), needed - 1);
        EXPECT_NE(GetFileAttributesA(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
        for (DWORD room : {needed - 1, DWORD{1}}) {
            SCOPED_TRACE("room " + std::to_string(room));
            EXPECT_EQ(call.run(buffer.data(), room), needed);
        }
    }
}

TEST(ContractFolders, ShellFoldersWithoutAPathAreRefused) {
    struct Case {
        int csidl;
        BOOL found;
    } cases[] = {
        {0x26, TRUE},  // Program Files
        {0x24, TRUE},  // the Windows directory
        {0x03, FALSE}, // the control panel: a virtual folder
        {0x7e, FALSE}, // no such folder
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("csidl " + std::to_string(c.csidl));
        char path[MAX_PATH] = "untouched";
        EXPECT_EQ(SHGetSpecialFolderPathA(nullptr, path, c.csidl, FALSE), c.found);
        if (c.found) {
            EXPECT_EQ(path[1], ':');
        }
    }
    char windows[MAX_PATH];
    char viaShell[MAX_PATH];
    ASSERT_GT(GetWindowsDirectoryA(windows, MAX_PATH), 0u);
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, viaShell, 0x24, FALSE));
    EXPECT_EQ(CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, windows, -1, viaShell, -1),
              CSTR_EQUAL);
}

// Days from 1970-01-01 to the given date of the Gregorian calendar.
long DaysFromEpoch(int year, int month, int day) {
    year -= month <= 2;
    const long era = (year >= 0 ? year : year - 399) / 400;
    const long yoe = year - era * 400;
    const long doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// The clock is UTC with months from 1 and days of the week from Sunday = 0:
// read as a date it lands within a few minutes of the C library's clock.
TEST(ContractClock, SystemTimeIsUtcWithWindowsFieldRanges) {
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    const long long cClock = static_cast<long long>(std::time(nullptr));
    const long days = DaysFromEpoch(now.wYear, now.wMonth, now.wDay);
    const long long seconds =
        days * 86400LL + now.wHour * 3600LL + now.wMinute * 60LL + now.wSecond;
    EXPECT_LT(seconds > cClock ? seconds - cClock : cClock - seconds, 300);
    EXPECT_EQ(now.wDayOfWeek, static_cast<WORD>((days + 4) % 7)); // 1970-01-01 a Thursday
    EXPECT_LT(now.wMilliseconds, 1000);
}

TEST(ContractFaults, ErrorModeReturnsThePreviousMode) {
    const UINT first = SEM_FAILCRITICALERRORS;
    const UINT second = SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX;
    const UINT before = SetErrorMode(first);
    EXPECT_EQ(SetErrorMode(second), first);
    EXPECT_EQ(SetErrorMode(before), second);
}

LONG WINAPI FirstFilter(PEXCEPTION_POINTERS) {
    return EXCEPTION_CONTINUE_SEARCH;
}
LONG WINAPI SecondFilter(PEXCEPTION_POINTERS) {
    return EXCEPTION_EXECUTE_HANDLER;
}

TEST(ContractFaults, ExceptionFilterReturnsThePreviousFilter) {
    LPTOP_LEVEL_EXCEPTION_FILTER before = SetUnhandledExceptionFilter(FirstFilter);
    EXPECT_EQ(SetUnhandledExceptionFilter(SecondFilter), &FirstFilter);
    EXPECT_EQ(SetUnhandledExceptionFilter(nullptr), &SecondFilter);
    EXPECT_EQ(SetUnhandledExceptionFilter(before), nullptr);
}

} // namespace
