// Centred message boxes: where the box appears, its caption, the answer, and
// that the centring hook is gone once the box is. Each box is answered by a
// CBT hook of the test that posts the button to the box when it activates.
#include "ktArithm.h"
#include "ktHandle.h"
#include "ktUtils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Seen {
    int activations = 0;
    HWND box = nullptr;
    RECT rect = {0, 0, 0, 0};
    std::string caption;
    HHOOK centring = nullptr;
    bool hasYes = false, hasNo = false, hasOk = false;
};

Seen seen;
int answerWith = IDOK;

std::string TextOf(HWND window) {
    char text[256] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

LRESULT CALLBACK AnsweringHook(int code, WPARAM wParam, LPARAM) {
    if (code == HCBT_ACTIVATE) {
        HWND window = reinterpret_cast<HWND>(wParam);
        // Only the first activation is recorded: it is the one that centres.
        if (seen.activations++ == 0) {
            seen.box = window;
            GetWindowRect(window, &seen.rect);
            seen.caption = TextOf(window);
            seen.centring = MsgBoxHook();
            seen.hasYes = GetDlgItem(window, IDYES) != nullptr;
            seen.hasNo = GetDlgItem(window, IDNO) != nullptr;
            seen.hasOk = GetDlgItem(window, IDOK) != nullptr;
            PostMessageA(window, WM_COMMAND, MAKEWPARAM(answerWith, BN_CLICKED), 0);
        }
    }
    return 0;
}

class MsgBoxTest : public ::testing::Test {
  protected:
    void SetUp() override {
        seen = Seen();
        answerWith = IDOK;
        savedTitle = AppTitle;
        savedFlags = MsgBoxFlags;
        AppTitle.clear();
        MsgBoxFlags = 0;
        hook.Reset(SetWindowsHookExA(WH_CBT, AnsweringHook, nullptr, GetCurrentThreadId()));
        ASSERT_TRUE(hook.IsValid());
        ScreenSize(screenWidth, screenHeight);
        ASSERT_GT(screenWidth, 0);
        ASSERT_GT(screenHeight, 0);
    }
    void TearDown() override {
        hook.Close();
        AppTitle = savedTitle;
        MsgBoxFlags = savedFlags;
    }

    void ExpectCentred(const RECT& r) {
        LONG width = r.right - r.left, height = r.bottom - r.top;
        EXPECT_EQ(r.left, (screenWidth - width) / 2);
        EXPECT_EQ(r.top, (screenHeight - height) / 2);
    }

    // The centring hook was in place while the box was open and is gone now,
    // from the module's state and from the system.
    void ExpectHookGone() {
        EXPECT_NE(seen.centring, nullptr);
        EXPECT_EQ(MsgBoxHook(), nullptr);
        if (seen.centring) {
            EXPECT_FALSE(UnhookWindowsHookEx(seen.centring));
        }
    }

    TScopedHook hook;
    int screenWidth = 0, screenHeight = 0;

  private:
    std::string savedTitle;
    UINT savedFlags = 0;
};

TEST_F(MsgBoxTest, BoxIsCentredOnTheScreenAndTheHookRemoved) {
    int result = MsgBox(nullptr, "Vantrel Uninstaller", "Application uninstall finished.",
                        MB_ICONINFORMATION);
    EXPECT_EQ(result, IDOK);
    ASSERT_GE(seen.activations, 1);
    EXPECT_EQ(seen.caption, "Vantrel Uninstaller");
    ExpectCentred(seen.rect);
    ExpectHookGone();
    EXPECT_FALSE(IsWindow(seen.box));
}

TEST_F(MsgBoxTest, OwnedBoxIsCentredOnTheScreenNotOnItsOwner) {
    // The owner is made while the test's hook is out, so that only the box
    // is answered.
    hook.Close();
    HWND owner =
        CreateDialogParamA(GetModuleHandleA(nullptr), "DLG_UNINSTALL", nullptr, nullptr, 0);
    ASSERT_NE(owner, nullptr);
    TScopedWindow ownerGuard(owner);
    ASSERT_TRUE(SetWindowPos(owner, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER));
    hook.Reset(SetWindowsHookExA(WH_CBT, AnsweringHook, nullptr, GetCurrentThreadId()));
    ASSERT_TRUE(hook.IsValid());
    EXPECT_EQ(MsgBox(owner, "Owned", "A box owned by a window in the corner.", MB_OK), IDOK);
    ASSERT_GE(seen.activations, 1);
    EXPECT_NE(seen.box, owner);
    ExpectCentred(seen.rect);
    ExpectHookGone();
}

TEST_F(MsgBoxTest, FixedBoxesAreCaptionedErrorAndQuestionWithoutATitle) {
    ErrorBox("Installation log file was not specified!");
    EXPECT_EQ(seen.caption, "Error");
    EXPECT_TRUE(seen.hasOk);
    ExpectHookGone();

    seen = Seen();
    answerWith = IDNO;
    EXPECT_EQ(QuestionBox("Are you sure?"), IDNO);
    EXPECT_EQ(seen.caption, "Question");
    EXPECT_TRUE(seen.hasYes);
    EXPECT_TRUE(seen.hasNo);
    ExpectHookGone();
}

TEST_F(MsgBoxTest, FixedBoxesCarryTheTitleOnceSet) {
    AppTitle = "Vantrel Uninstaller";
    MsgBoxFlags = MB_SETFOREGROUND;
    ErrorBox("Cannot create DLG_UNINSTALL dialog!");
    EXPECT_EQ(seen.caption, "Vantrel Uninstaller");

    seen = Seen();
    answerWith = IDYES;
    EXPECT_EQ(QuestionBox("Remove it?"), IDYES);
    EXPECT_EQ(seen.caption, "Vantrel Uninstaller");
    ExpectCentred(seen.rect);
    ExpectHookGone();
}

TEST_F(MsgBoxTest, BoxThatCannotBeShownLeavesNoHook) {
    // A window handle that names no window: the box is never shown.
    HWND bogus = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7ff0));
    ASSERT_FALSE(IsWindow(bogus));
    // Windows gives 0, some versions -1: either way no button was pressed.
    EXPECT_LE(MsgBox(bogus, "Nowhere", "Never shown", MB_OK), 0);
    EXPECT_EQ(seen.activations, 0);
    EXPECT_EQ(MsgBoxHook(), nullptr);
}

