// Name resolution at scale: deleting every file of one large folder by its
// exact name (the baseline), by a name in other letter case, and with a
// lookup of a missing name between deletions. The time per file must not
// grow with the folder: a resolver that reads the folder for each name
// would make the ratios of the large run grow with its size.
// Plain timing so that it builds for both targets; run it natively and
// under Wine (cmake/wine-run.sh) to compare the layer with the real thing.
#include "winapi.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

enum Mode { kExact, kOtherCase, kWithMissing };

std::string Name(int i, bool upper) {
    char text[32];
    snprintf(text, sizeof text, upper ? "FILE%06d.DAT" : "File%06d.Dat", i);
    return text;
}

// Microseconds per deleted file.
double DeleteAll(const std::string& base, int count, Mode mode) {
    std::string dir = base + "names-" + std::to_string(count) + "-" + std::to_string(mode) + "\\";
    CreateDirectoryA(dir.c_str(), nullptr);
    for (int i = 0; i < count; ++i) {
        HANDLE file = CreateFileA((dir + Name(i, false)).c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            fprintf(stderr, "cannot create %s\n", (dir + Name(i, false)).c_str());
            exit(1);
        }
        CloseHandle(file);
    }
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        if (!DeleteFileA((dir + Name(i, mode != kExact)).c_str())) {
            fprintf(stderr, "cannot delete %s\n", Name(i, mode != kExact).c_str());
            exit(1);
        }
        if (mode == kWithMissing && GetFileAttributesA((dir + "gone" + Name(i, false)).c_str()) !=
                                        INVALID_FILE_ATTRIBUTES) {
            exit(1);
        }
    }
    std::chrono::duration<double, std::micro> spent = std::chrono::steady_clock::now() - start;
    RemoveDirectoryA(dir.c_str());
    return spent.count() / count;
}

} // namespace

int main(int argc, char** argv) {
    int small = argc > 1 ? atoi(argv[1]) : 2000;
    int large = argc > 2 ? atoi(argv[2]) : 20000;
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const char* labels[] = {"exact case", "other case", "other case + missing name"};
    double baseSmall = 0;
    double baseLarge = 0;
    printf("%-27s %12s %12s %12s %14s\n", "us per file", "small", "large", "large/small",
           "large/baseline");
    for (int mode = kExact; mode <= kWithMissing; ++mode) {
        double atSmall = DeleteAll(temp, small, static_cast<Mode>(mode));
        double atLarge = DeleteAll(temp, large, static_cast<Mode>(mode));
        if (mode == kExact) {
            baseSmall = atSmall;
            baseLarge = atLarge;
        }
        printf("%-27s %12.2f %12.2f %12.2f %14.2f\n", labels[mode], atSmall, atLarge,
               atLarge / atSmall, atLarge / baseLarge);
    }
    printf("(small = %d files, large = %d files in one folder; baseline at small: %.2f us)\n",
           small, large, baseSmall);
    return 0;
}
