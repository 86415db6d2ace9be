// Times an uninstall of a generated installation, phase by phase, against a
// baseline that makes only the bare deletion calls (DeleteFileA,
// RegDeleteValueA, RegDeleteKeyA, RemoveDirectoryA) on the same machine
// state, laid out afresh before each side. Built for both targets; run
// natively and under Wine by bench/run_uninstall_bench.sh.
//
//   bench_uninstall [--rounds=N] [--files=N] [--dirs=N] [--values=N] [--keys=N] [--shared=N]
//                   [--program=UNINSTALLER [--against=OTHER]] [--server-stat=FILE]
//
// The shared files' counters are 1 and the question is answered "Yes to all"
// through the test seam, so they are removed too.
//
// With --program the uninstaller itself is timed instead, as a process on
// the same installation: "/S /SHARED=REMOVE" against the same with
// "/LOG=FILE", the sides taking turns at going first; the ratio is the
// report's cost. With --against as well, the two programs and the bare
// deletion calls take turns, and each program is measured against those
// calls (for comparing two builds of the uninstaller). --server-stat names
// the Wine server's /proc stat file (as Z:\proc\PID\stat) so that its CPU
// time is counted too.
#include "UnVantrel.h"
#include "ktRegIni.h"
#include "ktIniCache.h"
#include "ktHandle.h"
#include "ktShell.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

const char kSharedDlls[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

struct Sizes {
    int files = 20000;
    int dirs = 400;
    int values = 5000;
    int keys = 500;
    int shared = 200;
    int rounds = 1;
};

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

std::string Number(int n, int width) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%0*d", width, n);
    return buffer;
}

// The installation: folders two levels deep (top folders each holding
// subfolders), files spread evenly over all folders, values spread over
// value keys, and a key tree of parents and children.
struct Installation {
    std::string root;               // "C:\...\vt-bench-<pid>\" (trailing backslash)
    std::string regBase;            // "Software\VantrelBench-<pid>" below HKCU
    std::vector<std::string> dirs;  // parents before children
    std::vector<std::string> files; // full paths
    std::vector<std::string> shared;
    std::vector<std::string> valueKeys; // subkeys below HKCU
    std::vector<std::vector<std::string>> valueNames;
    std::vector<std::string> keys; // subkeys below HKCU, parents before children
    std::string log;

    explicit Installation(const Sizes& sizes) {
        char temp[MAX_PATH + 1] = {};
        GetTempPathA(sizeof temp, temp);
        root = temp;
        if (root.empty() || root.back() != '\\') {
            root += '\\';
        }
        root += "vt-bench-" + std::to_string(GetCurrentProcessId()) + "\\";
        regBase = "Software\\VantrelBench-" + std::to_string(GetCurrentProcessId());
        log = root + "install.log";

        int tops = std::max(1, sizes.dirs / 20);
        int perTop = std::max(0, sizes.dirs / tops - 1);
        for (int t = 0; t < tops && static_cast<int>(dirs.size()) < sizes.dirs; ++t) {
            std::string top = root + "App\\Part" + Number(t, 3);
            dirs.push_back(top);
            for (int s = 0; s < perTop && static_cast<int>(dirs.size()) < sizes.dirs; ++s) {
                dirs.push_back(top + "\\Sub" + Number(s, 3));
            }
        }
        for (int f = 0; f < sizes.files; ++f) {
            files.push_back(dirs[f % dirs.size()] + "\\file" + Number(f, 5) + ".dat");
        }
        int step = sizes.shared > 0 ? std::max(1, sizes.files / sizes.shared) : 0;
        for (int s = 0; s < sizes.shared && s * step < sizes.files; ++s) {
            shared.push_back(files[s * step]);
        }
        int perKey = 100;
        for (int v = 0; v < sizes.values; ++v) {
            if (v % perKey == 0) {
                valueKeys.push_back(regBase + "\\Values\\V" + Number(v / perKey, 3));
                valueNames.emplace_back();
            }
            valueNames.back().push_back("Value" + Number(v, 5));
        }
        int parents = std::max(1, sizes.keys / 20);
        int children = sizes.keys / parents - 1;
        for (int p = 0; p < parents && static_cast<int>(keys.size()) < sizes.keys; ++p) {
            std::string parent = regBase + "\\Keys\\P" + Number(p, 3);
            keys.push_back(parent);
            for (int c = 0; c < children && static_cast<int>(keys.size()) < sizes.keys; ++c) {
                keys.push_back(parent + "\\C" + Number(c, 3));
            }
        }
    }

