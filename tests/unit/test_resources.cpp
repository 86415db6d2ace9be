// The program's resources: the string table and the two dialog templates,
// checked through the Win32 calls that use them.
#include "ExpectedTexts.h"
#include "winapi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>

namespace {

HINSTANCE Self() {
    return GetModuleHandleA(nullptr);
}

std::string LoadText(UINT id) {
    char buffer[2048];
    int length = LoadStringA(Self(), id, buffer, sizeof buffer);
    EXPECT_EQ(length, static_cast<int>(std::strlen(buffer)));
    return std::string(buffer, length > 0 ? length : 0);
}

TEST(StringTable, HoldsEveryMessageTextExactly) {
    for (const TExpectedText& t : kExpectedTexts) {
        EXPECT_EQ(LoadText(t.number), t.text) << "message " << t.number;
    }
}

TEST(StringTable, NullInstanceMeansTheProgramItself) {
    char buffer[64];
    EXPECT_EQ(LoadStringA(nullptr, 5, buffer, sizeof buffer), 31);
    EXPECT_STREQ(buffer, "Application uninstall finished.");
}

TEST(StringTable, HasNothingOutsideItsMessages) {
    for (UINT id : {0u, kLastMessage + 1, kLastMessage + 2, 1000u}) {
        char buffer[64];
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(LoadStringA(Self(), id, buffer, sizeof buffer), 0) << "id " << id;
        EXPECT_EQ(buffer[0], '\0') << "id " << id;
    }
}

TEST(StringTable, TruncatesToTheBufferAndTerminates) {
    struct Case {
        int size;
        const char* expected;
    };
    const Case cases[] = {{1, ""},
                          {2, "U"},
                          {6, "Unins"},
                          {21, "Uninstall applicatio"},
                          {22, "Uninstall application"},
                          {100, "Uninstall application"}};
    for (const Case& c : cases) {
        char buffer[128];
        std::memset(buffer, 'x', sizeof buffer);
        int length = LoadStringA(Self(), 1, buffer, c.size);
        EXPECT_EQ(length, static_cast<int>(std::strlen(c.expected))) << "size " << c.size;
        EXPECT_STREQ(buffer, c.expected) << "size " << c.size;
        EXPECT_EQ(buffer[c.size], 'x') << "wrote past the buffer of size " << c.size;
    }
}

// ---- Dialog templates ------------------------------------------------------

struct Control {
    int id;
    const char* className;
    int x, y, cx, cy;
    const char* text;
    DWORD required;  // style bits that must be set
    DWORD forbidden; // style bits that must be clear
    bool bordered;
    bool checkSize; // icon statics size themselves to the icon
};

std::string ClassOf(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string TextOf(HWND window) {
    char text[512] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

// Each control's class, text, style and position in dialog units.
void CheckControls(HWND dialog, const Control* controls, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const Control& c = controls[i];
        SCOPED_TRACE("control " + std::to_string(c.id));
        HWND item = GetDlgItem(dialog, c.id);
        ASSERT_NE(item, nullptr);
        EXPECT_STRCASEEQ(ClassOf(item).c_str(), c.className);
        EXPECT_EQ(TextOf(item), c.text);
        DWORD style = static_cast<DWORD>(GetWindowLongA(item, GWL_STYLE));
        EXPECT_EQ(style & c.required, c.required) << std::hex << style;
        EXPECT_EQ(style & c.forbidden, 0u) << std::hex << style;
        // Windows turns the border of an edit or list box in a dialog into a
        // sunken client edge.
        DWORD exStyle = static_cast<DWORD>(GetWindowLongA(item, GWL_EXSTYLE));
        bool bordered = (style & WS_BORDER) || (exStyle & WS_EX_CLIENTEDGE);
        EXPECT_EQ(bordered, c.bordered);

        // Position and size are mapped each on its own, as the dialog
        // manager does when it creates the control.
        RECT expected = {c.x, c.y, c.cx, c.cy};
        ASSERT_TRUE(MapDialogRect(dialog, &expected));
        POINT origin = {0, 0};
        ASSERT_TRUE(ClientToScreen(dialog, &origin));
        RECT actual;
        ASSERT_TRUE(GetWindowRect(item, &actual));
        EXPECT_EQ(actual.left - origin.x, expected.left);
        EXPECT_EQ(actual.top - origin.y, expected.top);
        if (c.checkSize) {
            EXPECT_EQ(actual.right - actual.left, expected.right);
            EXPECT_EQ(actual.bottom - actual.top, expected.bottom);
        }
    }
}

void CheckDialogFrame(HWND dialog) {
    DWORD style = static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE));
    EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_VISIBLE),
              DWORD(WS_POPUP | WS_CAPTION | WS_VISIBLE))
        << std::hex << style;
    EXPECT_EQ(style & WS_SYSMENU, 0u) << "no system menu or close box";
    EXPECT_EQ(ClassOf(dialog), "#32770");
}

