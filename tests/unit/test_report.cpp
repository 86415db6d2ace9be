// The removal report's text: ANSI to UTF-8, JSON escaping, the first and last
// lines.
#include "TestSupport.h"
#include "ktJson.h"
#include "ktReport.h"
#include "ktStringList.h"
#include "ktUtils.h"
#include "ktText.h"
#include "ktSystemText.h"
#include "ktFileUtils.h"

#include <string>

namespace {

TEST(Json, AnsiTextBecomesUtf8ThroughTheCodePage) {
    if (GetACP() != 1252) {
        GTEST_SKIP() << "the expected bytes are those of code page 1252";
    }
    EXPECT_EQ(AnsiToUtf8("plain C:\\x"), "plain C:\\x");
    EXPECT_EQ(AnsiToUtf8("caf\xE9"), "caf\xC3\xA9");             // U+00E9
    EXPECT_EQ(AnsiToUtf8("\x80 \x9F"), "\xE2\x82\xAC \xC5\xB8"); // euro sign, U+0178
    EXPECT_EQ(AnsiToUtf8("\xFF"), "\xC3\xBF");                   // U+00FF
    EXPECT_EQ(AnsiToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(Json, QuotingEscapesQuotesBackslashesAndControls) {
    EXPECT_EQ(JsonQuote(""), "\"\"");
    EXPECT_EQ(JsonQuote("C:\\Dir\\\"x\""), "\"C:\\\\Dir\\\\\\\"x\\\"\"");
    EXPECT_EQ(JsonQuote("a\r\nb\tc\b\f"), "\"a\\r\\nb\\tc\\b\\f\"");
    EXPECT_EQ(JsonQuote(std::string("\x01\x1f\x7f\0", 4)), "\"\\u0001\\u001f\\u007f\\u0000\"");
    // UTF-8 passes unchanged; "/" needs no escape
    EXPECT_EQ(JsonQuote("\xC3\xA9/"), "\"\xC3\xA9/\"");
}

TEST(Report, FirstAndLastLinesCarryTheirKeysInOrder) {
    std::string start = ReportStartLine("1.0.0.0", "C:\\a \"b\".log", {"/S", "/LOG=r.jsonl"},
                                        "2026-12-09T03:00:00Z");
    const std::string head = "{\"type\":\"start\",\"program\":\"Vantrel Uninstaller\","
                             "\"version\":\"1.0.0.0\",\"log\":\"C:\\\\a \\\"b\\\".log\","
                             "\"options\":[\"/S\",\"/LOG=r.jsonl\"],\"platform\":{\"family\":\"";
    ASSERT_EQ(start.compare(0, head.size(), head), 0) << start;
    const std::string tail = "\"},\"start\":\"2026-12-09T03:00:00Z\"}";
    ASSERT_GT(start.size(), tail.size());
    EXPECT_EQ(start.substr(start.size() - tail.size()), tail) << start;

    EXPECT_EQ(ReportEndLine("{\"removed\":2}", 3010, true, 15),
              "{\"type\":\"end\",\"counts\":{\"removed\":2},\"exit\":3010,\"restart\":true,"
              "\"duration_ms\":15}");
}

TEST(Report, TimestampIsUtcIso8601) {
    std::string stamp = UtcTimestamp();
    ASSERT_EQ(stamp.size(), 20u) << stamp;
    for (size_t i : {4u, 7u}) {
        EXPECT_EQ(stamp[i], '-');
    }
    EXPECT_EQ(stamp[10], 'T');
    EXPECT_EQ(stamp[13], ':');
    EXPECT_EQ(stamp[19], 'Z');
    EXPECT_GE(stamp.substr(0, 4), "2020");
}

TEST(Report, SystemErrorTextHasNoTrailingLineBreak) {
    std::string text = SystemErrorText(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n');
    EXPECT_NE(text.back(), '\r');
}

} // namespace
