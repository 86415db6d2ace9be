// One uninstall at a time: the machine-wide mutex and the box that says that
// another uninstall is running.
#include "OneAtATime.h"

#include "State.h"

#include "ktPlatform.h"
#include "ktUtils.h"

namespace {

const int kAnotherRunningText = 38;
// The machine's one namespace on the 95 family and on Windows NT 4.0, which
// refuses the "Global\\" prefix.
const char kBareLockName[] = "VantrelUninstaller";

} // namespace

const char* UninstallLockName() {
    return IsNtFamily() ? "Global\\VantrelUninstaller" : kBareLockName;
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
    for (;;) {
        bool denied = false;
        if (mutex_ == nullptr) {
            mutex_ = CreateMutexA(nullptr, FALSE, UninstallLockName());
            denied = mutex_ == nullptr && GetLastError() == ERROR_ACCESS_DENIED;
            if (mutex_ == nullptr && !denied && IsNtFamily()) {
                mutex_ = CreateMutexA(nullptr, FALSE, kBareLockName);
                denied = mutex_ == nullptr && GetLastError() == ERROR_ACCESS_DENIED;
            }
            if (mutex_ == nullptr && !denied) {
                // No mutex to be had (no such object on the system): nothing
                // to wait for.
                return true;
            }
        }
        // Denied: another user's uninstall (an elevated one) holds a lock
        // that this user may not open; it is running all the same.
        if (!denied) {
            // A run that ended without releasing it (it crashed) left it
            // abandoned: it is ours then.
            DWORD result = WaitForSingleObject(mutex_, 0);
            if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
                owned_ = true;
                return true;
            }
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
