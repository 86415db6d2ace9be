// OLE server unregistration through the server host: the parent starts a
// copy of its own program with the host marker, the library's path and the
// name of a file for the host's error; the copy loads the library and calls
// "DllUnregisterServer", and its exit code tells the parent what happened.
// Both names go in hexadecimal, which no splitter can take apart, so that
// the host gets them byte for byte.
#include "ktServerHost.h"

#include "ktCommandLine.h"
#include "ktHandle.h"
#include "ktShell.h"
#include "ktSystemText.h"
#include "winapi.h"

#include <cstdio>
#include <cstdlib>
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
    kHostEnded = 0x74,     // the parent ended a host that did not finish
};

// The MSVC runtime's code for a C++ exception that nothing caught.
const uint32_t kCxxExceptionCode = 0xE06D7363;
// Stands for the error file when there is none.
const char kNoErrorFile[] = "-";
// How long an ended host may take to go, so that its library is released
// before the run goes on to delete files.
const DWORD kEndWaitMs = 10000;

uint32_t serverTimeLimitMs = kServerTimeLimitMs;

std::string ToHex(const std::string& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (char c : bytes) {
        unsigned char byte = static_cast<unsigned char>(c);
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    return hex;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool FromHex(const std::string& hex, std::string& bytes) {
    if (hex.size() % 2 != 0) {
        return false;
    }
    bytes.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        int high = HexDigit(hex[i]);
        int low = HexDigit(hex[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes += static_cast<char>(high * 16 + low);
    }
    return true;
}

// The file in which the host hands back its own error: a fresh one in the
// temporary folder, made by the parent and deleted by it. Without a
// temporary folder the call goes on without it (the error stays unknown).
class TErrorFile {
  public:
    TErrorFile() {
        static unsigned counter = 0;
        char folder[MAX_PATH + 1];
        DWORD length = GetTempPathA(sizeof folder, folder);
        if (length == 0 || length >= sizeof folder) {
            return;
        }
        for (int tries = 0; tries < 100; ++tries) {
            std::string path = std::string(folder, length) + "vantrel-server-" +
                               std::to_string(GetCurrentProcessId()) + "-" +
                               std::to_string(++counter) + ".tmp";
            TScopedHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                           FILE_ATTRIBUTE_TEMPORARY, nullptr));
            if (file) {
                path_ = path;
                return;
            }
            if (GetLastError() != ERROR_FILE_EXISTS) {
                return;
            }
        }
    }
    ~TErrorFile() {
        if (!path_.empty()) {
            DeleteFileA(path_.c_str());
        }
    }
    TErrorFile(const TErrorFile&) = delete;
    TErrorFile& operator=(const TErrorFile&) = delete;

    // For the host's command line.
    std::string Argument() const { return path_.empty() ? kNoErrorFile : ToHex(path_); }
    // The error the host wrote; 0 when it wrote none.
    uint32_t Read() const {
        if (path_.empty()) {
            return 0;
        }
        TScopedHandle file(CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        char text[16] = {};
        DWORD count = 0;
        if (!file || !ReadFile(file.Get(), text, sizeof text - 1, &count, nullptr)) {
            return 0;
        }
        return static_cast<uint32_t>(std::strtoul(text, nullptr, 10));
    }

  private:
    std::string path_;
};

// The host's side: its error into the file its parent made.
void WriteHostError(const std::string& path, DWORD error) {
    TScopedHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string text = std::to_string(error);
    DWORD count = 0;
    if (file) {
        WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &count, nullptr);
    }
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

// What the host does: the call itself, in this process. `error` is the
// loader's error when the library does not load or lacks the export.
uint32_t CallServer(const std::string& libraryPath, DWORD& error) {
    TScopedLibrary library(LoadServerLibrary(libraryPath));
    if (!library) {
        error = GetLastError();
        return kHostNotLoaded;
    }
    FARPROC proc = GetProcAddress(library.Get(), "DllUnregisterServer");
    if (proc == nullptr) {
        error = GetLastError();
        return kHostNoExport;
    }
    // The status is not examined: a server that reports failure has still
    // been asked.
    reinterpret_cast<TDllUnregisterServer>(reinterpret_cast<void*>(proc))();
    return 0;
}

std::string Seconds(uint32_t milliseconds) {
    if (milliseconds % 1000 == 0) {
        return std::to_string(milliseconds / 1000) + " seconds";
    }
    return std::to_string(milliseconds) + " milliseconds";
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

void SetServerTimeLimitForTests(uint32_t milliseconds) {
    serverTimeLimitMs = milliseconds;
}

bool RunServerHostIfAsked(int& exitCode) {
    const char* commandLine = GetCommandLineA();
    std::vector<std::string> arguments = SplitCommandLine(commandLine ? commandLine : "");
    if (arguments.size() < 4 || arguments[1] != kHostMarker) {
        return false;
    }
    RestrictLibrarySearch();
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(EndHostOnFault);
    std::string libraryPath;
    std::string errorFile;
    bool sound = FromHex(arguments[2], libraryPath) &&
                 (arguments[3] == kNoErrorFile || FromHex(arguments[3], errorFile));
    uint32_t code = kHostNotLoaded;
    DWORD error = ERROR_INVALID_PARAMETER;
    if (sound) {
        CoInitialize(nullptr);
        code = kHostException;
        try {
            code = CallServer(libraryPath, error);
        } catch (...) {
        }
        CoUninitialize();
    }
    if (!errorFile.empty() && (code == kHostNotLoaded || code == kHostNoExport)) {
        WriteHostError(errorFile, error);
    }
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

TServerCall UnregisterServer(const std::string& libraryPath) {
    TServerCall call;
    std::string program = OwnProgramPath();
    TErrorFile errorFile;
    std::string parameters;
    JoinCommandLine({kHostMarker, ToHex(libraryPath), errorFile.Argument()}, parameters);
    if (program.empty()) {
        call.error = ERROR_FILE_NOT_FOUND;
        return call;
    }
    DWORD error = ERROR_SUCCESS;
    TScopedHandle process(StartHidden(program, parameters, error));
    if (!process) {
        call.error = error;
        return call;
    }
    if (WaitForSingleObject(process.Get(), serverTimeLimitMs) == WAIT_TIMEOUT) {
        // The server hangs: its host is ended, and given a moment to go.
        // A host that ended on its own just now is read as usual.
        bool ended = TerminateProcess(process.Get(), kHostEnded) != FALSE;
        if (WaitForSingleObject(process.Get(), kEndWaitMs) != WAIT_OBJECT_0 || ended) {
            call.result = TServerCallResult::TimedOut;
            call.limitMs = serverTimeLimitMs;
            return call;
        }
    }
    DWORD exitCode = STILL_ACTIVE;
    GetExitCodeProcess(process.Get(), &exitCode);
    std::string fault = ServerFaultText(exitCode, libraryPath);
    if (!fault.empty()) {
        throw EServerFault(fault);
    }
    switch (exitCode) {
    case 0:
        call.result = TServerCallResult::Called;
        break;
    case kHostNotLoaded:
        call.result = TServerCallResult::NotLoaded;
        call.error = errorFile.Read();
        break;
    default:
        call.result = TServerCallResult::NoExport;
        call.error = errorFile.Read();
        break;
    }
    return call;
}

std::string ServerCallText(const TServerCall& call) {
    std::string text;
    switch (call.result) {
    case TServerCallResult::Called:
        return text;
    case TServerCallResult::NotLoaded:
        text = "The library did not load";
        break;
    case TServerCallResult::NoExport:
        text = "The library has no DllUnregisterServer export";
        break;
    case TServerCallResult::TimedOut:
        return "DllUnregisterServer did not finish within " + Seconds(call.limitMs) +
               "; the server was ended";
    case TServerCallResult::NotStarted:
        text = "The server host could not be started";
        break;
    }
    std::string reason = call.error != 0 ? SystemErrorText(call.error) : std::string();
    return reason.empty() ? text : text + ": " + reason;
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
