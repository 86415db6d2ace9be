// Launching programs and their process handles for the native build:
// ShellExecuteExA over posix_spawn, exit codes through waitpid.
#include "internal.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace pal {

namespace {

// Splits a parameter text the way a Windows program's start-up code splits
// its command line: blanks and tabs separate outside quotes; 2n backslashes
// before a quote give n backslashes and the quote toggles quoting; 2n+1 give
// n backslashes and a literal quote; other backslashes are literal; inside a
// quoted stretch a doubled quote gives one literal quote.
std::vector<std::string> SplitCommandLineArguments(const std::string& text) {
    std::vector<std::string> result;
    size_t i = 0;
    const size_t n = text.size();
    while (true) {
        while (i < n && (text[i] == ' ' || text[i] == '\t')) {
            ++i;
        }
        if (i >= n) {
            break;
        }
        std::string arg;
        bool quoted = false;
        while (i < n) {
            char c = text[i];
            if (!quoted && (c == ' ' || c == '\t')) {
                break;
            }
            if (c == '\\') {
                size_t count = 0;
                while (i < n && text[i] == '\\') {
                    ++count;
                    ++i;
                }
                if (i < n && text[i] == '"') {
                    arg.append(count / 2, '\\');
                    if (count % 2 == 1) {
                        arg += '"';
                        ++i;
                    }
                } else {
                    arg.append(count, '\\');
                }
                continue;
            }
            if (c == '"') {
                if (quoted && i + 1 < n && text[i + 1] == '"') {
                    arg += '"';
                    i += 2;
                    continue;
                }
                quoted = !quoted;
                ++i;
                continue;
            }
            arg += c;
            ++i;
        }
        result.push_back(arg);
    }
    return result;
}

// A started program. The exit status is collected once and kept, so the
// code stays readable after the process has been reaped.
struct ProcessObject : Object {
    pid_t pid = -1;
    bool ended = false;
    DWORD exitCode = STILL_ACTIVE;
    struct rusage usage = {}; // what the process used, once it has ended
    // Set by TerminateProcess: the code the process ends with when the kill
    // is what ended it.
    bool terminated = false;
    DWORD terminatedCode = 0;

    explicit ProcessObject(pid_t p) : pid(p) {}
    ~ProcessObject() override;

    void Record(int status) {
        ended = true;
        if (terminated && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) {
            exitCode = terminatedCode;
        } else if (WIFEXITED(status)) {
            exitCode = static_cast<DWORD>(WEXITSTATUS(status));
        } else if (WIFSIGNALED(status)) {
            // A fault ends a Windows process with the exception's code;
            // other signals end it from outside, as TerminateProcess would.
            DWORD fault = ExceptionCodeOfSignal(WTERMSIG(status));
            exitCode = fault != 0 ? fault : static_cast<DWORD>(128 + WTERMSIG(status));
        } else {
            exitCode = 1;
        }
    }
    // True when the process has ended; blocks only when asked to.
    bool Poll(bool block) {
        if (ended) {
            return true;
        }
        int status = 0;
        pid_t got;
        do {
            got = wait4(pid, &status, block ? 0 : WNOHANG, &usage);
        } while (got < 0 && errno == EINTR);
        if (got == pid) {
            Record(status);
        } else if (got < 0) {
            // Reaped elsewhere: nothing more can be learned about it.
            ended = true;
            exitCode = 0;
        }
        return ended;
    }
};

// Programs whose handle was closed (or never handed out) while they still
// ran; reaped whenever the layer next starts or closes a program.
std::vector<pid_t>& Orphans() {
    static std::vector<pid_t> orphans;
    return orphans;
}

void ReapOrphans() {
    auto& orphans = Orphans();
    for (size_t i = 0; i < orphans.size();) {
        int status = 0;
        pid_t got = waitpid(orphans[i], &status, WNOHANG);
        if (got == orphans[i] || (got < 0 && errno == ECHILD)) {
            orphans[i] = orphans.back();
            orphans.pop_back();
        } else {
            ++i;
        }
    }
}

ProcessObject::~ProcessObject() {
    if (!ended) {
        Orphans().push_back(pid);
    }
}

// The native file that a shell launch names: through the machine folder, or
// for a bare name, the current directory and then the search path.
std::string ResolveProgram(const char* file) {
    std::string native = NativePath(file);
    if (IsRegularFile(native) || HasSeparator(file)) {
        return native;
    }
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) {
            end = dirs.size();
        }
        std::string dir = dirs.substr(start, end - start);
        if (!dir.empty()) {
            std::string candidate = dir + "/" + file;
            if (IsRegularFile(candidate)) {
                return candidate;
            }
        }
        start = end + 1;
    }
    return native;
}