TEST_F(MsgBoxTest, CentringHookLeavesOtherCbtCodesToTheSystem) {
    // A second box right after the first is centred again: the first one's
    // hook removal did not disturb the next MsgBox.
    EXPECT_EQ(MsgBox(nullptr, "One", "first", MB_OK), IDOK);
    seen = Seen();
    EXPECT_EQ(MsgBox(nullptr, "Two", "second", MB_OKCANCEL), IDOK);
    EXPECT_EQ(seen.caption, "Two");
    ExpectCentred(seen.rect);
    ExpectHookGone();
}

// CenterOnScreen on a window of the test's own, sized at will: a window that
// does not fit starts at the screen's edge in that direction.
class CenterOnScreenTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ScreenSize(screenWidth, screenHeight);
        window.Reset(
            CreateDialogParamA(GetModuleHandleA(nullptr), "DLG_DELSHARED", nullptr, nullptr, 0));
        ASSERT_TRUE(window.IsValid());
    }
    // Sizes the window and puts it in a corner; returns the size it got.
    void Place(int width, int height, RECT& rect) {
        ASSERT_TRUE(SetWindowPos(window.Get(), nullptr, 3, 5, width, height, SWP_NOZORDER));
        ASSERT_TRUE(GetWindowRect(window.Get(), &rect));
        ASSERT_EQ(rect.left, 3);
        ASSERT_EQ(rect.top, 5);
    }
    RECT Centre() {
        CenterOnScreen(window.Get());
        RECT rect;
        EXPECT_TRUE(GetWindowRect(window.Get(), &rect));
        return rect;
    }
    TScopedWindow window;
    int screenWidth = 0, screenHeight = 0;
};

TEST_F(CenterOnScreenTest, SmallWindowGoesToTheMiddleKeepingItsSize) {
    RECT before;
    Place(301, 151, before);
    RECT after = Centre();
    EXPECT_EQ(after.right - after.left, before.right - before.left);
    EXPECT_EQ(after.bottom - after.top, before.bottom - before.top);
    EXPECT_EQ(after.left, (screenWidth - (before.right - before.left)) / 2);
    EXPECT_EQ(after.top, (screenHeight - (before.bottom - before.top)) / 2);
}

TEST_F(CenterOnScreenTest, WindowTallerThanTheScreenStartsAtTheTop) {
    RECT before;
    Place(300, screenHeight + 300, before);
    LONG height = before.bottom - before.top;
    ASSERT_GT(height, screenHeight) << "the window should not fit";
    RECT after = Centre();
    EXPECT_EQ(after.top, 0);
    EXPECT_EQ(after.bottom, height);
    EXPECT_EQ(after.left, (screenWidth - 300) / 2);
}

TEST_F(CenterOnScreenTest, WindowWiderThanTheScreenStartsAtTheLeft) {
    RECT before;
    Place(screenWidth + 300, 200, before);
    LONG width = before.right - before.left;
    ASSERT_GT(width, screenWidth) << "the window should not fit";
    RECT after = Centre();
    EXPECT_EQ(after.left, 0);
    EXPECT_EQ(after.right, width);
    EXPECT_EQ(after.top, (screenHeight - 200) / 2);
}

// The thread's queue: posted messages in order, the quit after them, and a
// message posted to a dialog reaches its procedure when dispatched.
TEST(MessageQueue, QuitComesAfterWhatWasPostedBeforeIt) {
    ASSERT_TRUE(PostMessageA(nullptr, WM_USER + 1, 11, 0));
    PostQuitMessage(3);
    ASSERT_TRUE(PostMessageA(nullptr, WM_USER + 2, 22, 0));
    std::vector<UINT> order;
    WPARAM quitCode = 0;
    MSG msg;
    while (PeekMessageA(&msg, nullptr, WM_USER, WM_USER + 10, PM_REMOVE)) {
        order.push_back(msg.message);
        if (msg.message == WM_QUIT) {
            quitCode = msg.wParam;
        }
        ASSERT_LT(order.size(), 10u) << "the queue does not empty";
    }
    EXPECT_EQ(order, (std::vector<UINT>{WM_USER + 1, WM_USER + 2, WM_QUIT}));
    EXPECT_EQ(quitCode, 3u);
}

