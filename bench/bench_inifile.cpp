// Benchmarks of the INI engine.
//
//   bench_inifile            ReadSectionValues over sections of 1,000, 10,000
//                            and 100,000 entries; entries per second and the
//                            time ratio of each tenfold step (linear: ~10).
//   bench_inifile --load     loads a generated 50 MB install log (1.2 million
//                            entries) and compares the time with a floor that
//                            only reads the file in 1 MiB blocks and counts
//                            line ends; reports the peak memory of the process.
//
// Logs are generated into the temporary folder at run time.
#include "ktIniFile.h"
#include "winapi.h"

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string TempLogPath(const std::string& name) {
    const char* tmp = getenv("TMPDIR");
    return std::string(tmp && *tmp ? tmp : "/tmp") + "/vantrel-bench-" + std::to_string(getpid()) +
           "-" + name;
}

// An install log whose section CopyFiles holds `entries` lines of the form
// "C:\Program Files\App\d123\f1234567.dll=1", every tenth name repeated
// later with another value, written in 1 MiB pieces.
void WriteLog(const std::string& path, long entries) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) {
        perror(path.c_str());
        exit(1);
    }
    std::string chunk = "[Strings]\r\n4=Remove it?\r\n\r\n[CopyFiles]\r\n";
    char line[128];
    for (long i = 0; i < entries; ++i) {
        long name = (i % 10 == 9) ? i - 9 : i;
        snprintf(line, sizeof line, "C:\\Program Files\\App\\d%03ld\\f%07ld.dll=%ld\r\n",
                 name % 1000, name, i % 10);
        chunk += line;
        if (chunk.size() >= (1u << 20)) {
            fwrite(chunk.data(), 1, chunk.size(), f);
            chunk.clear();
        }
    }
    chunk += "\r\n[RunApp]\r\nC:\\App\\done.exe=1\r\n";
    fwrite(chunk.data(), 1, chunk.size(), f);
    fclose(f);
}

// ---- ReadSectionValues -----------------------------------------------------

std::map<long, std::unique_ptr<TktIniFile>>& Engines() {
    static std::map<long, std::unique_ptr<TktIniFile>> engines;
    return engines;
}

TktIniFile& EngineFor(long entries) {
    auto& engine = Engines()[entries];
    if (!engine) {
        std::string path = TempLogPath("rsv-" + std::to_string(entries) + ".log");
        WriteLog(path, entries);
        engine = std::make_unique<TktIniFile>(path, true, true, true, true, true, true);
        unlink(path.c_str());
    }
    return *engine;
}

void BM_ReadSectionValues(benchmark::State& state) {
    TktIniFile& ini = EngineFor(state.range(0));
    int count = 0;
    for (auto _ : state) {
        TStringList pairs;
        ini.ReadSectionValues("CopyFiles", pairs);
        count = pairs.Count();
        benchmark::DoNotOptimize(count);
    }
    state.counters["distinct"] = count;
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ReadSectionValues)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.5);

// Keeps each run's time per call, for the ratios printed at the end.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            if (run.run_type == Run::RT_Iteration && !run.error_occurred) {
                double unit = benchmark::GetTimeUnitMultiplier(run.time_unit);
                seconds_.push_back(run.GetAdjustedRealTime() / unit);
                cpuSeconds_.push_back(run.GetAdjustedCPUTime() / unit);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    const std::vector<double>& Seconds() const { return seconds_; }
    const std::vector<double>& CpuSeconds() const { return cpuSeconds_; }

  private:
    std::vector<double> seconds_;
    std::vector<double> cpuSeconds_;
};

int RunReadSectionValues(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto& s = reporter.Seconds();
    const auto& c = reporter.CpuSeconds();
    const long sizes[] = {1000, 10000, 100000};
    if (s.size() == 3 && c.size() == 3) {
        printf("\nReadSectionValues (one section, every tenth name repeated):\n");
        for (int i = 0; i < 3; ++i) {
            printf("  %6ld entries: %8.3f ms per call (CPU %8.3f ms), %10.0f entries/s\n", sizes[i],
                   s[i] * 1e3, c[i] * 1e3, sizes[i] / s[i]);
        }
        printf("  ratio 10,000/1,000:   %6.2f, CPU %6.2f (linear: about 10)\n", s[1] / s[0],
               c[1] / c[0]);
        printf("  ratio 100,000/10,000: %6.2f, CPU %6.2f (linear: about 10)\n", s[2] / s[1],
               c[2] / c[1]);
    }
    benchmark::Shutdown();
    return 0;
}

// ---- Loading ---------------------------------------------------------------

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The floor: the same file through the same platform calls, read in 1 MiB
// blocks, counting carriage returns and nothing else.
long ReadFloor(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "cannot open %s\n", path.c_str());
        exit(1);
    }
    std::vector<char> buffer(1 << 20);
    long lines = 0;
    DWORD got = 0;
    while (ReadFile(h, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) &&
           got > 0) {
        lines += std::count(buffer.data(), buffer.data() + got, '\r');
    }
    CloseHandle(h);
    return lines;
}

long PeakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int RunLoad() {
    const long entries = 1200000;
    std::string path = TempLogPath("load.log");
    WriteLog(path, entries);
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    double sizeMiB = GetFileSize(h, nullptr) / 1048576.0;
    CloseHandle(h);
    long before = PeakKiB();

    double floorBest = 1e9;
    double loadBest = 1e9;
    long lines = 0;
    long peak = 0;
    std::string last;
    for (int round = 0; round < 3; ++round) {
        auto start = std::chrono::steady_clock::now();
        lines = ReadFloor(path);
        floorBest = std::min(floorBest, Seconds(start));

        start = std::chrono::steady_clock::now();
        {
            TktIniFile ini(path, true, true, true, true, true, true);
            loadBest = std::min(loadBest, Seconds(start));
            if (round == 0) {
                // Peak of the process with the whole log loaded, before any
                // query copies a section.
                peak = PeakKiB();
            }
            last = ini.ReadString("RunApp", "C:\\App\\done.exe", "missing");
        }
    }
    unlink(path.c_str());
    printf("Loading a %.1f MiB install log (%ld entries, %ld line ends; last entry read: %s):\n",
           sizeMiB, entries, lines, last.c_str());
    printf("  floor (1 MiB reads, count CR): %8.3f s\n", floorBest);
    printf("  engine load (read-only):       %8.3f s\n", loadBest);
    printf("  ratio load/floor:              %8.2f (goal: at most 5)\n", loadBest / floorBest);
    printf("  peak memory: %.1f MiB (before loading %.1f MiB), %.2f times the file size "
           "(goal: under 3)\n",
           peak / 1024.0, before / 1024.0, peak / 1024.0 / sizeMiB);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && strcmp(argv[1], "--load") == 0) {
        return RunLoad();
    }
    return RunReadSectionValues(argc, argv);
}
