// The Restart Manager (rstrtmgr.dll, looked up at run time: systems before
// Vista lack it): which applications hold a set of files, and asking them to
// end. Every failure reads as "no application": the uninstall then handles
// the files as files in use, as it would without it.
#pragma once

#include "ktHandle.h"
#include "winapi.h"

#include <string>
#include <vector>

// One application that holds a registered file.
struct TRunningApp {
    DWORD processId = 0;
    FILETIME start = {0, 0};
    std::string name;  // the Restart Manager's name for it (natively: its program's file name)
    std::string title; // the text of its first visible top-level window; empty without one

    // "name (title)", or the name alone.
    std::string Description() const { return title.empty() ? name : name + " (" + title + ")"; }
};

class TRestartManager {
  public:
    TRestartManager();
    ~TRestartManager();
    TRestartManager(const TRestartManager&) = delete;
    TRestartManager& operator=(const TRestartManager&) = delete;

    // The system has the Restart Manager.
    bool Available() const { return getList_ != nullptr; }
    // Starts the session and registers every file with one call, however
    // many there are. False when the system lacks it or refuses.
    bool Register(const std::vector<std::string>& files);
    // The applications that hold one of the registered files now; empty
    // when none does or the question fails.
    std::vector<TRunningApp> Holders();
    // Asks the applications that hold the files to end (and ends them after a
    // time limit when `force`); the system's code, ERROR_SUCCESS when all did.
    DWORD Shutdown(bool force);

  private:
    using StartFn = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
    using EndFn = DWORD(WINAPI*)(DWORD);
    using RegisterFn = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT,
                                      LPCWSTR*);
    using GetListFn = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, LPDWORD);
    using ShutdownFn = DWORD(WINAPI*)(DWORD, ULONG, RM_WRITE_STATUS_CALLBACK);

    TScopedLibrary library_;
    StartFn start_ = nullptr;
    EndFn end_ = nullptr;
    RegisterFn register_ = nullptr;
    GetListFn getList_ = nullptr;
    ShutdownFn shutdown_ = nullptr;
    DWORD session_ = 0;
    bool open_ = false;
};

// The names of the applications that hold this one file now (a session of
// its own); empty without the Restart Manager.
std::vector<std::string> ApplicationsHolding(const std::string& path);
