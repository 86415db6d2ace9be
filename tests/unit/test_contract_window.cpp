// Contract of the window, dialog, message, hook and font calls at the edges
// the program's callers can reach: a window handle that names nothing, a
// dialog template that does not exist, an empty message queue. The same
// table runs over pal/ natively and over the real API under Wine.
#include "TestSupport.h"

#include <string>

namespace {

struct Case {
    const char* call;
    LONG_PTR (*run)();
    LONG_PTR result; // expected return
    DWORD error;     // expected last error; 0 leaves it unchecked
};

char g_text[16];
RECT g_rect;
POINT g_point;

// Every call that takes a window, given none.
const Case kNoWindow[] = {
    {"IsWindow", [] { return (LONG_PTR)IsWindow(nullptr); }, FALSE, 0},
    {"DestroyWindow", [] { return (LONG_PTR)DestroyWindow(nullptr); }, FALSE, 0},
    {"SetWindowTextA", [] { return (LONG_PTR)SetWindowTextA(nullptr, "x"); }, FALSE,
     ERROR_INVALID_WINDOW_HANDLE},
    {"GetDlgItem", [] { return (LONG_PTR)GetDlgItem(nullptr, 1); }, 0, ERROR_INVALID_WINDOW_HANDLE},
    {"SetDlgItemTextA", [] { return (LONG_PTR)SetDlgItemTextA(nullptr, 1, "x"); }, FALSE, 0},
    {"GetDlgItemTextA", [] { return (LONG_PTR)GetDlgItemTextA(nullptr, 1, g_text, 16); }, 0, 0},
    {"SendDlgItemMessageA", [] { return (LONG_PTR)SendDlgItemMessageA(nullptr, 1, WM_NULL, 0, 0); },
     0, 0},
    {"SendMessageA", [] { return (LONG_PTR)SendMessageA(nullptr, WM_NULL, 0, 0); }, 0,
     ERROR_INVALID_WINDOW_HANDLE},
    {"SendMessageTimeoutA",
     [] {
         DWORD_PTR out = 0;
         return (LONG_PTR)SendMessageTimeoutA(nullptr, WM_NULL, 0, 0, SMTO_NORMAL, 10, &out);
     },
     0, ERROR_INVALID_WINDOW_HANDLE},
    {"EndDialog", [] { return (LONG_PTR)EndDialog(nullptr, 1); }, FALSE, 0},
    {"UpdateWindow", [] { return (LONG_PTR)UpdateWindow(nullptr); }, FALSE, 0},
    {"GetWindowRect", [] { return (LONG_PTR)GetWindowRect(nullptr, &g_rect); }, FALSE,
     ERROR_INVALID_WINDOW_HANDLE},
    {"SetWindowPos",
     [] {
         return (LONG_PTR)SetWindowPos(nullptr, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
     },
     FALSE, ERROR_INVALID_WINDOW_HANDLE},
    {"GetClassNameA", [] { return (LONG_PTR)GetClassNameA(nullptr, g_text, 16); }, 0,
     ERROR_INVALID_WINDOW_HANDLE},
    {"GetWindowLongA", [] { return (LONG_PTR)GetWindowLongA(nullptr, GWL_STYLE); }, 0,
     ERROR_INVALID_WINDOW_HANDLE},
    {"MapDialogRect", [] { return (LONG_PTR)MapDialogRect(nullptr, &g_rect); }, FALSE, 0},
    {"ClientToScreen", [] { return (LONG_PTR)ClientToScreen(nullptr, &g_point); }, FALSE, 0},
};

TEST(ContractWindow, CallsGivenNoWindowFail) {
    for (const Case& c : kNoWindow) {
        SCOPED_TRACE(c.call);
        SetLastError(0);
        EXPECT_EQ(c.run(), c.result);
        if (c.error) {
            EXPECT_EQ(GetLastError(), c.error);
        }
    }
}

// Where Wine answers otherwise, Windows decides: a handle that names no
// window fails with ERROR_INVALID_WINDOW_HANDLE, and GetWindowTextA returns
// 0 for it, as its documentation says.
const Case kNoWindowWineDiffers[] = {
    {"DestroyWindow", [] { return (LONG_PTR)DestroyWindow(nullptr); }, FALSE,
     ERROR_INVALID_WINDOW_HANDLE},
    {"GetWindowTextA", [] { return (LONG_PTR)GetWindowTextA(nullptr, g_text, 16); }, 0,
     ERROR_INVALID_WINDOW_HANDLE},
};

TEST(ContractWindow, NoWindowErrors_WindowsDocumented_NotUnderWine) {
    if (UnderWine()) {
        GTEST_SKIP() << "Wine fails DestroyWindow(NULL) with ERROR_ACCESS_DENIED, and "
                        "GetWindowTextA(NULL) returns 2 with the last error 2";
    }
    for (const Case& c : kNoWindowWineDiffers) {
        SCOPED_TRACE(c.call);
        SetLastError(0);
        EXPECT_EQ(c.run(), c.result);
        EXPECT_EQ(GetLastError(), c.error);
    }
}

INT_PTR CALLBACK NoDialogProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

// This test program links no resources: Windows reports the missing
// resource section (ERROR_RESOURCE_DATA_NOT_FOUND), not a missing name.
TEST(ContractDialog, MissingTemplateIsReported) {
    HINSTANCE self = GetModuleHandleA(nullptr);
    LPCSTR missing = MAKEINTRESOURCEA(32001);
    SetLastError(0);
    EXPECT_EQ(CreateDialogParamA(self, missing, nullptr, NoDialogProc, 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
    SetLastError(0);
    EXPECT_EQ(DialogBoxParamA(self, missing, nullptr, NoDialogProc, 0), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_DATA_NOT_FOUND));
}

TEST(ContractMessages, ThreadQueueWithoutWindow) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    // A message posted to no window goes to the thread's own queue.
    ASSERT_TRUE(PostMessageA(nullptr, WM_USER + 7, 3, 4));
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 7));
    EXPECT_EQ(msg.wParam, 3u);
    EXPECT_EQ(msg.lParam, 4);
    // Such a message has no window procedure to reach, and is no key.
    EXPECT_EQ(DispatchMessageA(&msg), 0);
    EXPECT_FALSE(TranslateMessage(&msg));
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST(ContractHooks, NullHookHandle) {
    SetLastError(0);
    EXPECT_FALSE(UnhookWindowsHookEx(nullptr));
    EXPECT_NE(GetLastError(), 0u);
    // The handle is ignored when passing a hook on: a null one is fine.
    EXPECT_EQ(CallNextHookEx(nullptr, 0, 0, 0), 0);
}

TEST(ContractSystem, ScreenMetricsAndMissingFont) {
    EXPECT_GT(GetSystemMetrics(SM_CXSCREEN), 0);
    EXPECT_GT(GetSystemMetrics(SM_CYSCREEN), 0);
    EXPECT_EQ(GetSystemMetrics(-12345), 0); // no such metric
    EXPECT_FALSE(RemoveFontResourceA("C:\\vantrel-no-such-font.ttf"));
}

} // namespace
