// OLE server unregistration through the server host: the parent starts a
// copy of its own program with the host marker and the library's path, the
// copy loads the library and calls "DllUnregisterServer", and its exit code
// tells the parent what happened.
#include "ktServerHost.h"

#include "ktHandle.h"
#include "winapi.h"

#include <cstdio>
#include <vector>

namespace {

typedef HRESULT(WINAPI* TDllUnregisterServer)();
typedef BOOL(WINAPI* TSetDefaultDllDirectories)(DWORD);

const char kHostMarker[] = "|unregister-server|";

// Exit codes of the host besides 0 (called) and the exception codes with
// which the system ends a process that faulted. Below 256, so that they
// survive any platform's exit status.
enum : uint32_t {
    kHostNotLoaded = 0x71,
    kHostNoExport = 0x72,
    kHostException = 0x73, // a C++ exception escaped the server
};

// The MSVC runtime's code for a C++ exception that nothing caught.
const uint32_t kCxxExceptionCode = 0xE06D7363;

// Splits a command line as the program's own splitter does: characters 1 to
// 32 separate, double quotes open and close stretches and are dropped.
std::vector<std::string> SplitArguments(const char* line) {
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false;
    bool quoted = false;
    for (const char* p = line; p && *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == '"') {
            quoted = !quoted;
            inArgument = true;
        } else if (!quoted && c <= 32) {
            if (inArgument) {
                arguments.push_back(current);
                current.clear();
                inArgument = false;
            }
        } else {
            current += *p;
            inArgument = true;
        }
    }
    if (inArgument) {
        arguments.push_back(current);
    }
    return arguments;
}

std::string OwnProgramPath() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        DWORD length =
            GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return std::string();
        }
        if (length < buffer.size()) {
            return std::string(buffer.data(), length);
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool SafeSearchAvailable() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    return kernel != nullptr && GetProcAddress(kernel, "SetDefaultDllDirectories") != nullptr;
}

// A server named by a full path is loaded with the libraries of its own
// folder that it needs, and nothing else from outside the system folder.
// Systems without the safe search flags, and relative paths, which the
// flags refuse, take the classic search.
HMODULE LoadServerLibrary(const std::string& libraryPath) {
    if (SafeSearchAvailable()) {
        HMODULE library =
            LoadLibraryExA(libraryPath.c_str(), nullptr,
                           LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
        if (library != nullptr || GetLastError() != ERROR_INVALID_PARAMETER) {
            return library;
        }
    }
    return LoadLibraryA(libraryPath.c_str());
}

// What the host does: the call itself, in this process.
uint32_t CallServer(const std::string& libraryPath) {
    TScopedLibrary library(LoadServerLibrary(libraryPath));
    if (!library) {
        return kHostNotLoaded;
    }
    FARPROC proc = GetProcAddress(library.Get(), "DllUnregisterServer");
    if (proc == nullptr) {
        return kHostNoExport;
    }
    // The status is not examined: a server that reports failure has still
    // been asked.
    reinterpret_cast<TDllUnregisterServer>(reinterpret_cast<void*>(proc))();
    return 0;
}

// A fault that nothing in the server handled ends the host with the fault's
// code, without the system's crash dialog or debugger.
LONG WINAPI EndHostOnFault(EXCEPTION_POINTERS*) {
    return EXCEPTION_EXECUTE_HANDLER;
}

std::string HexCode(uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
    return text;
}

} // namespace

bool RunServerHostIfAsked(int& exitCode) {
    std::vector<std::string> arguments = SplitArguments(GetCommandLineA());
    if (arguments.size() < 3 || arguments[1] != kHostMarker) {
        return false;
    }
    RestrictLibrarySearch();
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(EndHostOnFault);
    CoInitialize(nullptr);
    uint32_t code = kHostException;
    try {
        code = CallServer(arguments[2]);
    } catch (...) {
    }
    CoUninitialize();
    exitCode = static_cast<int>(code);
    return true;
}

std::string ServerFaultText(uint32_t exitCode, const std::string& libraryPath) {
    const char* fault = nullptr;
    switch (exitCode) {
    case 0:
    case kHostNotLoaded:
    case kHostNoExport:
        return std::string();
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
        fault = "Access violation";
        break;
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
        fault = "Illegal instruction";
        break;
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
        fault = "Integer division by zero";
        break;
    case EXCEPTION_INT_OVERFLOW:
        fault = "Integer overflow";
        break;
    case EXCEPTION_STACK_OVERFLOW:
        fault = "Stack overflow";
        break;
    case kHostException:
    case kCxxExceptionCode:
        fault = "Unhandled exception";
        break;
    default:
        break;
    }
    if (fault != nullptr) {
        return std::string(fault) + " in " + libraryPath;
    }
    if (exitCode >= 0x80000000u) {
        return "Exception " + HexCode(exitCode) + " in " + libraryPath;
    }
    return "Unexpected end of " + libraryPath + " (exit code " + std::to_string(exitCode) + ")";
}

bool UnregisterServer(const std::string& libraryPath) {
    if (libraryPath.empty()) {
        return false;
    }
    std::string program = OwnProgramPath();
    // The path goes in quotes; no file name can hold a double quote.
    std::string parameters = std::string(kHostMarker) + " \"" + libraryPath + "\"";
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpFile = program.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_HIDE;
    if (program.empty() || !ShellExecuteExA(&info) || info.hProcess == nullptr) {
        return false;
    }
    TScopedHandle process(info.hProcess);
    WaitForSingleObject(process.Get(), INFINITE);
    DWORD exitCode = 0;
    if (!GetExitCodeProcess(process.Get(), &exitCode)) {
        return false;
    }
    std::string fault = ServerFaultText(exitCode, libraryPath);
    if (!fault.empty()) {
        throw EServerFault(fault);
    }
    return exitCode == 0;
}

void RestrictLibrarySearch() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) {
        return;
    }
    FARPROC proc = GetProcAddress(kernel, "SetDefaultDllDirectories");
    if (proc != nullptr) {
        reinterpret_cast<TSetDefaultDllDirectories>(reinterpret_cast<void*>(proc))(
            LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
}
