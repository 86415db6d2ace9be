// The Restart Manager over the machine's real processes: a session keeps the
// files registered with it (by device and inode, so that any name of a file
// matches) and the processes; RmGetList looks through /proc for the
// processes that have one of the files open (fd) or mapped (maps), and
// RmShutdown asks them to end (SIGTERM) and, when forced, ends them after a
// time limit (SIGKILL). The program's own process is never listed.
#include "internal.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// As on Windows: a session count limit, and how long a shutdown waits for
// the processes asked to end (VANTREL_SHUTDOWN_WAIT_MS shortens it for
// tests) and for those ended by force.
const size_t kMaxSessions = 64;
const std::chrono::milliseconds kForceWait(3000);

std::chrono::milliseconds AskWait() {
    const char* text = std::getenv("VANTREL_SHUTDOWN_WAIT_MS");
    long value = text ? std::strtol(text, nullptr, 10) : 0;
    return std::chrono::milliseconds(value > 0 ? value : 5000);
}

using FileId = std::pair<unsigned long long, unsigned long long>; // device, inode

struct Session {
    std::set<FileId> files;
    std::vector<RM_UNIQUE_PROCESS> processes;
};

std::mutex sessionsLock;
std::map<DWORD, Session> sessions;
DWORD nextSession = 1;

bool SameStart(const FILETIME& a, const FILETIME& b) {
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The process's start as a FILETIME (from its start in clock ticks after
// boot), and whether it is still running: a zombie has ended.
bool ProcessStart(pid_t pid, FILETIME& start) {
    std::string stat = ReadWhole("/proc/" + std::to_string(pid) + "/stat");
    size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return false;
    }
    std::istringstream fields(stat.substr(close + 2));
    std::string state;
    fields >> state;
    if (state == "Z" || state == "X") {
        return false;
    }
    std::string skip;
    for (int i = 0; i < 18; ++i) { // fields 4 to 21
        fields >> skip;
    }
    unsigned long long ticks = 0;
    fields >> ticks;
    static const unsigned long long bootSeconds = [] {
        std::istringstream lines(ReadWhole("/proc/stat"));
        std::string line;
        while (std::getline(lines, line)) {
            if (line.compare(0, 6, "btime ") == 0) {
                return std::strtoull(line.c_str() + 6, nullptr, 10);
            }
        }
        return 0ULL;
    }();
    const unsigned long long hz = static_cast<unsigned long long>(sysconf(_SC_CLK_TCK));
    const unsigned long long windowsEpoch = 116444736000000000ULL; // 1601 to 1970
    unsigned long long value =
        windowsEpoch + bootSeconds * 10000000ULL + ticks * (10000000ULL / (hz ? hz : 100));
    start.dwLowDateTime = static_cast<DWORD>(value);
    start.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return true;
}

bool StillRunning(const RM_UNIQUE_PROCESS& process) {
    FILETIME now;
    return ProcessStart(static_cast<pid_t>(process.dwProcessId), now) &&
           SameStart(now, process.ProcessStartTime);
}

bool HoldsOpen(const std::string& procDir, const std::set<FileId>& files) {
    std::string fdDir = procDir + "/fd";
    pal::UniqueDir dir(opendir(fdDir.c_str()));
    if (!dir) {
        return false;
    }
    while (dirent* entry = readdir(dir.get())) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        struct stat info;
        if (stat((fdDir + "/" + entry->d_name).c_str(), &info) == 0 &&
            files.count(FileId(info.st_dev, info.st_ino)) != 0) {
            return true;
        }
    }
    return false;
}

// maps lines: "address perms offset MAJOR:MINOR inode path".
bool HoldsMapped(const std::string& procDir, const std::set<FileId>& files) {
    std::ifstream maps(procDir + "/maps");
    std::string line;
    while (std::getline(maps, line)) {
        unsigned int major = 0;
        unsigned int minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(line.c_str(), "%*s %*s %*s %x:%x %llu", &major, &minor, &inode) == 3 &&
            inode != 0 && files.count(FileId(makedev(major, minor), inode)) != 0) {
            return true;
        }
    }
    return false;
}