// The first bytes of a file, to tell programs and scripts from documents.
std::string Head(const std::string& native, size_t count) {
    std::string head;
    UniqueFd fd(open(native.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        return head;
    }
    head.resize(count);
    ssize_t got = read(fd.get(), &head[0], count);
    head.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return head;
}

// The interpreter line of a script: "#!/bin/sh -e" -> {"/bin/sh", "-e"}.
std::vector<std::string> Interpreter(const std::string& head) {
    std::vector<std::string> result;
    if (head.compare(0, 2, "#!") != 0) {
        return result;
    }
    std::string line = head.substr(2, head.find('\n') == std::string::npos ? std::string::npos
                                                                           : head.find('\n') - 2);
    size_t pos = line.find_first_not_of(" \t");
    if (pos == std::string::npos) {
        return result;
    }
    size_t end = line.find_first_of(" \t", pos);
    result.push_back(line.substr(pos, end == std::string::npos ? std::string::npos : end - pos));
    if (end != std::string::npos) {
        size_t argStart = line.find_first_not_of(" \t", end);
        if (argStart != std::string::npos) {
            size_t argEnd = line.find_last_not_of(" \t\r");
            result.push_back(line.substr(argStart, argEnd - argStart + 1));
        }
    }
    return result;
}

void FailShell(SHELLEXECUTEINFOA* info, DWORD error, uintptr_t shellCode) {
    info->hInstApp = reinterpret_cast<HINSTANCE>(shellCode);
    SetLastError(error);
}

} // namespace

} // namespace pal

BOOL WINAPI ShellExecuteExA(LPSHELLEXECUTEINFOA info) {
    using namespace pal;
    const uintptr_t kFileNotFound = 2;   // SE_ERR_FNF
    const uintptr_t kPathNotFound = 3;   // SE_ERR_PNF
    const uintptr_t kAccessDenied = 5;   // SE_ERR_ACCESSDENIED
    const uintptr_t kNoAssociation = 31; // SE_ERR_NOASSOC
    if (info == nullptr || info->cbSize != sizeof(SHELLEXECUTEINFOA)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    info->hProcess = nullptr;
    ReapOrphans();
    if (info->lpFile == nullptr || *info->lpFile == '\0') {
        FailShell(info, ERROR_FILE_NOT_FOUND, kFileNotFound);
        return FALSE;
    }
    std::string program = ResolveProgram(info->lpFile);
    struct stat st;
    if (program.empty() || stat(program.c_str(), &st) != 0) {
        FailShell(info, ERROR_FILE_NOT_FOUND, kFileNotFound);
        return FALSE;
    }
    std::string directory;
    if (info->lpDirectory != nullptr && *info->lpDirectory != '\0') {
        directory = NativePath(info->lpDirectory);
        struct stat dirStat;
        if (directory.empty() || stat(directory.c_str(), &dirStat) != 0 ||
            !S_ISDIR(dirStat.st_mode)) {
            FailShell(info, ERROR_PATH_NOT_FOUND, kPathNotFound);
            return FALSE;
        }
    }

    // Only programs and scripts are "associated"; documents and folders
    // have no handler here.
    std::string head = S_ISREG(st.st_mode) ? Head(program, 256) : std::string();
    bool executable = S_ISREG(st.st_mode) && access(program.c_str(), X_OK) == 0;
    bool elf = head.compare(0, 4,
                            "\x7f"
                            "ELF") == 0;
    std::vector<std::string> interpreter = Interpreter(head);
    if (!executable && interpreter.empty()) {
        if (elf) {
            FailShell(info, ERROR_ACCESS_DENIED, kAccessDenied);
        } else {
            FailShell(info, ERROR_NO_ASSOCIATION, kNoAssociation);
        }
        return FALSE;
    }

    std::vector<std::string> args;
    std::string target = program;
    if (!executable) {
        // A script without the execute bit is handed to its interpreter.
        args = interpreter;
        target = interpreter[0];
        args.push_back(program);
    } else {
        args.push_back(info->lpFile);
    }
    std::string parameters = info->lpParameters ? info->lpParameters : "";
    for (auto& arg : SplitCommandLineArguments(parameters)) {
        args.push_back(arg);
    }
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(&arg[0]);
    }
    argv.push_back(nullptr);

    // The child sees the command line and show mode that Windows would give
    // it, for programs that want to look (the test programs do).
    std::string commandLine = std::string("\"") + info->lpFile + "\"";
    if (!parameters.empty()) {
        commandLine += " " + parameters;
    }
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e) {
        if (std::strncmp(*e, "VANTREL_COMMAND_LINE=", 21) != 0 &&
            std::strncmp(*e, "VANTREL_SHOW=", 13) != 0) {
            env.push_back(*e);
        }
    }
    env.push_back("VANTREL_COMMAND_LINE=" + commandLine);
    env.push_back("VANTREL_SHOW=" + std::to_string(info->nShow));
    std::vector<char*> envp;
    for (auto& e : env) {
        envp.push_back(&e[0]);
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!directory.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    }
    pid_t pid = -1;
    int rc = posix_spawn(&pid, target.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        DWORD error = rc == ENOENT    ? ERROR_FILE_NOT_FOUND
                      : rc == ENOEXEC ? ERROR_BAD_EXE_FORMAT
                                      : ErrorFromErrno(rc);
        FailShell(info, error, rc == ENOENT ? kFileNotFound : kAccessDenied);
        return FALSE;
    }
    auto process = std::make_unique<ProcessObject>(pid);
    if (info->fMask & SEE_MASK_NOCLOSEPROCESS) {
        info->hProcess = AddHandle(std::move(process));
    }
    // Without the mask nobody waits: the destructor leaves the pid to be reaped.
    info->hInstApp = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(33));
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
    auto* process = pal::LookupHandleAs<pal::ProcessObject>(hProcess);
    if (process == nullptr || lpExitCode == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    process->Poll(false);
    *lpExitCode = process->ended ? process->exitCode : STILL_ACTIVE;
    return TRUE;
}

