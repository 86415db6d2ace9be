// The robot's window hook, loaded by the system into the uninstaller's
// process: it appends to the file named by VANTREL_E2E_HOOKLOG, in the
// transcript's tagged form, every line added to a list box with id 101 (the
// progress list) at the moment it is added ("[progress] TEXT"), and the
// progress window's end ("[closed] DLG_UNINSTALL") as it is destroyed. The
// robot cannot read the list across processes while the program works
// through its phases without pumping messages, and it may miss a window
// that lives only a moment; the hook sees both in the program's own order.
#include <windows.h>

#include <cstring>
#include <string>

namespace {

void Append(const std::string& line) {
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("VANTREL_E2E_HOOKLOG", path, sizeof path);
    if (n == 0 || n >= sizeof path) {
        return;
    }
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        std::string text = line + "\n";
        DWORD written = 0;
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
    }
}

// The progress window: a top-level window whose control 101 is a list box
// (its class name may carry a version prefix under Common Controls 6).
bool IsProgressWindow(HWND window) {
    HWND list = GetDlgItem(window, 101);
    char name[64] = {};
    if (GetParent(window) != nullptr || list == nullptr ||
        GetClassNameA(list, name, sizeof name) <= 0) {
        return false;
    }
    const char* bang = std::strrchr(name, '!');
    return lstrcmpiA(bang ? bang + 1 : name, "ListBox") == 0;
}

} // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK
    ProgressHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (call->message == LB_ADDSTRING && call->lParam != 0 && GetDlgCtrlID(call->hwnd) == 101) {
            Append(std::string("[progress] ") + reinterpret_cast<const char*>(call->lParam));
        } else if (call->message == WM_DESTROY && IsProgressWindow(call->hwnd)) {
            Append("[closed] DLG_UNINSTALL");
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