struct ScopedWindow {
    HWND handle;
    ~ScopedWindow() {
        if (handle) {
            DestroyWindow(handle);
        }
    }
};

TEST(DialogTemplates, ProgressWindowHasTheIconAndAnUnsortedList) {
    ScopedWindow dialog{CreateDialogParamA(Self(), "DLG_UNINSTALL", nullptr, nullptr, 0)};
    ASSERT_NE(dialog.handle, nullptr);
    CheckDialogFrame(dialog.handle);
    EXPECT_EQ(TextOf(dialog.handle), "Uninstall application");

    const Control controls[] = {
        {100, "Static", 6, 7, 23, 23, "", SS_ICON, 0, false, false},
        {101, "ListBox", 34, 4, 162, 92, "", LBS_NOTIFY | LBS_NOINTEGRALHEIGHT, LBS_SORT, true,
         true},
    };
    // The icon control names its icon by resource name; Windows shows the
    // icon and keeps no text, so only the class and place are compared.
    HWND icon = GetDlgItem(dialog.handle, 100);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(icon, GWL_STYLE)) & 0x1F, DWORD(SS_ICON));
    Control list = controls[1];
    CheckControls(dialog.handle, &list, 1);

    // Lines stay in the order added, and a list longer than the box can
    // be scrolled.
    for (int i = 40; i > 0; --i) {
        std::string line = "line " + std::to_string(i);
        ASSERT_EQ(SendDlgItemMessageA(dialog.handle, 101, LB_ADDSTRING, 0,
                                      reinterpret_cast<LPARAM>(line.c_str())),
                  40 - i);
    }
    ASSERT_EQ(SendDlgItemMessageA(dialog.handle, 101, LB_GETCOUNT, 0, 0), 40);
    char text[64];
    ASSERT_EQ(
        SendDlgItemMessageA(dialog.handle, 101, LB_GETTEXT, 0, reinterpret_cast<LPARAM>(text)), 7);
    EXPECT_STREQ(text, "line 40");
    SendDlgItemMessageA(dialog.handle, 101, LB_GETTEXT, 39, reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, "line 1");
    EXPECT_EQ(
        SendDlgItemMessageA(dialog.handle, 101, LB_GETTEXT, 40, reinterpret_cast<LPARAM>(text)),
        LB_ERR);
    DWORD listStyle = static_cast<DWORD>(GetWindowLongA(GetDlgItem(dialog.handle, 101), GWL_STYLE));
    EXPECT_TRUE(listStyle & WS_VSCROLL) << std::hex << listStyle;
    EXPECT_TRUE(UpdateWindow(GetDlgItem(dialog.handle, 101)));
}

TEST(DialogTemplates, SharedFileQuestionHasItsControlsInPlace) {
    ScopedWindow dialog{CreateDialogParamA(Self(), "DLG_DELSHARED", nullptr, nullptr, 0)};
    ASSERT_NE(dialog.handle, nullptr);
    CheckDialogFrame(dialog.handle);
    EXPECT_EQ(TextOf(dialog.handle), "");

    const DWORD label = WS_GROUP, button = WS_TABSTOP, field = ES_READONLY | ES_AUTOHSCROLL;
    const Control controls[] = {
        {101, "Static", 7, 9, 252, 59, "", label, 0, false, true},
        {103, "Static", 7, 80, 50, 8, "File name:", label, 0, false, true},
        {105, "Static", 7, 98, 50, 8, "Located in:", label, 0, false, true},
        {107, "Button", 25, 123, 50, 14, "Yes", button | BS_DEFPUSHBUTTON, 0, false, true},
        {108, "Button", 80, 123, 50, 14, "Yes To All", button, BS_DEFPUSHBUTTON, false, true},
        {109, "Button", 135, 123, 50, 14, "No", button, BS_DEFPUSHBUTTON, false, true},
        {110, "Button", 190, 123, 50, 14, "No To All", button, BS_DEFPUSHBUTTON, false, true},
        {104, "Edit", 64, 77, 192, 14, "", field, WS_TABSTOP, true, true},
        {106, "Edit", 64, 95, 192, 14, "", field, WS_TABSTOP, true, true},
    };
    CheckControls(dialog.handle, controls, std::size(controls));
    EXPECT_EQ(GetDlgItem(dialog.handle, 102), nullptr);
}

