// Registry removal at the scale of a large installation: DeleteRegKey on a
// tree of 10,000 keys with 4 values each, and 10,000 registry entries of
// values removed through the ledger, as a run removes them. Built for both targets;
// run_registry_bench.sh runs the native program and the Windows one under Wine and prints their
// ratio.
//
// Output: one "name seconds" line per measurement.
#include "ktLedger.h"
#include "ktRegIni.h"
#include "winapi.h"

#include <chrono>
#include <cstdio>
#include <string>

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

bool SetValue(HKEY key, const std::string& name, DWORD number) {
    return RegSetValueExA(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                          sizeof number) == ERROR_SUCCESS;
}

// 100 keys below the base, 99 below each of them: 10,000 keys, 4 values each.
bool BuildTree(const std::string& base) {
    for (int i = 0; i < 100; ++i) {
        std::string branch = base + "\\Branch" + std::to_string(i);
        for (int j = -1; j < 99; ++j) {
            std::string path = j < 0 ? branch : branch + "\\Leaf" + std::to_string(j);
            HKEY key = nullptr;
            if (RegCreateKeyA(HKEY_CURRENT_USER, path.c_str(), &key) != ERROR_SUCCESS) {
                return false;
            }
            bool ok = true;
            for (int v = 0; v < 4; ++v) {
                ok = ok && SetValue(key, "Value" + std::to_string(v), static_cast<DWORD>(v));
            }
            RegCloseKey(key);
            if (!ok) {
                return false;
            }
        }
    }
    return true;
}

// 10,000 values in 100 keys.
bool BuildValues(const std::string& base) {
    for (int i = 0; i < 100; ++i) {
        HKEY key = nullptr;
        std::string path = base + "\\Key" + std::to_string(i);
        if (RegCreateKeyA(HKEY_CURRENT_USER, path.c_str(), &key) != ERROR_SUCCESS) {
            return false;
        }
        bool ok = true;
        for (int v = 0; v < 100; ++v) {
            ok = ok && SetValue(key, "C:\\Program Files\\App\\File" + std::to_string(v) + ".dll",
                                static_cast<DWORD>(v));
        }
        RegCloseKey(key);
        if (!ok) {
            return false;
        }
    }
    return true;
}

} // namespace

int main() {
    std::string base = "Software\\VantrelBench-" + std::to_string(GetCurrentProcessId());
    std::string basePath = "HKCU\\" + base;

    auto start = std::chrono::steady_clock::now();
    if (!BuildTree(base + "\\Tree")) {
        std::fprintf(stderr, "cannot build the key tree\n");
        return 1;
    }
    std::printf("build_tree %.3f\n", Seconds(start));

    start = std::chrono::steady_clock::now();
    bool deleted = DeleteRegKey(basePath + "\\Tree");
    std::printf("delete_tree %.3f\n", Seconds(start));
    if (!deleted || RegKeyExists(basePath + "\\Tree")) {
        std::fprintf(stderr, "DeleteRegKey left the tree\n");
        return 1;
    }

    start = std::chrono::steady_clock::now();
    if (!BuildValues(base + "\\Values")) {
        std::fprintf(stderr, "cannot build the values\n");
        return 1;
    }
    std::printf("build_values %.3f\n", Seconds(start));

    start = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i) {
        for (int v = 0; v < 100; ++v) {
            std::string path = basePath + "\\Values\\Key" + std::to_string(i) +
                               "\\'C:\\Program Files\\App\\File" + std::to_string(v) + ".dll'";
            Ledger().RemoveRegistryEntry(path + "=", path);
        }
    }
    std::printf("remove_values %.3f\n", Seconds(start));
    DeleteRegKey(basePath);
    int removed = Ledger().Count(TOutcome::Removed);
    if (removed != 10000) {
        std::fprintf(stderr, "the ledger removed %d of 10000 values\n", removed);
        return 1;
    }
    return 0;
}
