// Faults inside the program for the native build: the error mode, the
// unhandled-exception filter over POSIX signals, and the mapping between
// the signals that end a process and the exception codes with which Windows
// ends it. A stack overflow ends the process with SIGSTKFLT, which nothing
// else sends, so that the parent can tell it from an access violation.
#include "internal.h"

#include <csignal>
#include <cstdint>
#include <pthread.h>

namespace {

UINT errorMode = 0;
LPTOP_LEVEL_EXCEPTION_FILTER topFilter = nullptr;
bool handlersInstalled = false;
// The thread's stack, as far as it may grow; a fault just below or inside
// it is an overflow.
uintptr_t stackLow = 0;
uintptr_t stackHigh = 0;
// The guard gap that Linux keeps below a growing stack.
const uintptr_t kGuardGap = 1u << 20;
alignas(16) char alternateStack[64 * 1024];

const int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};

DWORD ClassifyFault(int signalNumber, const siginfo_t* info) {
    switch (signalNumber) {
    case SIGSEGV: {
        auto address = reinterpret_cast<uintptr_t>(info->si_addr);
        bool inStack = stackLow != 0 && address < stackHigh && address + kGuardGap >= stackLow;
        return inStack ? EXCEPTION_STACK_OVERFLOW : EXCEPTION_ACCESS_VIOLATION;
    }
    case SIGBUS:
        return EXCEPTION_IN_PAGE_ERROR;
    case SIGILL:
        return info->si_code == ILL_PRVOPC ? EXCEPTION_PRIV_INSTRUCTION
                                           : EXCEPTION_ILLEGAL_INSTRUCTION;
    case SIGFPE:
        if (info->si_code == FPE_INTDIV) {
            return EXCEPTION_INT_DIVIDE_BY_ZERO;
        }
        if (info->si_code == FPE_INTOVF) {
            return EXCEPTION_INT_OVERFLOW;
        }
        return info->si_code == FPE_FLTDIV ? EXCEPTION_FLT_DIVIDE_BY_ZERO
                                           : EXCEPTION_FLT_INVALID_OPERATION;
    default:
        return EXCEPTION_ACCESS_VIOLATION;
    }
}

// Runs on the alternate stack, so an overflow still reaches it. The filter
// sees the fault; then the process ends with it, whatever the filter says:
// without a context to change, execution cannot continue.
void OnFault(int signalNumber, siginfo_t* info, void*) {
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = ClassifyFault(signalNumber, info);
    record.ExceptionAddress = info->si_addr;
    EXCEPTION_POINTERS pointers = {&record, nullptr};
    if (topFilter != nullptr) {
        topFilter(&pointers);
    }
    int endWith = record.ExceptionCode == EXCEPTION_STACK_OVERFLOW ? SIGSTKFLT : signalNumber;
    signal(endWith, SIG_DFL);
    if (endWith != signalNumber) {
        raise(endWith);
    }
    // Returning re-runs the faulting instruction, which now ends the process.
    signal(signalNumber, SIG_DFL);
}

void InstallHandlers() {
    if (handlersInstalled) {
        return;
    }
    handlersInstalled = true;
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
        void* base = nullptr;
        size_t size = 0;
        if (pthread_attr_getstack(&attributes, &base, &size) == 0) {
            stackLow = reinterpret_cast<uintptr_t>(base);
            stackHigh = stackLow + size;
        }
        pthread_attr_destroy(&attributes);
    }
    stack_t alternate = {};
    alternate.ss_sp = alternateStack;
    alternate.ss_size = sizeof alternateStack;
    sigaltstack(&alternate, nullptr);
    struct sigaction action = {};
    action.sa_sigaction = OnFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : kFaultSignals) {
        sigaction(signalNumber, &action, nullptr);
    }
}

} // namespace

namespace pal {

DWORD ExceptionCodeOfSignal(int signalNumber) {
    switch (signalNumber) {
    case SIGSEGV:
        return EXCEPTION_ACCESS_VIOLATION;
    case SIGBUS:
        return EXCEPTION_IN_PAGE_ERROR;
    case SIGILL:
        return EXCEPTION_ILLEGAL_INSTRUCTION;
    case SIGFPE:
        return EXCEPTION_INT_DIVIDE_BY_ZERO;
    case SIGSTKFLT:
        return EXCEPTION_STACK_OVERFLOW;
    default:
        return 0;
    }
}

} // namespace pal

// No crash dialog or critical-error box exists natively: the mode is kept
// and reported back, and changes nothing else.
UINT WINAPI SetErrorMode(UINT uMode) {
    UINT previous = errorMode;
    errorMode = uMode;
    return previous;
}

LPTOP_LEVEL_EXCEPTION_FILTER WINAPI
SetUnhandledExceptionFilter(LPTOP_LEVEL_EXCEPTION_FILTER lpTopLevelExceptionFilter) {
    LPTOP_LEVEL_EXCEPTION_FILTER previous = topFilter;
    topFilter = lpTopLevelExceptionFilter;
    InstallHandlers();
    return previous;
}
