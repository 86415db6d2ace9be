// The robot's window hook, loaded by the system into the uninstaller's
// process: it appends every line added to a list box with id 101 (the
// progress list) to the file named by VANTREL_E2E_HOOKLOG, one per line, at
// the moment the line is added. The robot cannot read the list across
// processes while the program works through its phases without pumping
// messages, so a run that ends with an error would otherwise hide its lines.
#include <windows.h>

extern "C" __declspec(dllexport) LRESULT CALLBACK
    ProgressHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (call->message == LB_ADDSTRING && call->lParam != 0 && GetDlgCtrlID(call->hwnd) == 101) {
            char path[MAX_PATH];
            DWORD n = GetEnvironmentVariableA("VANTREL_E2E_HOOKLOG", path, sizeof path);
            if (n > 0 && n < sizeof path) {
                HANDLE file =
                    CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
                if (file != INVALID_HANDLE_VALUE) {
                    const char* text = reinterpret_cast<const char*>(call->lParam);
                    DWORD written = 0;
                    WriteFile(file, text, lstrlenA(text), &written, nullptr);
                    WriteFile(file, "\n", 1, &written, nullptr);
                    CloseHandle(file);
                }
            }
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