void SetAppName(RM_PROCESS_INFO& info, pid_t pid) {
    std::string procDir = "/proc/" + std::to_string(pid);
    std::string name;
    char target[4096];
    ssize_t length = readlink((procDir + "/exe").c_str(), target, sizeof target - 1);
    if (length > 0) {
        target[length] = '\0';
        name = target;
        const char deleted[] = " (deleted)";
        if (name.size() > sizeof deleted - 1 &&
            name.compare(name.size() - (sizeof deleted - 1), std::string::npos, deleted) == 0) {
            name.erase(name.size() - (sizeof deleted - 1));
        }
        name = name.substr(name.find_last_of('/') + 1);
    } else {
        name = ReadWhole(procDir + "/comm");
        while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) {
            name.pop_back();
        }
    }
    int written =
        MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, info.strAppName, CCH_RM_MAX_APP_NAME + 1);
    if (written == 0) {
        info.strAppName[CCH_RM_MAX_APP_NAME] = 0;
    }
}

// The processes of the machine, other than this one, that hold one of the
// session's files, and the session's registered processes that still run.
std::vector<RM_PROCESS_INFO> Holders(const Session& session, DWORD& reasons) {
    std::vector<RM_PROCESS_INFO> found;
    const pid_t self = getpid();
    auto add = [&](pid_t pid, const FILETIME& start) {
        RM_PROCESS_INFO info;
        std::memset(&info, 0, sizeof info);
        info.Process.dwProcessId = static_cast<DWORD>(pid);
        info.Process.ProcessStartTime = start;
        SetAppName(info, pid);
        info.ApplicationType = RmConsole;
        info.AppStatus = RmStatusRunning;
        found.push_back(info);
    };
    std::set<pid_t> listed;
    if (!session.files.empty()) {
        pal::UniqueDir all(opendir("/proc"));
        while (all) {
            dirent* entry = readdir(all.get());
            if (entry == nullptr) {
                break;
            }
            char* end = nullptr;
            long pid = std::strtol(entry->d_name, &end, 10);
            if (pid <= 0 || *end != '\0') {
                continue;
            }
            std::string procDir = std::string("/proc/") + entry->d_name;
            if (!HoldsOpen(procDir, session.files) && !HoldsMapped(procDir, session.files)) {
                continue;
            }
            if (pid == self) {
                reasons |= RmRebootReasonDetectedSelf;
                continue;
            }
            FILETIME start;
            if (ProcessStart(static_cast<pid_t>(pid), start)) {
                add(static_cast<pid_t>(pid), start);
                listed.insert(static_cast<pid_t>(pid));
            }
        }
    }
    for (const RM_UNIQUE_PROCESS& process : session.processes) {
        pid_t pid = static_cast<pid_t>(process.dwProcessId);
        if (pid != self && listed.count(pid) == 0 && StillRunning(process)) {
            add(pid, process.ProcessStartTime);
            listed.insert(pid);
        }
    }
    return found;
}

// Waits until none of the processes runs or the time is up; true when none does.
bool WaitEnded(const std::vector<RM_PROCESS_INFO>& processes, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        bool running = false;
        for (const RM_PROCESS_INFO& info : processes) {
            running = running || StillRunning(info.Process);
        }
        if (!running) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void Signal(const std::vector<RM_PROCESS_INFO>& processes, int signalNumber) {
    for (const RM_PROCESS_INFO& info : processes) {
        if (StillRunning(info.Process)) {
            kill(static_cast<pid_t>(info.Process.dwProcessId), signalNumber);
        }
    }
}

// A copy of an open session, taken under the lock so that the processes are
// looked at without holding it, and the processes that hold its files;
// false when the handle names no session.
bool SessionHolders(DWORD handle, Session& session, std::vector<RM_PROCESS_INFO>& holders,
                    DWORD& reasons) {
    {
        std::lock_guard<std::mutex> guard(sessionsLock);
        auto found = sessions.find(handle);
        if (found == sessions.end()) {
            return false;
        }
        session = found->second;
    }
    reasons = RmRebootReasonNone;
    holders = Holders(session, reasons);
    return true;
}

} // namespace