    bool LayOut() const {
        CreateDirectoryA(root.c_str(), nullptr);
        CreateDirectoryA((root + "App").c_str(), nullptr);
        for (const auto& dir : dirs) {
            if (!CreateDirectoryA(dir.c_str(), nullptr)) {
                std::fprintf(stderr, "cannot create %s\n", dir.c_str());
                return false;
            }
        }
        for (const auto& file : files) {
            HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h == INVALID_HANDLE_VALUE) {
                std::fprintf(stderr, "cannot create %s\n", file.c_str());
                return false;
            }
            CloseHandle(h);
        }
        DWORD one = 1;
        for (size_t k = 0; k < valueKeys.size(); ++k) {
            HKEY key = nullptr;
            if (RegCreateKeyA(HKEY_CURRENT_USER, valueKeys[k].c_str(), &key) != ERROR_SUCCESS) {
                return false;
            }
            for (const auto& name : valueNames[k]) {
                RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&one),
                               sizeof one);
            }
            RegCloseKey(key);
        }
        for (const auto& subKey : keys) {
            HKEY key = nullptr;
            if (RegCreateKeyA(HKEY_CURRENT_USER, subKey.c_str(), &key) != ERROR_SUCCESS) {
                return false;
            }
            RegCloseKey(key);
        }
        HKEY counters = nullptr;
        if (RegCreateKeyA(HKEY_LOCAL_MACHINE, kSharedDlls, &counters) != ERROR_SUCCESS) {
            return false;
        }
        for (const auto& file : shared) {
            RegSetValueExA(counters, file.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&one),
                           sizeof one);
        }
        RegCloseKey(counters);
        return WriteLog();
    }

    bool WriteLog() const {
        std::string text = "[SharedFiles]\r\n";
        for (const auto& file : shared) {
            text += file + "=1\r\n";
        }
        text += "[AddReg]\r\n";
        for (size_t k = 0; k < valueKeys.size(); ++k) {
            for (const auto& name : valueNames[k]) {
                text += "HKCU\\" + valueKeys[k] + "\\" + name + "=1\r\n";
            }
        }
        text += "[CreateKeys]\r\n";
        for (const auto& key : keys) {
            text += "HKCU\\" + key + "=\r\n";
        }
        text += "[CopyFiles]\r\n";
        for (const auto& file : files) {
            text += file + "=1\r\n";
        }
        text += "[CreateDirs]\r\n";
        text += root + "App=\r\n";
        for (const auto& dir : dirs) {
            text += dir + "=\r\n";
        }
        HANDLE h = CreateFileA(log.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            return false;
        }
        DWORD written = 0;
        BOOL ok = WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(h);
        return ok && written == text.size();
    }

    // What is left of the installation: files, folders, values, keys, counters.
    int Leftovers() const {
        int left = 0;
        for (const auto& file : files) {
            left += GetFileAttributesA(file.c_str()) != INVALID_FILE_ATTRIBUTES;
        }
        for (const auto& dir : dirs) {
            left += GetFileAttributesA(dir.c_str()) != INVALID_FILE_ATTRIBUTES;
        }
        left += GetFileAttributesA(log.c_str()) != INVALID_FILE_ATTRIBUTES;
        for (size_t k = 0; k < valueKeys.size(); ++k) {
            HKEY key = nullptr;
            if (RegOpenKeyA(HKEY_CURRENT_USER, valueKeys[k].c_str(), &key) == ERROR_SUCCESS) {
                for (const auto& name : valueNames[k]) {
                    left += RegQueryValueExA(key, name.c_str(), nullptr, nullptr, nullptr,
                                             nullptr) == ERROR_SUCCESS;
                }
                RegCloseKey(key);
            }
        }
        for (const auto& subKey : keys) {
            HKEY key = nullptr;
            if (RegOpenKeyA(HKEY_CURRENT_USER, subKey.c_str(), &key) == ERROR_SUCCESS) {
                ++left;
                RegCloseKey(key);
            }
        }
        HKEY counters = nullptr;
        if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kSharedDlls, &counters) == ERROR_SUCCESS) {
            for (const auto& file : shared) {
                left += RegQueryValueExA(counters, file.c_str(), nullptr, nullptr, nullptr,
                                         nullptr) == ERROR_SUCCESS;
            }
            RegCloseKey(counters);
        }
        return left;
    }

    // Removes whatever the timed side left, so the next layout starts clean.
    void Clear() const {
        for (const auto& file : files) {
            DeleteFileA(file.c_str());
        }
        DeleteFileA(log.c_str());
        for (auto dir = dirs.rbegin(); dir != dirs.rend(); ++dir) {
            RemoveDirectoryA(dir->c_str());
        }
        RemoveDirectoryA((root + "App").c_str());
        RemoveDirectoryA(root.c_str());
        DeleteRegKey("HKCU\\" + regBase);
        HKEY counters = nullptr;
        if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kSharedDlls, &counters) == ERROR_SUCCESS) {
            for (const auto& file : shared) {
                RegDeleteValueA(counters, file.c_str());
            }
            RegCloseKey(counters);
        }
    }
};