int dispatched = 0;
INT_PTR CALLBACK CountingProc(HWND, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_USER + 5) {
        dispatched += static_cast<int>(wParam);
    }
    return 0;
}

TEST(MessageQueue, PostedMessageIsDispatchedToTheDialog) {
    TScopedWindow dialog(
        CreateDialogParamA(GetModuleHandleA(nullptr), "DLG_UNINSTALL", nullptr, CountingProc, 0));
    ASSERT_TRUE(dialog.IsValid());
    dispatched = 0;
    ASSERT_TRUE(PostMessageA(dialog.Get(), WM_USER + 5, 4, 0));
    MSG msg;
    bool found = false;
    while (PeekMessageA(&msg, dialog.Get(), WM_USER + 5, WM_USER + 5, PM_REMOVE)) {
        EXPECT_EQ(msg.hwnd, dialog.Get());
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        found = true;
    }
    EXPECT_TRUE(found);
    EXPECT_EQ(dispatched, 4);
    EXPECT_FALSE(PeekMessageA(&msg, dialog.Get(), WM_USER + 5, WM_USER + 5, PM_NOREMOVE));
}

bool IsNativeBuild() {
    return GetModuleHandleA("user32.dll") == nullptr;
}

TEST(ScreenSize, NativeScreenIsSetFromTheEnvironment_NativeOnly) {
    if (!IsNativeBuild()) {
        GTEST_SKIP() << "the screen size is chosen by the environment only natively";
    }
    struct Case {
        const char* setting;
        int width, height;
    };
    const Case cases[] = {{"800x600", 800, 600}, {"1920x1080", 1920, 1080},
                          {nullptr, 1024, 768},  {"800", 1024, 768},
                          {"0x600", 1024, 768},  {"800x600x", 1024, 768}};
    for (const Case& c : cases) {
        ASSERT_TRUE(SetEnvironmentVariableA("VANTREL_SCREEN", c.setting));
        int width = 0, height = 0;
        ScreenSize(width, height);
        EXPECT_EQ(width, c.width) << (c.setting ? c.setting : "(unset)");
        EXPECT_EQ(height, c.height) << (c.setting ? c.setting : "(unset)");
    }
    ASSERT_TRUE(SetEnvironmentVariableA("VANTREL_SCREEN", nullptr));
}

// FitToScreen is pure arithmetic on the screen size; rectangles are given
// relative to it so the table holds on any screen.
TEST(FitToScreen, MovesARectangleOntoTheScreenKeepingItsSize) {
    int w = 0, h = 0;
    ScreenSize(w, h);
    ASSERT_GT(w, 200);
    ASSERT_GT(h, 200);
    struct Case {
        const char* what;
        RECT in;
        RECT out;
    };
    const Case cases[] = {
        {"inside stays", {10, 20, 110, 120}, {10, 20, 110, 120}},
        {"exactly the screen", {0, 0, w, h}, {0, 0, w, h}},
        {"past the right edge", {w - 50, 10, w + 50, 60}, {w - 100, 10, w, 60}},
        {"past the left edge", {-30, 10, 70, 60}, {0, 10, 100, 60}},
        {"past the bottom", {10, h - 10, 60, h + 90}, {10, h - 100, 60, h}},
        {"past the top", {10, -5, 60, 45}, {10, 0, 60, 50}},
        {"past two edges", {-10, -20, 90, 80}, {0, 0, 100, 100}},
        {"wider than the screen", {-60, 10, w + 40, 60}, {0, 10, w + 100, 60}},
        {"wider, off to the right", {30, 10, w + 130, 60}, {0, 10, w + 100, 60}},
        {"taller than the screen", {10, -70, 60, h + 30}, {10, 0, 60, h + 100}},
        {"both larger", {-1, -1, w + 1, h + 1}, {0, 0, w + 2, h + 2}},
    };
    for (const Case& c : cases) {
        RECT r = c.in;
        FitToScreen(r);
        EXPECT_EQ(r.left, c.out.left) << c.what;
        EXPECT_EQ(r.top, c.out.top) << c.what;
        EXPECT_EQ(r.right, c.out.right) << c.what;
        EXPECT_EQ(r.bottom, c.out.bottom) << c.what;
    }
}

TEST(IfThen, PicksByTheCondition) {
    EXPECT_EQ(IfThen<std::string>(true, "Error", "Title"), "Error");
    EXPECT_EQ(IfThen<std::string>(false, "Error", "Title"), "Title");
    EXPECT_EQ(IfThen(false, 1, 2), 2);
}

} // namespace
