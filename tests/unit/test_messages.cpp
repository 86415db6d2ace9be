// Message texts: built-in string table, overrides from the install log's
// section "Strings", "||" as a carriage return.
#include "ExpectedTexts.h"
#include "TestSupport.h"

#include "UnVantrel.h"
#include "ktIniFile.h"
#include "ktIniCache.h"
#include "ktStrUtils.h"

namespace {

class MessagesTest : public TempDirTest {
  protected:
    void SetUp() override {
        TempDirTest::SetUp();
        FreeIniFiles();
        ModuleHandle = GetModuleHandleA(nullptr);
        InstallLogPath = PathOf("install.log");
    }
    void TearDown() override {
        FreeIniFiles();
        InstallLogPath.clear();
        TempDirTest::TearDown();
    }
};

TEST_F(MessagesTest, BuiltInTextsWithoutLog) {
    // The string table's "||" reaches the user as a carriage return.
    for (const TExpectedText& t : kExpectedTexts) {
        EXPECT_EQ(GetMessageText(static_cast<int>(t.number)), ReplaceAll(t.text, "||", "\r"))
            << "message " << t.number;
    }
    // No built-in text and no override: the empty text, no error.
    EXPECT_EQ(GetMessageText(0), "");
    EXPECT_EQ(GetMessageText(static_cast<int>(kLastMessage) + 1), "");
    EXPECT_EQ(GetMessageText(999), "");
}

TEST_F(MessagesTest, OverridesFromTheLog) {
    WriteBytes(InstallLogPath, "[Strings]\r\n"
                               "5=All gone.\r\n"
                               "4=\r\n"
                               "1=First\r\n"
                               "1=Second\r\n"
                               "6=  \"quoted, trimmed\"  \r\n"
                               "99=Beyond the table\r\n"
                               "3=never %s\r\n");
    EXPECT_EQ(GetMessageText(5), "All gone.");
    // An empty override leaves the built-in text.
    EXPECT_EQ(GetMessageText(4), "Are you sure you want to completely remove the selected "
                                 "application and all of its components?");
    // The first of two entries counts.
    EXPECT_EQ(GetMessageText(1), "First");
    EXPECT_EQ(GetMessageText(6), "quoted, trimmed");
    EXPECT_EQ(GetMessageText(99), "Beyond the table");
    EXPECT_EQ(GetMessageText(7), "Removing registry values...");
}

TEST_F(MessagesTest, KeyWithLeadingZeroDoesNotMatch) {
    WriteBytes(InstallLogPath, "[Strings]\r\n05=Zero-padded\r\n+6=Signed\r\n");
    EXPECT_EQ(GetMessageText(5), "Application uninstall finished.");
    EXPECT_EQ(GetMessageText(6), "Removing files...");
}

TEST_F(MessagesTest, OverrideInAnotherSectionIsIgnored) {
    WriteBytes(InstallLogPath, "[Other]\r\n5=Wrong section\r\n[strings]\r\n6=Right section\r\n");
    EXPECT_EQ(GetMessageText(5), "Application uninstall finished.");
    EXPECT_EQ(GetMessageText(6), "Right section");
}

TEST_F(MessagesTest, BarsBecomeCarriageReturns) {
    WriteBytes(InstallLogPath, "[Strings]\r\n"
                               "7=first||second\r\n"
                               "8=a|||b\r\n"
                               "9=a||||b\r\n"
                               "10=|a|b|\r\n"
                               "11=||\r\n");
    const struct {
        int number;
        const char* text;
    } cases[] = {
        {7, "first\rsecond"}, {8, "a\r|b"}, {9, "a\r\rb"}, {10, "|a|b|"}, {11, "\r"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetMessageText(c.number), c.text) << "message " << c.number;
    }
}

TEST_F(MessagesTest, LogStaysLoadedAfterItsFileIsDeleted) {
    WriteBytes(InstallLogPath, "[Strings]\r\n5=From memory\r\n");
    EXPECT_EQ(GetMessageText(4).substr(0, 12), "Are you sure");
    ASSERT_TRUE(DeleteFileA(InstallLogPath.c_str()));
    EXPECT_EQ(GetMessageText(5), "From memory");
    FreeIniFiles();
    EXPECT_EQ(GetMessageText(5), "Application uninstall finished.");
}

TEST_F(MessagesTest, LogThatCannotBeOpenedRaisesTheEngineError) {
    WriteBytes(InstallLogPath, "[Strings]\r\n5=x\r\n");
    HANDLE holder = CreateFileA(InstallLogPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_THROW(GetMessageText(5), EIniFileError);
    CloseHandle(holder);
    EXPECT_EQ(GetMessageText(5), "x");
}

} // namespace