TEST(DialogTemplates, FilesInUseDialogHasItsControlsInPlace) {
    ScopedWindow dialog{CreateDialogParamA(Self(), "DLG_FILESINUSE", nullptr, nullptr, 0)};
    ASSERT_NE(dialog.handle, nullptr);
    CheckDialogFrame(dialog.handle);
    const DWORD button = WS_TABSTOP, list = ES_MULTILINE | ES_READONLY | WS_VSCROLL;
    const Control controls[] = {
        {101, "Static", 7, 7, 252, 40, "", WS_GROUP, 0, false, true},
        {102, "Edit", 7, 50, 252, 64, "", list, 0, true, true},
        {103, "Button", 7, 122, 96, 14, "Close the applications", button | BS_DEFPUSHBUTTON, 0,
         false, true},
        {104, "Button", 108, 122, 96, 14, "Continue without closing", button, BS_DEFPUSHBUTTON,
         false, true},
        {IDCANCEL, "Button", 209, 122, 50, 14, "Cancel", button, BS_DEFPUSHBUTTON, false, true},
    };
    CheckControls(dialog.handle, controls, std::size(controls));
}

// In a program that has dialog templates, a missing one is missing by name
// (a program without resources is told so otherwise: test_contract_window).
TEST(DialogTemplates, MissingTemplateCreatesNothing) {
    SetLastError(0);
    EXPECT_EQ(CreateDialogParamA(Self(), "DLG_NO_SUCH_THING", nullptr, nullptr, 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
    SetLastError(0);
    EXPECT_EQ(DialogBoxParamA(Self(), "DLG_NO_SUCH_THING", nullptr, nullptr, 0), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
}

// ---- A modal dialog answered from inside, as the shared-file question is ---

struct ModalRun {
    LPARAM initParam = 0;
    std::string nameField;
    std::string caption;
    int commands = 0;
};
ModalRun* run = nullptr;

INT_PTR CALLBACK AnsweringProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        run->initParam = lParam;
        SetWindowTextA(dialog, "Remove shared file?");
        SetDlgItemTextA(dialog, 104, "shared.dll");
        SetDlgItemTextA(dialog, 108, "Yes to all");
        {
            char text[64];
            GetDlgItemTextA(dialog, 104, text, sizeof text);
            run->nameField = text;
            GetWindowTextA(dialog, text, sizeof text);
            run->caption = text;
        }
        // Answered as a user would, through the dialog's own queue.
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(108, BN_CLICKED), 0);
        return 0;
    case WM_COMMAND:
        ++run->commands;
        if (LOWORD(wParam) == 108) {
            EndDialog(dialog, 10);
        }
        return 0;
    default:
        return 0;
    }
}

INT_PTR CALLBACK EndAtOnceProc(HWND dialog, UINT message, WPARAM, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        EndDialog(dialog, lParam);
    }
    return 0;
}

TEST(ModalDialog, RunsUntilTheProcedureEndsItAndReturnsItsResult) {
    ModalRun state;
    run = &state;
    INT_PTR result = DialogBoxParamA(Self(), "DLG_DELSHARED", nullptr, AnsweringProc, 1234);
    run = nullptr;
    EXPECT_EQ(result, 10);
    EXPECT_EQ(state.initParam, 1234);
    EXPECT_EQ(state.nameField, "shared.dll");
    EXPECT_EQ(state.caption, "Remove shared file?");
    EXPECT_GE(state.commands, 1);
}

TEST(ModalDialog, EndedWhileItInitialisesReturnsAtOnce) {
    EXPECT_EQ(DialogBoxParamA(Self(), "DLG_DELSHARED", nullptr, EndAtOnceProc, 7), 7);
    EXPECT_EQ(DialogBoxParamA(Self(), "DLG_UNINSTALL", nullptr, EndAtOnceProc, 9), 9);
}

TEST(ModalDialog, OwnedByTheProgressWindow) {
    ScopedWindow owner{CreateDialogParamA(Self(), "DLG_UNINSTALL", nullptr, nullptr, 0)};
    ASSERT_NE(owner.handle, nullptr);
    EXPECT_EQ(DialogBoxParamA(Self(), "DLG_DELSHARED", owner.handle, EndAtOnceProc, 6), 6);
    EXPECT_TRUE(IsWindow(owner.handle));
}

TEST(Windows, DestroyedWindowIsGone) {
    HWND dialog = CreateDialogParamA(Self(), "DLG_UNINSTALL", nullptr, nullptr, 0);
    ASSERT_NE(dialog, nullptr);
    HWND list = GetDlgItem(dialog, 101);
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_TRUE(SetWindowTextA(dialog, "Uninstall Foo"));
    EXPECT_EQ(TextOf(dialog), "Uninstall Foo");
    char small[5];
    EXPECT_EQ(GetWindowTextA(dialog, small, sizeof small), 4);
    EXPECT_STREQ(small, "Unin");
    ASSERT_EQ(SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("Removing files...")),
              0);
    EXPECT_EQ(SendMessageA(list, LB_GETTEXTLEN, 0, 0), 17);
    EXPECT_EQ(SendMessageA(list, LB_GETTEXTLEN, 1, 0), LB_ERR);
    EXPECT_TRUE(DestroyWindow(dialog));
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_FALSE(IsWindow(list));
    EXPECT_FALSE(SetWindowTextA(dialog, "x"));
}

} // namespace