struct Timing {
    std::vector<std::pair<std::string, double>> steps;
    double Total() const {
        double total = 0;
        for (const auto& step : steps) {
            total += step.second;
        }
        return total;
    }
    void Time(const std::string& name, const std::function<void()>& work) {
        auto start = Clock::now();
        work();
        steps.emplace_back(name, Seconds(start, Clock::now()));
    }
    void Print(const char* title) const {
        std::printf("  %-9s", title);
        for (const auto& step : steps) {
            std::printf(" %s %.3f", step.first.c_str(), step.second);
        }
        std::printf(" | total %.3f s\n", Total());
    }
};

int YesToAll(const std::string&) {
    return 10;
}

Timing RunBaseline(const Installation& inst) {
    Timing timing;
    timing.Time("counters", [&] {
        HKEY counters = nullptr;
        if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kSharedDlls, &counters) == ERROR_SUCCESS) {
            for (const auto& file : inst.shared) {
                RegDeleteValueA(counters, file.c_str());
            }
            RegCloseKey(counters);
        }
    });
    timing.Time("values", [&] {
        for (size_t k = 0; k < inst.valueKeys.size(); ++k) {
            HKEY key = nullptr;
            if (RegOpenKeyA(HKEY_CURRENT_USER, inst.valueKeys[k].c_str(), &key) == ERROR_SUCCESS) {
                for (const auto& name : inst.valueNames[k]) {
                    RegDeleteValueA(key, name.c_str());
                }
                RegCloseKey(key);
            }
        }
    });
    timing.Time("keys", [&] {
        for (auto key = inst.keys.rbegin(); key != inst.keys.rend(); ++key) {
            RegDeleteKeyA(HKEY_CURRENT_USER, key->c_str());
        }
    });
    timing.Time("files", [&] {
        for (const auto& file : inst.files) {
            DeleteFileA(file.c_str());
        }
    });
    timing.Time("dirs", [&] {
        DeleteFileA(inst.log.c_str());
        for (auto dir = inst.dirs.rbegin(); dir != inst.dirs.rend(); ++dir) {
            RemoveDirectoryA(dir->c_str());
        }
        RemoveDirectoryA((inst.root + "App").c_str());
    });
    return timing;
}

Timing RunPhases(const Installation& inst) {
    FreeIniFiles();
    InstallLogPath = inst.log;
    ProgressWindow = nullptr;
    SectionEntries.Clear();
    KeptSharedFiles.Clear();
    AskRemoveSharedFileHook = YesToAll;
    Timing timing;
    // The first read of the log (the run's confirmation text) loads it.
    timing.Time("load", [] { GetMessageText(4); });
    for (const TPhase& phase : RemovalPhases()) {
        timing.Time(phase.section, [&phase] { RunPhase(phase); });
    }
    FreeIniFiles();
    return timing;
}