BOOL WINAPI GetProcessTimes(HANDLE hProcess, FILETIME* lpCreationTime, FILETIME* lpExitTime,
                            FILETIME* lpKernelTime, FILETIME* lpUserTime) {
    auto* process = pal::LookupHandleAs<pal::ProcessObject>(hProcess);
    if (process == nullptr || !lpCreationTime || !lpExitTime || !lpKernelTime || !lpUserTime) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Only the CPU times are known, and only once the process has ended:
    // the layer reaps its programs with wait4. Creation and exit are 0.
    process->Poll(false);
    auto toFileTime = [](const struct timeval& t, FILETIME* out) {
        uint64_t ticks =
            static_cast<uint64_t>(t.tv_sec) * 10000000u + static_cast<uint64_t>(t.tv_usec) * 10u;
        out->dwLowDateTime = static_cast<DWORD>(ticks);
        out->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    };
    *lpCreationTime = FILETIME{};
    *lpExitTime = FILETIME{};
    toFileTime(process->usage.ru_stime, lpKernelTime);
    toFileTime(process->usage.ru_utime, lpUserTime);
    return TRUE;
}

BOOL WINAPI TerminateProcess(HANDLE hProcess, UINT uExitCode) {
    auto* process = pal::LookupHandleAs<pal::ProcessObject>(hProcess);
    if (process == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (process->Poll(false)) {
        SetLastError(ERROR_ACCESS_DENIED); // it has ended already
        return FALSE;
    }
    if (kill(process->pid, SIGKILL) != 0) {
        pal::SetLastErrorFromErrno();
        return FALSE;
    }
    process->terminated = true;
    process->terminatedCode = uExitCode;
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    DWORD mutexResult = WAIT_FAILED;
    if (pal::WaitForMutex(hHandle, dwMilliseconds, mutexResult)) {
        return mutexResult;
    }
    auto* process = pal::LookupHandleAs<pal::ProcessObject>(hHandle);
    if (process == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    if (dwMilliseconds == INFINITE) {
        process->Poll(true);
        return WAIT_OBJECT_0;
    }
    // A bounded wait polls; the layer has no other waitable objects.
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    while (!process->Poll(false)) {
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        long long elapsed =
            (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000LL;
        if (elapsed >= static_cast<long long>(dwMilliseconds)) {
            return WAIT_TIMEOUT;
        }
        struct timespec pause = {0, 1000000};
        nanosleep(&pause, nullptr);
    }
    return WAIT_OBJECT_0;
}
