// One uninstall at a time on a machine: a named mutex, machine-wide, held
// from the confirmation (or, in a run that asks none, from before its report
// is made) to the end of the run, the report's end line included, so that
// two runs never read, lower and write the same shared-file counters at once.
#pragma once

#include "winapi.h"

// Exit code of a run kept out by another (Windows Installer's code, which
// fleet tools retry).
constexpr int kExitAnotherRunning = 1618;

class TUninstallLock {
  public:
    TUninstallLock() = default;
    TUninstallLock(const TUninstallLock&) = delete;
    TUninstallLock& operator=(const TUninstallLock&) = delete;
    ~TUninstallLock();

    // Takes the lock; true at once when it is held already. While another
    // run holds it: with `ask`, a box (message 38, from the log when it can
    // be read) offers Retry and Cancel; without, the answer is at once.
    // False when the run must end without changing anything.
    bool Take(bool ask);
    bool Held() const { return owned_; }

  private:
    HANDLE mutex_ = nullptr;
    bool owned_ = false;
};

// The mutex's name: "Global\VantrelUninstaller" on the NT family, without
// the prefix on the 95 family, which has one namespace only.
const char* UninstallLockName();