DWORD WINAPI RmStartSession(DWORD* pSessionHandle, DWORD dwSessionFlags, WCHAR strSessionKey[]) {
    if (pSessionHandle == nullptr || strSessionKey == nullptr || dwSessionFlags != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    std::lock_guard<std::mutex> guard(sessionsLock);
    if (sessions.size() >= kMaxSessions) {
        return ERROR_MAX_SESSIONS_REACHED;
    }
    DWORD handle = nextSession++;
    sessions[handle] = Session();
    char key[CCH_RM_SESSION_KEY + 1];
    std::snprintf(key, sizeof key, "%08x%08x%016llx", static_cast<unsigned>(getpid()),
                  static_cast<unsigned>(handle),
                  static_cast<unsigned long long>(
                      std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int i = 0; i <= CCH_RM_SESSION_KEY; ++i) {
        strSessionKey[i] = static_cast<WCHAR>(static_cast<unsigned char>(key[i]));
    }
    *pSessionHandle = handle;
    return ERROR_SUCCESS;
}

DWORD WINAPI RmEndSession(DWORD dwSessionHandle) {
    std::lock_guard<std::mutex> guard(sessionsLock);
    return sessions.erase(dwSessionHandle) != 0 ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

DWORD WINAPI RmRegisterResources(DWORD dwSessionHandle, UINT nFiles, LPCWSTR rgsFileNames[],
                                 UINT nApplications, RM_UNIQUE_PROCESS rgApplications[],
                                 UINT nServices, LPCWSTR rgsServiceNames[]) {
    if ((nFiles != 0 && rgsFileNames == nullptr) ||
        (nApplications != 0 && rgApplications == nullptr) ||
        (nServices != 0 && rgsServiceNames == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    std::lock_guard<std::mutex> guard(sessionsLock);
    auto found = sessions.find(dwSessionHandle);
    if (found == sessions.end()) {
        return ERROR_INVALID_HANDLE;
    }
    Session& session = found->second;
    std::vector<char> name;
    for (UINT i = 0; i < nFiles; ++i) {
        if (rgsFileNames[i] == nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        int length =
            WideCharToMultiByte(CP_ACP, 0, rgsFileNames[i], -1, nullptr, 0, nullptr, nullptr);
        name.assign(static_cast<size_t>(length > 0 ? length : 1), '\0');
        WideCharToMultiByte(CP_ACP, 0, rgsFileNames[i], -1, name.data(), length, nullptr, nullptr);
        // A file that does not exist is registered too, and matches nothing.
        struct stat info;
        if (stat(pal::NativePath(name.data()).c_str(), &info) == 0) {
            session.files.insert(FileId(info.st_dev, info.st_ino));
        }
    }
    // Services do not exist on this machine: registered, they match nothing.
    session.processes.insert(session.processes.end(), rgApplications,
                             rgApplications + nApplications);
    return ERROR_SUCCESS;
}

DWORD WINAPI RmGetList(DWORD dwSessionHandle, UINT* pnProcInfoNeeded, UINT* pnProcInfo,
                       RM_PROCESS_INFO rgAffectedApps[], LPDWORD lpdwRebootReasons) {
    if (pnProcInfoNeeded == nullptr || pnProcInfo == nullptr || lpdwRebootReasons == nullptr ||
        (*pnProcInfo != 0 && rgAffectedApps == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    Session session;
    std::vector<RM_PROCESS_INFO> holders;
    DWORD reasons = RmRebootReasonNone;
    if (!SessionHolders(dwSessionHandle, session, holders, reasons)) {
        return ERROR_INVALID_HANDLE;
    }
    *lpdwRebootReasons = reasons;
    *pnProcInfoNeeded = static_cast<UINT>(holders.size());
    if (*pnProcInfo < holders.size()) {
        *pnProcInfo = 0;
        return ERROR_MORE_DATA;
    }
    for (size_t i = 0; i < holders.size(); ++i) {
        rgAffectedApps[i] = holders[i];
    }
    *pnProcInfo = static_cast<UINT>(holders.size());
    return ERROR_SUCCESS;
}

DWORD WINAPI RmShutdown(DWORD dwSessionHandle, ULONG lActionFlags,
                        RM_WRITE_STATUS_CALLBACK fnStatus) {
    if ((lActionFlags & ~static_cast<ULONG>(RmForceShutdown | RmShutdownOnlyRegistered)) != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    Session session;
    std::vector<RM_PROCESS_INFO> holders;
    DWORD reasons = RmRebootReasonNone;
    if (!SessionHolders(dwSessionHandle, session, holders, reasons)) {
        return ERROR_INVALID_HANDLE;
    }
    if (lActionFlags & RmShutdownOnlyRegistered) {
        for (const RM_PROCESS_INFO& info : holders) {
            bool registered = false;
            for (const RM_UNIQUE_PROCESS& process : session.processes) {
                registered = registered || process.dwProcessId == info.Process.dwProcessId;
            }
            if (!registered) {
                return ERROR_FAIL_SHUTDOWN;
            }
        }
    }
    Signal(holders, SIGTERM);
    bool ended = WaitEnded(holders, AskWait());
    if (!ended && (lActionFlags & RmForceShutdown)) {
        Signal(holders, SIGKILL);
        ended = WaitEnded(holders, kForceWait);
    }
    if (fnStatus != nullptr) {
        fnStatus(100);
    }
    return ended ? ERROR_SUCCESS : ERROR_FAIL_SHUTDOWN;
}
