// A small program over the native main() that shows the boxes and dialogs of
// an uninstall run, so that a script can answer them on standard input and
// compare what the terminal shows.
#include "ktUtils.h"
#include "winapi.h"

#include <csignal>
#include <cstdio>
#include <string>

namespace {

void Say(const std::string& line) {
    std::printf("[probe] %s\n", line.c_str());
    std::fflush(stdout);
}

INT_PTR CALLBACK QuestionProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        SetWindowTextA(dialog, "Remove shared file?");
        SetDlgItemTextA(dialog, 101, "No program uses this file.\r\rKeeping it does no harm.");
        SetDlgItemTextA(dialog, 103, "File name:");
        SetDlgItemTextA(dialog, 105, "Located in:");
        SetDlgItemTextA(dialog, 104, "shared.dll");
        SetDlgItemTextA(dialog, 106, "C:\\Program Files\\Common\\");
        SetDlgItemTextA(dialog, 107, "Yes");
        SetDlgItemTextA(dialog, 108, "Yes to all");
        SetDlgItemTextA(dialog, 109, "No");
        SetDlgItemTextA(dialog, 110, "No to all");
    } else if (message == WM_COMMAND) {
        switch (LOWORD(wParam)) {
        case 107:
            EndDialog(dialog, IDYES);
            break;
        case 108:
            EndDialog(dialog, 10);
            break;
        case 109:
        case IDCANCEL:
            EndDialog(dialog, IDNO);
            break;
        case 110:
            EndDialog(dialog, 9);
            break;
        default:
            break;
        }
    }
    return 0;
}

// Ends only on "Yes": at end of input the front-end must end it itself.
INT_PTR CALLBACK StubbornProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_COMMAND && LOWORD(wParam) == 107) {
        EndDialog(dialog, IDYES);
    }
    return 0;
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    Say(std::string("arguments: ") + commandLine);
    AppTitle = "Vantrel Uninstaller";
    MsgBoxFlags = MB_SETFOREGROUND;
    ErrorBox("Installation log file C:\\x.log not found!");
    Say("question: " + std::to_string(QuestionBox("Remove it all?\rEvery component.")));

    HWND progress = CreateDialogParamA(instance, "DLG_UNINSTALL", nullptr, nullptr, 0);
    SetWindowTextA(progress, "Uninstall application");
    SetWindowTextA(progress, "Uninstall Foo");
    SendDlgItemMessageA(progress, 101, LB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>("Checking shared files..."));
    for (int i = 0; i < 4; ++i) {
        INT_PTR answer = DialogBoxParamA(instance, "DLG_DELSHARED", progress, QuestionProc, 0);
        Say("shared file " + std::to_string(i + 1) + ": " + std::to_string(answer));
    }
    SendDlgItemMessageA(progress, 101, LB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>("Removing files..."));
    Say("final: " + std::to_string(MsgBox(progress, "Vantrel Uninstaller",
                                          "Application uninstall finished.", MB_ICONINFORMATION)));
    DestroyWindow(progress);
    Say("hook left: " + std::string(MsgBoxHook() ? "yes" : "no"));
    Say("stubborn dialog: " +
        std::to_string(DialogBoxParamA(instance, "DLG_DELSHARED", nullptr, StubbornProc, 0)));

    // The terminal's interrupt: a box shown while the quit is pending takes
    // its end-of-input answer without reading, and the quit comes after what
    // was posted before it.
    PostMessageA(nullptr, WM_USER, 7, 0);
    std::raise(SIGINT);
    Say("interrupted box: " +
        std::to_string(MessageBoxA(nullptr, "Still there?", "Interrupted", MB_YESNO)));
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        char line[64];
        std::snprintf(line, sizeof line, "message 0x%X %u", msg.message,
                      static_cast<unsigned>(msg.wParam));
        Say(line);
    }
    return 0;
}
