// One uninstall at a time: the machine-wide mutex and the box that says that
// another uninstall is running.
#include "OneAtATime.h"

#include "State.h"

#include "ktPlatform.h"
#include "ktUtils.h"

namespace {

const int kAnotherRunningText = 38;

} // namespace

const char* UninstallLockName() {
    return IsNtFamily() ? "Global\\VantrelUninstaller" : "VantrelUninstaller";
}

TUninstallLock::~TUninstallLock() {
    if (owned_) {
        ReleaseMutex(mutex_);
    }
    if (mutex_ != nullptr) {
        CloseHandle(mutex_);
    }
}

bool TUninstallLock::Take(bool ask) {
    if (owned_) {
        return true;
    }
    if (mutex_ == nullptr) {
        mutex_ = CreateMutexA(nullptr, FALSE, UninstallLockName());
        if (mutex_ == nullptr) {
            // No mutex to be had (no such object on the system): nothing to
            // wait for.
            return true;
        }
    }
    for (;;) {
        // A run that ended without releasing it (it crashed) left it abandoned:
        // it is ours then.
        DWORD result = WaitForSingleObject(mutex_, 0);
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
            owned_ = true;
            return true;
        }
        if (!ask) {
            return false;
        }
        if (MsgBox(ProgressWindow, AppTitle, MessageTextBeforeLogIsRead(kAnotherRunningText),
                   MB_RETRYCANCEL | MB_ICONWARNING) != IDRETRY) {
            return false;
        }
    }
}
