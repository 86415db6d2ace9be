#include "ktShell.h"

#include "ktHandle.h"

HANDLE StartHidden(const std::string& program, const std::string& parameters, DWORD& error) {
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpFile = program.c_str();
    info.lpParameters = parameters.c_str();
    info.nShow = SW_HIDE;
    if (!ShellExecuteExA(&info) || info.hProcess == nullptr) {
        error = GetLastError();
        return nullptr;
    }
    return info.hProcess;
}

int ExecAndWait(HWND owner, const std::string& file, const std::string& parameters,
                const std::string& directory, int show) {
    return ExecAndWait(owner, file, parameters, directory, show, 0, nullptr, nullptr);
}

int ExecAndWait(HWND owner, const std::string& file, const std::string& parameters,
                const std::string& directory, int show, DWORD extraMask, bool* started,
                DWORD* error) {
    if (started != nullptr) {
        *started = false;
    }
    SHELLEXECUTEINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | extraMask;
    info.hwnd = owner;
    info.lpVerb = nullptr;
    info.lpFile = file.c_str();
    info.lpParameters = parameters.c_str();
    info.lpDirectory = directory.c_str();
    info.nShow = show;
    if (!ShellExecuteExA(&info)) {
        if (error != nullptr) {
            *error = GetLastError();
        }
        return -1;
    }
    if (started != nullptr) {
        *started = true;
    }
    // The shell may hand the file to a program that is already running: then
    // there is no process of ours to wait for, and nothing went wrong.
    if (info.hProcess == nullptr) {
        return 0;
    }
    TScopedHandle process(info.hProcess);
    for (;;) {
        MSG message;
        if (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                return -1;
            }
            TranslateMessage(&message);
            DispatchMessageA(&message);
            continue;
        }
        Sleep(1);
        DWORD code = STILL_ACTIVE;
        if (!GetExitCodeProcess(process.Get(), &code)) {
            return -1;
        }
        // An exit code of 259 reads like a running program: the process
        // handle tells whether it has really ended (and then the code is
        // read again, in case it ended between the two calls).
        if (code == STILL_ACTIVE) {
            if (WaitForSingleObject(process.Get(), 0) != WAIT_OBJECT_0 ||
                !GetExitCodeProcess(process.Get(), &code)) {
                continue;
            }
        }
        return static_cast<int>(code);
    }
}
