// The removal report: ANSI to UTF-8, JSON escaping and the object writer, the
// first and last lines, the report file's counts and identity.
#include "TestSupport.h"
#include "ktFileIdentity.h"
#include "ktJson.h"
#include "ktReport.h"
#include "ktText.h"

#include <string>

namespace {

TEST(Json, AnsiTextBecomesUtf8ThroughTheCodePage_CodePage1252Only) {
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

    EXPECT_EQ(ReportEndLine({{"removed", 2}, {"would-absent", 1}}, 3010, true, 15, false),
              "{\"type\":\"end\",\"counts\":{\"removed\":2,\"would-absent\":1},\"exit\":3010,"
              "\"restart\":true,\"duration_ms\":15,\"complete\":false}");
    EXPECT_EQ(ReportEndLine({}, 0, false, 0, true),
              "{\"type\":\"end\",\"counts\":{},\"exit\":0,\"restart\":false,\"duration_ms\":0,"
              "\"complete\":true}");
}

TEST(Json, ObjectWriterQuotesAndConvertsEachTextOnce_CodePage1252Only) {
    if (GetACP() != 1252) {
        GTEST_SKIP() << "the expected bytes are those of code page 1252";
    }
    TJsonObject inner;
    inner.Number("n", -3);
    EXPECT_EQ(TJsonObject()
                  .Text("a", "caf\xE9 \"q\"\\")
                  .Bool("b", true)
                  .TextArray("c", {"x", "\t"})
                  .TextArray("d", {})
                  .Object("e", inner)
                  .Done(),
              "{\"a\":\"caf\xC3\xA9 \\\"q\\\"\\\\\",\"b\":true,\"c\":[\"x\",\"\\t\"],\"d\":[],"
              "\"e\":{\"n\":-3}}");
    EXPECT_EQ(TJsonObject().Done(), "{}");
}

class ReportFileTest : public TempDirTest {};

// The end line counts exactly the entry lines written before it.
TEST_F(ReportFileTest, EndLineCountsTheEntryLinesWritten) {
    const std::string path = PathOf("report.jsonl");
    TReportFile report;
    ASSERT_TRUE(report.Create(path));
    EXPECT_TRUE(report.WriteLine("{\"type\":\"start\"}"));
    for (const char* outcome : {"removed", "absent", "removed"}) {
        EXPECT_TRUE(report.WriteEntry("{}", outcome));
    }
    EXPECT_TRUE(report.WriteEnd(3010, true, 7));
    EXPECT_FALSE(report.WriteFailed());
    report.Close();
    EXPECT_FALSE(report.WriteLine("{}")) << "a closed report writes nothing";
    EXPECT_EQ(ReadBytes(path),
              "{\"type\":\"start\"}\n{}\n{}\n{}\n"
              "{\"type\":\"end\",\"counts\":{\"removed\":2,\"absent\":1},"
              "\"exit\":3010,\"restart\":true,\"duration_ms\":7,\"complete\":true}\n");
}

// The report knows itself under every spelling of its path, and no other
// file under its name; SameFile agrees.
TEST_F(ReportFileTest, KnowsItselfUnderEverySpellingOfItsPath) {
    ASSERT_TRUE(CreateDirectoryA(PathOf("sub").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(PathOf("other").c_str(), nullptr));
    const std::string path = PathOf("sub\\Removal Report.jsonl");
    WriteBytes(PathOf("other\\Removal Report.jsonl"), "another file of the same name");
    WriteBytes(PathOf("sub\\removal.jsonl"), "another file in the same folder");
    TReportFile report;
    ASSERT_TRUE(report.Create(path));
    char shortPath[MAX_PATH] = {};
    ASSERT_GT(GetShortPathNameA(path.c_str(), shortPath, MAX_PATH), 0u);
    ASSERT_STRNE(shortPath, path.c_str()) << "the name has a short form";
    std::string slashed = path;
    for (char& c : slashed) {
        c = c == '\\' ? '/' : c;
    }
    struct Spelling {
        std::string path;
        bool same;
    };
    const Spelling spellings[] = {
        {path, true},
        {UpperCase(path), true},
        {shortPath, true},
        {slashed, true},
        {PathOf("other\\..\\sub\\Removal Report.jsonl"), true},
        {PathOf("sub\\\\removal report.JSONL"), true},
        {PathOf("other\\Removal Report.jsonl"), false},
        {PathOf("sub\\removal.jsonl"), false},
        {PathOf("sub\\Removal Report.jsonl.bak"), false},
        {PathOf("sub"), false},
    };
    for (const Spelling& s : spellings) {
        EXPECT_EQ(report.IsThisFile(s.path), s.same) << s.path;
    }
    report.Close();
    for (const Spelling& s : spellings) {
        EXPECT_EQ(SameFile(path, s.path), s.same) << s.path;
        EXPECT_FALSE(report.IsThisFile(s.path)) << "closed: " << s.path;
    }
    EXPECT_FALSE(SameFile(path, PathOf("missing.jsonl")));
    EXPECT_FALSE(SameFile(PathOf("missing.jsonl"), PathOf("missing.jsonl")));
    for (const Spelling& s : spellings) {
        EXPECT_EQ(SameFileOrName(path, s.path), s.same) << s.path;
    }
}

// A missing file is known by its name's normal form, in a missing folder too.
TEST_F(ReportFileTest, MissingFileIsKnownUnderEverySpellingOfItsName) {
    ASSERT_TRUE(CreateDirectoryA(PathOf("sub").c_str(), nullptr));
    const std::string path = PathOf("gone\\install.log");
    struct Spelling {
        std::string path;
        bool same;
    };
    const Spelling spellings[] = {
        {PathOf("GONE\\INSTALL.LOG"), true},
        {PathOf("gone/install.log"), true},
        {PathOf("sub\\..\\gone\\.\\install.log"), true},
        {PathOf("gone\\\\install.log"), true},
        {PathOf("gone\\install.log. "), true},
        {PathOf("gone\\install.log2"), false},
        {PathOf("sub\\install.log"), false},
        {PathOf("gone"), false},
    };
    for (const Spelling& s : spellings) {
        EXPECT_EQ(SameFileOrName(path, s.path), s.same) << s.path;
        EXPECT_FALSE(SameFile(path, s.path)) << "missing: " << s.path;
    }
}

} // namespace
