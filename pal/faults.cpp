// The fault table behind $VANTREL_FAULTS: one counter per covered call, and
// the faults asked for, read from the environment once.
//
//   VANTREL_FAULTS="WriteFile:3:112;MoveFileExA:1+:5;*:40:kill"
//
// Each fault is CALL:USE:ACTION. CALL is a covered call's name, or "*" for
// any covered call (its counter counts them all). USE is the 1-based number
// of the call's use in this process; "N+" means that use and every later
// one (a disk that stays full). ACTION is a Win32 error number, which the
// call fails with, or "kill", which ends the process with SIGKILL before
// the call does anything.
#include "faults.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

namespace pal {
namespace {

// The covered calls: those that change or read files and the registry
// store's writes. Their names are the ones the variable uses.
const char* const kCalls[] = {
    "CreateFileA",      "ReadFile",         "WriteFile",     "FlushFileBuffers",
    "SetEndOfFile",     "MoveFileExA",      "DeleteFileA",   "SetFileAttributesA",
    "CreateDirectoryA", "RemoveDirectoryA", "RegCreateKeyA", "RegSetValueExA",
    "RegDeleteValueA",  "RegDeleteKeyA",    "ReplaceFileA",  "SetFileSecurityA",
};
const size_t kCallCount = sizeof kCalls / sizeof kCalls[0];
const size_t kAnyCall = kCallCount; // the counter of "*"

struct Fault {
    size_t call;
    unsigned long use;
    bool andLater;
    bool kill;
    DWORD error;
};

struct Table {
    std::mutex lock;
    unsigned long uses[kCallCount + 1] = {};
    std::vector<Fault> faults;
};

[[noreturn]] void BadSpec(const std::string& spec, const char* why) {
    // A mistyped fault must not let a test pass as if nothing was asked.
    std::fprintf(stderr, "VANTREL_FAULTS: %s: %s\n", spec.c_str(), why);
    std::_Exit(70);
}

Fault ParseFault(const std::string& spec) {
    size_t first = spec.find(':');
    size_t second = first == std::string::npos ? first : spec.find(':', first + 1);
    if (second == std::string::npos) {
        BadSpec(spec, "expected CALL:USE:ERROR or CALL:USE:kill");
    }
    const std::string name = spec.substr(0, first);
    std::string use = spec.substr(first + 1, second - first - 1);
    const std::string action = spec.substr(second + 1);
    Fault fault{kAnyCall, 0, false, false, 0};
    if (name != "*") {
        fault.call = kCallCount + 1;
        for (size_t i = 0; i < kCallCount; ++i) {
            if (name == kCalls[i]) {
                fault.call = i;
            }
        }
        if (fault.call > kCallCount) {
            BadSpec(spec, "not a call that faults can be injected into");
        }
    }
    if (!use.empty() && use.back() == '+') {
        fault.andLater = true;
        use.pop_back();
    }
    char* end = nullptr;
    fault.use = std::strtoul(use.c_str(), &end, 10);
    if (use.empty() || *end != '\0' || fault.use == 0) {
        BadSpec(spec, "the use is a number from 1, optionally followed by +");
    }
    if (action == "kill") {
        fault.kill = true;
    } else {
        fault.error = static_cast<DWORD>(std::strtoul(action.c_str(), &end, 10));
        if (action.empty() || *end != '\0' || fault.error == 0) {
            BadSpec(spec, "the action is a Win32 error number (not 0) or kill");
        }
    }
    return fault;
}

void Load(Table& table) {
    table.faults.clear();
    std::fill(std::begin(table.uses), std::end(table.uses), 0);
    const char* text = std::getenv("VANTREL_FAULTS");
    const std::string all = text ? text : "";
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find(';', start);
        end = end == std::string::npos ? all.size() : end;
        if (end > start) {
            table.faults.push_back(ParseFault(all.substr(start, end - start)));
        }
        start = end + 1;
    }
}

Table& Faults() {
    static Table* table = [] {
        auto* made = new Table; // never destroyed: calls may come during exit
        Load(*made);
        return made;
    }();
    return *table;
}

} // namespace

DWORD InjectedFault(const char* call) {
    Table& table = Faults();
    if (table.faults.empty()) {
        return 0;
    }
    size_t index = 0;
    while (index < kCallCount && std::strcmp(kCalls[index], call) != 0) {
        ++index;
    }
    std::lock_guard<std::mutex> guard(table.lock);
    const unsigned long own = index < kCallCount ? ++table.uses[index] : 0;
    const unsigned long any = ++table.uses[kAnyCall];
    for (const Fault& fault : table.faults) {
        const unsigned long use = fault.call == kAnyCall ? any : fault.call == index ? own : 0;
        if (use == 0 || (use != fault.use && !(fault.andLater && use > fault.use))) {
            continue;
        }
        if (fault.kill) {
            kill(getpid(), SIGKILL);
        }
        SetLastError(fault.error);
        return fault.error;
    }
    return 0;
}

void ReloadFaults() {
    Table& table = Faults();
    std::lock_guard<std::mutex> guard(table.lock);
    Load(table);
}

} // namespace pal
