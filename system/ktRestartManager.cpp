// The Restart Manager, looked up at run time.
#include "ktRestartManager.h"

namespace {

template <typename T> T Proc(HMODULE library, const char* name) {
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

std::string Narrow(const WCHAR* text) {
    int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) {
        return std::string();
    }
    std::string result(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &result[0], length, nullptr, nullptr);
    result.resize(static_cast<size_t>(length - 1));
    return result;
}

BOOL CALLBACK TakeWindowTitle(HWND window, LPARAM parameter) {
    auto* apps = reinterpret_cast<std::vector<TRunningApp>*>(parameter);
    DWORD processId = 0;
    if (!GetWindowThreadProcessId(window, &processId) || !IsWindowVisible(window)) {
        return TRUE;
    }
    for (TRunningApp& app : *apps) {
        if (app.processId == processId && app.title.empty()) {
            char text[256];
            int length = GetWindowTextA(window, text, sizeof text);
            app.title.assign(text, length > 0 ? static_cast<size_t>(length) : 0);
        }
    }
    return TRUE;
}

} // namespace

TRestartManager::TRestartManager() : library_(LoadLibraryA("rstrtmgr.dll")) {
    if (!library_) {
        return;
    }
    start_ = Proc<StartFn>(library_.Get(), "RmStartSession");
    end_ = Proc<EndFn>(library_.Get(), "RmEndSession");
    register_ = Proc<RegisterFn>(library_.Get(), "RmRegisterResources");
    shutdown_ = Proc<ShutdownFn>(library_.Get(), "RmShutdown");
    GetListFn getList = Proc<GetListFn>(library_.Get(), "RmGetList");
    // Available only when all five are there.
    if (start_ && end_ && register_ && shutdown_) {
        getList_ = getList;
    }
}

TRestartManager::~TRestartManager() {
    if (open_) {
        end_(session_);
    }
}

bool TRestartManager::Register(const std::vector<std::string>& files) {
    if (!Available() || files.empty()) {
        return false;
    }
    if (!open_) {
        WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
        if (start_(&session_, 0, key) != ERROR_SUCCESS) {
            return false;
        }
        open_ = true;
    }
    // All the names in one buffer: one allocation for the whole list.
    std::vector<size_t> offsets;
    offsets.reserve(files.size());
    std::vector<WCHAR> names;
    for (const std::string& file : files) {
        offsets.push_back(names.size());
        int length = static_cast<int>(file.size());
        size_t at = names.size();
        names.resize(at + static_cast<size_t>(length) + 1, 0);
        if (length > 0) {
            MultiByteToWideChar(CP_ACP, 0, file.data(), length, &names[at], length);
        }
    }
    std::vector<LPCWSTR> pointers;
    pointers.reserve(files.size());
    for (size_t offset : offsets) {
        pointers.push_back(&names[offset]);
    }
    return register_(session_, static_cast<UINT>(pointers.size()), pointers.data(), 0, nullptr, 0,
                     nullptr) == ERROR_SUCCESS;
}

std::vector<TRunningApp> TRestartManager::Holders() {
    std::vector<TRunningApp> apps;
    if (!open_) {
        return apps;
    }
    std::vector<RM_PROCESS_INFO> infos;
    DWORD result = ERROR_MORE_DATA;
    UINT count = 0;
    // The list can grow between the two calls: ask again, a few times.
    for (int attempt = 0; attempt < 5 && result == ERROR_MORE_DATA; ++attempt) {
        UINT needed = 0;
        DWORD reasons = 0;
        count = static_cast<UINT>(infos.size());
        result =
            getList_(session_, &needed, &count, infos.empty() ? nullptr : infos.data(), &reasons);
        if (result == ERROR_MORE_DATA) {
            infos.resize(needed + 2);
        }
    }
    if (result != ERROR_SUCCESS) {
        return apps;
    }
    for (UINT i = 0; i < count && i < infos.size(); ++i) {
        TRunningApp app;
        app.processId = infos[i].Process.dwProcessId;
        app.start = infos[i].Process.ProcessStartTime;
        app.name = Narrow(infos[i].strAppName);
        apps.push_back(app);
    }
    // One pass over the top-level windows for all the applications.
    if (!apps.empty()) {
        EnumWindows(TakeWindowTitle, reinterpret_cast<LPARAM>(&apps));
    }
    return apps;
}

DWORD TRestartManager::Shutdown(bool force) {
    if (!open_) {
        return ERROR_INVALID_HANDLE;
    }
    return shutdown_(session_, force ? RmForceShutdown : 0, nullptr);
}

std::vector<std::string> ApplicationsHolding(const std::string& path) {
    std::vector<std::string> names;
    TRestartManager manager;
    if (manager.Register({path})) {
        for (const TRunningApp& app : manager.Holders()) {
            names.push_back(app.Description());
        }
    }
    return names;
}
