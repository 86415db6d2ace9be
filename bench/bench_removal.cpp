// RemoveFile tries the deletion first and resets the attributes only when it
// is refused. Baseline: attributes reset first, then the deletion, for every
// file. Both delete the same batches of plain files, created untimed.
#include "ktFileUtilsRemoval.h"
#include "winapi.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

const int kBatch = 200;

std::string BenchFolder() {
    char temp[MAX_PATH + 1] = {};
    GetTempPathA(sizeof temp, temp);
    std::string folder = std::string(temp) + "vantrel-bench-removal";
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder + "\\";
}

std::vector<std::string> MakeFiles(const std::string& folder, DWORD attributes) {
    std::vector<std::string> paths;
    for (int i = 0; i < kBatch; ++i) {
        std::string path = folder + "f" + std::to_string(i) + ".dat";
        HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            CloseHandle(h);
        }
        if (attributes != FILE_ATTRIBUTE_NORMAL) {
            SetFileAttributesA(path.c_str(), attributes);
        }
        paths.push_back(path);
    }
    return paths;
}

bool AttributesFirst(const std::string& path) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(path.c_str()) != FALSE;
}

template <bool (*Remove)(const std::string&)> void BM_Remove(benchmark::State& state) {
    std::string folder = BenchFolder();
    DWORD attributes = static_cast<DWORD>(state.range(0));
    int failures = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<std::string> paths = MakeFiles(folder, attributes);
        state.ResumeTiming();
        for (const auto& path : paths) {
            failures += Remove(path) ? 0 : 1;
        }
    }
    if (failures != 0) {
        state.SkipWithError("a file was not deleted");
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    RemoveDirectoryA(folder.substr(0, folder.size() - 1).c_str());
}

bool RemoveFileOnce(const std::string& path) {
    return RemoveFile(path);
}

BENCHMARK_TEMPLATE(BM_Remove, AttributesFirst)
    ->Name("baseline_attributes_first")
    ->Arg(FILE_ATTRIBUTE_NORMAL)
    ->Arg(FILE_ATTRIBUTE_READONLY);
BENCHMARK_TEMPLATE(BM_Remove, RemoveFileOnce)
    ->Name("RemoveFile")
    ->Arg(FILE_ATTRIBUTE_NORMAL)
    ->Arg(FILE_ATTRIBUTE_READONLY);

// Collects the times so that each result can be printed as a ratio to the
// baseline with the same argument.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (!run.error_occurred) {
                times_[run.benchmark_name()] = run.GetAdjustedRealTime();
            }
        }
    }
    void PrintRatios() const {
        for (const char* arg : {"128", "1"}) {
            auto base = times_.find(std::string("baseline_attributes_first/") + arg);
            auto ours = times_.find(std::string("RemoveFile/") + arg);
            if (base != times_.end() && ours != times_.end() && base->second > 0) {
                std::printf("RemoveFile / baseline, attributes %s: %.3f\n", arg,
                            ours->second / base->second);
            }
        }
    }

  private:
    std::map<std::string, double> times_;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
