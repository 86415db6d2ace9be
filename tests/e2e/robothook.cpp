// The robot's window hook, loaded by the system into the uninstaller's
// process: it appends to the file named by VANTREL_E2E_HOOKLOG, in the
// transcript's tagged form, every line added to a list box with id 101 (the
// progress list) at the moment it is added ("[progress] TEXT"), and the
// progress window's end ("[closed] DLG_UNINSTALL") as it is destroyed. The
// robot cannot read the list across processes while the program works
// through its phases without pumping messages, and it may miss a window
// that lives only a moment; the hook sees both in the program's own order.
// When VANTREL_E2E_SHOWNLOG names a file (the robot's watch mode), every
// top-level window the process shows is appended to it ("HWND CLASS
// CAPTION") as it is shown, so that no window escapes between two looks.
#include <windows.h>

#include <cstring>
#include <string>

namespace {

void Append(const std::string& line, const char* variable = "VANTREL_E2E_HOOKLOG") {
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA(variable, path, sizeof path);
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

void RecordShown(HWND window) {
    // Only in watch mode, and before any call on the window.
    if (GetEnvironmentVariableA("VANTREL_E2E_SHOWNLOG", nullptr, 0) == 0 ||
        (GetWindowLongA(window, GWL_STYLE) & WS_CHILD)) {
        return;
    }
    char handle[32];
    char cls[256] = {};
    char caption[512] = {};
    wsprintfA(handle, "%lx", static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(window)));
    GetClassNameA(window, cls, sizeof cls);
    GetWindowTextA(window, caption, sizeof caption);
    Append(std::string(handle) + " " + cls + " " + caption, "VANTREL_E2E_SHOWNLOG");
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
        } else if ((call->message == WM_SHOWWINDOW && call->wParam) ||
                   (call->message == WM_WINDOWPOSCHANGING &&
                    (reinterpret_cast<const WINDOWPOS*>(call->lParam)->flags & SWP_SHOWWINDOW))) {
            RecordShown(call->hwnd);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
