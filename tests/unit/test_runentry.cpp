// The run's own helpers: the message-3 format, the section loader, the kept
// shared files and the progress lines.
#include "TestSupport.h"

#include "UnVantrel.h"
#include "ktHandle.h"

#include "resource.h"
#include "ktIniCache.h"

#include <vector>

namespace {

using Args = std::vector<std::string>;

TEST(FormatOneString, PutsThePathInPlaceOfTheFirstPlaceholder) {
    const struct {
        const char* format;
        const char* expected;
    } cases[] = {
        {"Installation log file %s not found!", "Installation log file C:\\x.log not found!"},
        {"%s", "C:\\x.log"},
        {"no placeholder", "no placeholder"},
        {"100%% sure: %s", "100% sure: C:\\x.log"},
        {"%s and %s", "C:\\x.log and %s"},
        {"%d stays", "%d stays"},
        {"trailing %", "trailing %"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatOneString(c.format, "C:\\x.log"), c.expected) << c.format;
    }
    // The value is inserted as it is, never read as a format itself.
    EXPECT_EQ(FormatOneString("[%s]", "%s%d%%"), "[%s%d%%]");
}

class RunStateTest : public TempDirTest {
  protected:
    void SetUp() override {
        TempDirTest::SetUp();
        FreeIniFiles();
        InstallLogPath = PathOf("install.log");
    }
    void TearDown() override {
        FreeIniFiles();
        InstallLogPath.clear();
        SectionEntries.Clear();
        KeptSharedFiles.Clear();
        TempDirTest::TearDown();
    }
};

TEST_F(RunStateTest, LoadSectionRefillsTheEntries) {
    WriteBytes(InstallLogPath, "[CopyFiles]\r\n"
                               "C:\\App\\a.exe=1\r\n"
                               "c:\\app\\A.EXE=2\r\n"
                               "C:\\App\\b.dll=\r\n"
                               "[CreateDirs]\r\n"
                               "C:\\App=\r\n");
    SectionEntries.Add("stale=line");
    LoadSection("CopyFiles");
    // Names equal apart from case stand once, at the first place, written as
    // the last one spells it, with its value.
    EXPECT_EQ(SectionEntries.ToVector(), (Args{"c:\\app\\A.EXE=2", "C:\\App\\b.dll="}));
    LoadSection("createdirs");
    EXPECT_EQ(SectionEntries.ToVector(), (Args{"C:\\App="}));
    LoadSection("Missing");
    EXPECT_TRUE(SectionEntries.Empty());

    InstallLogPath = PathOf("absent.log");
    SectionEntries.Add("stale=line");
    LoadSection("CopyFiles");
    EXPECT_TRUE(SectionEntries.Empty());
}

TEST_F(RunStateTest, KeptSharedFilesAreFoundByNameOnly) {
    KeptSharedFiles.Add("C:\\Windows\\System\\Shared.dll=1");
    KeptSharedFiles.Add("C:\\NoEquals.dll");
    KeptSharedFiles.Add("=C:\\EmptyName.dll");
    EXPECT_TRUE(InKeptSharedFiles("C:\\Windows\\System\\Shared.dll"));
    EXPECT_TRUE(InKeptSharedFiles("c:\\windows\\system\\SHARED.DLL"));
    EXPECT_FALSE(InKeptSharedFiles("C:\\Windows\\System\\Shared"));
    EXPECT_FALSE(InKeptSharedFiles("C:\\NoEquals.dll"));
    EXPECT_FALSE(InKeptSharedFiles("C:\\EmptyName.dll"));
    EXPECT_FALSE(InKeptSharedFiles("1"));
}

std::vector<std::string> ListLines(HWND dialog) {
    std::vector<std::string> lines;
    LRESULT count = SendDlgItemMessageA(dialog, IDC_PROGRESS_LIST, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        LRESULT length = SendDlgItemMessageA(dialog, IDC_PROGRESS_LIST, LB_GETTEXTLEN, i, 0);
        std::string text(length > 0 ? length : 0, '\0');
        std::vector<char> buffer(text.size() + 1);
        SendDlgItemMessageA(dialog, IDC_PROGRESS_LIST, LB_GETTEXT, i,
                            reinterpret_cast<LPARAM>(buffer.data()));
        lines.emplace_back(buffer.data());
    }
    return lines;
}

TEST(ProgressWindow, LinesStayInTheOrderAdded) {
    ModuleHandle = GetModuleHandleA(nullptr);
    TScopedWindow window(CreateDialogParamA(ModuleHandle, RES_DLG_UNINSTALL, nullptr, nullptr, 0));
    ASSERT_TRUE(window.IsValid());
    ProgressWindow = window.Get();
    AddProgressCaption("Removing files...");
    AddProgressCaption("Checking shared files...");
    AddProgressCaption("Removing files...");
    EXPECT_EQ(ListLines(window.Get()),
              (Args{"Removing files...", "Checking shared files...", "Removing files..."}));
    ProgressWindow = nullptr;
}

} // namespace
