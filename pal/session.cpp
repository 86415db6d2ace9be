// The end of the session. The machine's "system" asks a process to let the
// session end with SIGPWR (`kill -PWR PID`); the layer then sends
// WM_QUERYENDSESSION to each of the process's top-level windows at its next
// PeekMessageA, and WM_ENDSESSION to them: TRUE when all agreed, FALSE (to
// those that agreed) when one refused. SIGPWR queued with the value 1
// (`kill -s PWR -q 1 PID`) ends the session whatever the windows say: only
// WM_ENDSESSION with TRUE is sent. As on Windows, a process that was told
// the session ends is expected to end; the layer does not end it.
#include "windowing.h"

#include <csignal>
#include <cstring>
#include <vector>

namespace pal::ui {

namespace {

volatile sig_atomic_t queryPending = 0;
volatile sig_atomic_t forcedPending = 0;

void OnSessionSignal(int, siginfo_t* info, void*) {
    if (info != nullptr && info->si_code == SI_QUEUE && info->si_value.sival_int == 1) {
        forcedPending = 1;
    } else {
        queryPending = 1;
    }
}

} // namespace

void DeliverSessionEnd() {
    if (!queryPending && !forcedPending) {
        return;
    }
    bool forced = forcedPending != 0;
    queryPending = 0;
    forcedPending = 0;
    std::vector<HWND> windows = TopLevelWindows();
    std::vector<HWND> agreed;
    bool ending = true;
    if (!forced) {
        for (HWND handle : windows) {
            if (!Find(handle)) {
                continue;
            }
            if (SendMessageA(handle, WM_QUERYENDSESSION, 0, 0) == FALSE) {
                ending = false;
                break;
            }
            agreed.push_back(handle);
        }
    }
    for (HWND handle : ending ? windows : agreed) {
        if (Find(handle)) {
            SendMessageA(handle, WM_ENDSESSION, ending ? TRUE : FALSE, 0);
        }
    }
}

} // namespace pal::ui

namespace pal {

void InstallSessionHandler() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_sigaction = ui::OnSessionSignal;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGPWR, &action, nullptr);
}

} // namespace pal