// Starts the program with the parameters and waits for its end; the exit
// code, or -1 when it cannot be started, and the CPU seconds the process
// used (user and kernel). The shell is the one launch call both builds have.
int RunAndWait(const std::string& program, const std::string& parameters, double& cpu) {
    cpu = 0;
    DWORD error = ERROR_SUCCESS;
    TScopedHandle process(StartHidden(program, parameters, error));
    if (!process) {
        return -1;
    }
    DWORD code = STILL_ACTIVE;
    while (GetExitCodeProcess(process.Get(), &code) && code == STILL_ACTIVE) {
        Sleep(1);
    }
    FILETIME created, exited, kernel, user;
    if (GetProcessTimes(process.Get(), &created, &exited, &kernel, &user)) {
        auto seconds = [](const FILETIME& t) {
            return ((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
        };
        cpu = seconds(kernel) + seconds(user);
    }
    return static_cast<int>(code);
}

// The CPU seconds a process has used so far, read from its /proc stat file
// (under Wine through Z:, for the Wine server); 0 when there is none.
double ProcStatCpu(const std::string& statFile) {
    if (statFile.empty()) {
        return 0;
    }
    HANDLE file = CreateFileA(statFile.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    char buffer[1024] = {};
    DWORD got = 0;
    ReadFile(file, buffer, sizeof buffer - 1, &got, nullptr);
    CloseHandle(file);
    // utime and stime are the 14th and 15th fields, after the name in ().
    const char* p = std::strrchr(buffer, ')');
    unsigned long long ticks[2] = {0, 0};
    for (int field = 3; p && field <= 15; ++field) {
        p = std::strchr(p + 1, ' ');
        if (p && field >= 14) {
            ticks[field - 14] = std::strtoull(p + 1, nullptr, 10);
        }
    }
    return (ticks[0] + ticks[1]) / 100.0; // USER_HZ
}

// One side of a comparison: a program run as "LOG /S /SHARED=REMOVE" (with
// /LOG=FILE when it writes the report), or, with no program, the bare
// deletion calls made here: the floor that the others are measured against.
struct Side {
    std::string name;
    std::string program;
    bool writesReport = false;
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Times each side on the same installation, laid out afresh before each, the
// sides taking turns at going first. Ratios are to the floor when there is
// one, otherwise to the first side. Returns the process exit code.
int CompareSides(const Installation& inst, const std::vector<Side>& sides, int rounds,
                 const std::string& serverStat) {
    std::string report = inst.root.substr(0, inst.root.size() - 1) + "-report.jsonl";
    const size_t n = sides.size();
    size_t reference = 0;
    for (size_t k = 0; k < n; ++k) {
        if (sides[k].program.empty()) {
            reference = k;
        }
    }
    std::vector<double> sums(n), best(n), cpuSums(n), serverSums(n);
    std::vector<std::vector<double>> ratios(n);
    int failures = 0;
    for (int round = 1; round <= rounds; ++round) {
        std::vector<double> seconds(n);
        for (size_t turn = 0; turn < n; ++turn) {
            size_t k = (turn + static_cast<size_t>(round)) % n;
            const Side& side = sides[k];
            inst.Clear();
            DeleteFileA(report.c_str());
            if (!inst.LayOut()) {
                std::fprintf(stderr, "cannot lay out the installation\n");
                inst.Clear();
                return 2;
            }
            int code = 0;
            double cpu = 0;
            double server = ProcStatCpu(serverStat);
            auto start = Clock::now();
            if (side.program.empty()) {
                RunBaseline(inst);
            } else {
                std::string parameters = "\"" + inst.log + "\" /S /SHARED=REMOVE";
                if (side.writesReport) {
                    parameters += " \"/LOG=" + report + "\"";
                }
                code = RunAndWait(side.program, parameters, cpu);
            }
            seconds[k] = Seconds(start, Clock::now());
            serverSums[k] += ProcStatCpu(serverStat) - server;
            cpuSums[k] += cpu;
            int left = inst.Leftovers();
            bool reported = GetFileAttributesA(report.c_str()) != INVALID_FILE_ATTRIBUTES;
            if (code != 0 || left != 0 || reported != side.writesReport) {
                std::printf("  %s: exit %d, %d left behind, report %s\n", side.name.c_str(), code,
                            left, reported ? "written" : "missing");
                ++failures;
            }
        }
        std::printf("round %d:", round);
        for (size_t k = 0; k < n; ++k) {
            std::printf(" %s %.3f s", sides[k].name.c_str(), seconds[k]);
            sums[k] += seconds[k];
            best[k] = round == 1 ? seconds[k] : std::min(best[k], seconds[k]);
            ratios[k].push_back(seconds[reference] > 0 ? seconds[k] / seconds[reference] : 0.0);
        }
        std::printf("\n");
    }
    inst.Clear();
    DeleteFileA(report.c_str());
    // On a busy machine one slow round moves the sums, the median does not;
    // and a machine's noise only ever adds time, so each side's fastest
    // round is the closest to its own cost.
    for (size_t k = 0; k < n; ++k) {
        if (k == reference) {
            continue;
        }
        std::printf("%s against %s over %d rounds: pooled %.3f, median %.3f, best rounds %.3f "
                    "(%.3f s against %.3f s)\n",
                    sides[k].name.c_str(), sides[reference].name.c_str(), rounds,
                    sums[reference] > 0 ? sums[k] / sums[reference] : 0.0, Median(ratios[k]),
                    best[reference] > 0 ? best[k] / best[reference] : 0.0, best[k],
                    best[reference]);
    }
    for (size_t k = 0; k < n; ++k) {
        std::printf("%s: wall %.3f s, program CPU %.3f s, server CPU %.3f s (all rounds)\n",
                    sides[k].name.c_str(), sums[k], cpuSums[k], serverSums[k]);
    }
    return failures == 0 ? 0 : 1;
}

int ArgValue(const char* arg, const char* name, int current) {
    size_t length = std::strlen(name);
    return std::strncmp(arg, name, length) == 0 ? std::atoi(arg + length) : current;
}

} // namespace

int main(int argc, char** argv) {
    Sizes sizes;
    std::string program;
    std::string against;
    std::string serverStat;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--program=", 10) == 0) {
            program = argv[i] + 10;
        }
        if (std::strncmp(argv[i], "--against=", 10) == 0) {
            against = argv[i] + 10;
        }
        if (std::strncmp(argv[i], "--server-stat=", 14) == 0) {
            serverStat = argv[i] + 14;
        }
        sizes.rounds = ArgValue(argv[i], "--rounds=", sizes.rounds);
        sizes.files = ArgValue(argv[i], "--files=", sizes.files);
        sizes.dirs = ArgValue(argv[i], "--dirs=", sizes.dirs);
        sizes.values = ArgValue(argv[i], "--values=", sizes.values);
        sizes.keys = ArgValue(argv[i], "--keys=", sizes.keys);
        sizes.shared = ArgValue(argv[i], "--shared=", sizes.shared);
    }
    ModuleHandle = GetModuleHandleA(nullptr);
    Installation inst(sizes);
    std::printf("bench_uninstall: %zu files in %zu directories, %d values, %zu keys, %zu shared "
                "files\n",
                inst.files.size(), inst.dirs.size(), sizes.values, inst.keys.size(),
                inst.shared.size());
    if (!program.empty() && !against.empty()) {
        return CompareSides(inst, {{"program", program}, {"against", against}, {"bare calls", ""}},
                            sizes.rounds, serverStat);
    }
    if (!program.empty()) {
        return CompareSides(inst, {{"without /LOG", program}, {"with /LOG", program, true}},
                            sizes.rounds, serverStat);
    }
    double bestBaseline = 0;
    double bestPhases = 0;
    double sumBaseline = 0;
    double sumPhases = 0;
    int failures = 0;
    for (int round = 1; round <= sizes.rounds; ++round) {
        std::printf("round %d\n", round);
        // The sides take turns at going first, so neither always meets the
        // file system fresh.
        Timing baseline;
        Timing phases;
        int left = 0;
        int leftByPhases = 0;
        for (int side = 0; side < 2; ++side) {
            bool baselineNow = (side == 0) == (round % 2 == 1);
            inst.Clear();
            if (!inst.LayOut()) {
                std::fprintf(stderr, "cannot lay out the installation\n");
                inst.Clear();
                return 2;
            }
            if (baselineNow) {
                baseline = RunBaseline(inst);
                left = inst.Leftovers();
            } else {
                phases = RunPhases(inst);
                leftByPhases = inst.Leftovers();
            }
        }
        baseline.Print("baseline");
        phases.Print("phases");
        std::printf("  ratio %.2f\n", phases.Total() / baseline.Total());
        sumBaseline += baseline.Total();
        sumPhases += phases.Total();
        if (left != 0 || leftByPhases != 0) {
            std::printf("  left behind: baseline %d, phases %d\n", left, leftByPhases);
            ++failures;
        }
        if (round == 1 || baseline.Total() < bestBaseline) {
            bestBaseline = baseline.Total();
        }
        if (round == 1 || phases.Total() < bestPhases) {
            bestPhases = phases.Total();
        }
    }
    inst.Clear();
    std::printf("best total: phases %.3f s, baseline %.3f s, ratio %.2f\n", bestPhases,
                bestBaseline, bestBaseline > 0 ? bestPhases / bestBaseline : 0.0);
    std::printf("all rounds: phases %.3f s, baseline %.3f s, ratio %.2f\n", sumPhases, sumBaseline,
                sumBaseline > 0 ? sumPhases / sumBaseline : 0.0);
    return failures == 0 ? 0 : 1;
}
