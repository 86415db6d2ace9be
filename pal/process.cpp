// Process and system information of the native build: the command line,
// the module, the version, ids, time, environment and COM's start and end.
#include "internal.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <strings.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string>& RecordedArguments() {
    static std::vector<std::string> arguments;
    return arguments;
}
bool argumentsRecorded = false;

std::vector<std::string> OwnArguments() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> arguments;
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find('\0', start);
        if (end == std::string::npos) {
            end = all.size();
        }
        arguments.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return arguments;
}

// A Windows command line that the program's own splitter takes apart into
// the same arguments: codes 1 to 32 separate, double quotes toggle a quoted
// stretch and are dropped, and there is no escape. An argument that holds a
// separator, or is empty, is put in double quotes. A double quote inside an
// argument cannot come back through that splitter, so it is left out: the
// argument still comes back as one, without its quotes.
std::string BuildCommandLine(const std::vector<std::string>& arguments) {
    std::string line;
    for (size_t i = 0; i < arguments.size(); ++i) {
        std::string argument;
        bool separator = false;
        for (char c : arguments[i]) {
            if (c != '"') {
                argument += c;
                separator = separator || static_cast<unsigned char>(c) <= 32;
            }
        }
        if (i > 0) {
            line += ' ';
        }
        if (argument.empty() || separator) {
            line += '"' + argument + '"';
        } else {
            line += argument;
        }
    }
    return line;
}

int comInitialised = 0;

// An HMODULE for the program itself; never dereferenced.
const HMODULE selfModule = reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x400000));

} // namespace

namespace pal {

void RecordArguments(int argc, char** argv) {
    auto& arguments = RecordedArguments();
    arguments.assign(argv, argv + argc);
    argumentsRecorded = true;
}

} // namespace pal

LPSTR WINAPI GetCommandLineA(void) {
    static std::string line =
        BuildCommandLine(argumentsRecorded ? RecordedArguments() : OwnArguments());
    return &line[0];
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
    if (lpModuleName == nullptr) {
        return selfModule;
    }
    if (strcasecmp(lpModuleName, "kernel32.dll") == 0 ||
        strcasecmp(lpModuleName, "kernel32") == 0) {
        return pal::Kernel32Module();
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    if (hModule != nullptr && hModule != selfModule) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length < 0) {
        pal::SetLastErrorFromErrno();
        return 0;
    }
    if (!lpFilename || nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    auto size = static_cast<DWORD>(length);
    if (size >= nSize) {
        // As on Windows: truncated, terminated, and the buffer size returned.
        std::memcpy(lpFilename, path, nSize - 1);
        lpFilename[nSize - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    std::memcpy(lpFilename, path, size);
    lpFilename[size] = '\0';
    return size;
}

namespace pal {

bool Win95Family() {
    const char* platform = std::getenv("VANTREL_PLATFORM");
    return platform != nullptr && std::strcmp(platform, "win95") == 0;
}

} // namespace pal

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
    if (!lpVersionInformation ||
        lpVersionInformation->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    OSVERSIONINFOA& info = *lpVersionInformation;
    std::memset(info.szCSDVersion, 0, sizeof info.szCSDVersion);
    if (pal::Win95Family()) {
        info.dwMajorVersion = 4;
        info.dwMinorVersion = 10;
        info.dwBuildNumber = 2222;
        info.dwPlatformId = VER_PLATFORM_WIN32_WINDOWS;
    } else {
        info.dwMajorVersion = 5;
        info.dwMinorVersion = 1;
        info.dwBuildNumber = 2600;
        info.dwPlatformId = VER_PLATFORM_WIN32_NT;
        std::strcpy(info.szCSDVersion, "Service Pack 3");
    }
    return TRUE;
}

DWORD WINAPI GetCurrentThreadId(void) {
    return static_cast<DWORD>(syscall(SYS_gettid));
}

DWORD WINAPI GetCurrentProcessId(void) {
    return static_cast<DWORD>(getpid());
}

DWORD WINAPI GetTickCount(void) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<DWORD>(static_cast<uint64_t>(now.tv_sec) * 1000 +
                              static_cast<uint64_t>(now.tv_nsec) / 1000000);
}

void WINAPI Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == INFINITE) {
        for (;;) {
            pause();
        }
    }
    timespec wait = {static_cast<time_t>(dwMilliseconds / 1000),
                     static_cast<long>(dwMilliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

// The environment's own spelling of a name, found without regard to case
// as Windows finds it; the name itself when there is none.
static std::string EnvironmentName(const char* name) {
    size_t length = std::strlen(name);
    for (char** entry = environ; *entry; ++entry) {
        if (strncasecmp(*entry, name, length) == 0 && (*entry)[length] == '=') {
            return std::string(*entry, length);
        }
    }
    return name;
}

DWORD WINAPI GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize) {
    const char* value = lpName ? std::getenv(EnvironmentName(lpName).c_str()) : nullptr;
    if (!value) {
        SetLastError(ERROR_ENVVAR_NOT_FOUND);
        return 0;
    }
    std::string text = value;
    DWORD result = pal::CopyOut(text, lpBuffer, nSize);
    if (result == text.size()) {
        SetLastError(ERROR_SUCCESS);
    }
    return result;
}

BOOL WINAPI SetEnvironmentVariableA(LPCSTR lpName, LPCSTR lpValue) {
    if (!lpName || !*lpName || std::strchr(lpName, '=')) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string name = EnvironmentName(lpName);
    int rc = lpValue ? setenv(name.c_str(), lpValue, 1) : unsetenv(name.c_str());
    if (rc != 0) {
        pal::SetLastErrorFromErrno();
        return FALSE;
    }
    return TRUE;
}

HRESULT WINAPI CoInitialize(LPVOID) {
    return comInitialised++ == 0 ? S_OK : S_FALSE;
}

void WINAPI CoUninitialize(void) {
    if (comInitialised > 0) {
        --comInitialised;
    }
}
