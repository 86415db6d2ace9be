// The option parser: which arguments are options, which one is the log path,
// what each option sets, and which are refused (and named) as unknown or
// badly valued.
#include "Options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct OptionCase {
    std::vector<std::string> arguments;
    const char* logPath;
    bool silent;
    bool passive;
    bool preview;
    bool sharedRemove;
    const char* reportPath;
    const char* badOption;
};

const OptionCase kCases[] = {
    // letter case of the name is ignored; the value keeps its own
    {{"a.log", "/s", "/Log=Out\\R.jsonl"}, "a.log", true, false, false, false, "Out\\R.jsonl", ""},
    {{"a.log", "/PASSIVE", "/shared=Remove"}, "a.log", false, true, false, true, "", ""},
    {{"a.log", "/Preview", "/LOG=r.jsonl"}, "a.log", false, false, true, false, "r.jsonl", ""},
    // options before the log path are options too
    {{"/S", "C:\\App\\install.log"}, "C:\\App\\install.log", true, false, false, false, "", ""},
    {{"/LOG=r", "/S", "x.log", "/PASSIVE"}, "x.log", true, true, false, false, "r", ""},
    // the known options written with "-", before and after the log path
    {{"-s", "a.log", "-PASSIVE", "-log=FILE", "-Preview", "-SHARED=remove"},
     "a.log",
     true,
     true,
     true,
     true,
     "FILE",
     ""},
    // a "-" argument that names no option is an argument like any other:
    // the log path when it comes first, ignored after it
    {{"-x.log", "-S"}, "-x.log", true, false, false, false, "", ""},
    {{"a.log", "-Q", "more", "/S"}, "a.log", true, false, false, false, "", ""},
    // a known name with a bad value is refused in either spelling
    {{"a.log", "-SHARED=KEEP"}, "a.log", false, false, false, false, "", "-SHARED=KEEP"},
    {{"-LOG", "a.log"}, "a.log", false, false, false, false, "", "-LOG"},
    // options and no log path
    {{"/S", "/LOG=r"}, "", true, false, false, false, "r", ""},
    {{}, "", false, false, false, false, "", ""},
    // only the first "=" separates name and value
    {{"a.log", "/LOG=C:\\a=b.txt"}, "a.log", false, false, false, false, "C:\\a=b.txt", ""},
    // a later repetition wins
    {{"a.log", "/LOG=one", "/LOG=two"}, "a.log", false, false, false, false, "two", ""},
    // refused: the first bad option is the one named
    {{"a.log", "/S", "/Q", "/Z"}, "a.log", true, false, false, false, "", "/Q"},
    {{"a.log", "/LOG="}, "a.log", false, false, false, false, "", "/LOG="},
    {{"a.log", "/LOG"}, "a.log", false, false, false, false, "", "/LOG"},
    {{"a.log", "/S=1"}, "a.log", false, false, false, false, "", "/S=1"},
    {{"a.log", "/SHARED"}, "a.log", false, false, false, false, "", "/SHARED"},
    {{"a.log", "/"}, "a.log", false, false, false, false, "", "/"},
    {{"/SILENT", "a.log"}, "a.log", false, false, false, false, "", "/SILENT"},
    // a preview exists only as its report, in either spelling
    {{"a.log", "/preview", "/S"}, "a.log", true, false, true, false, "", "/preview"},
    {{"-PREVIEW", "a.log"}, "a.log", false, false, true, false, "", "-PREVIEW"},
    // a bad option is named even after a preview without a report
    {{"a.log", "/PREVIEW", "/X"}, "a.log", false, false, true, false, "", "/X"},
};

TEST(ParseOptions, EachOptionSetsItsPolicyAndBadOnesAreNamed) {
    for (const OptionCase& c : kCases) {
        std::string all;
        for (const std::string& argument : c.arguments) {
            all += argument + " ";
        }
        SCOPED_TRACE(all);
        TRunOptions options = ParseOptions(c.arguments);
        EXPECT_EQ(options.logPath, c.logPath);
        EXPECT_EQ(options.silent, c.silent);
        EXPECT_EQ(options.passive, c.passive);
        EXPECT_EQ(options.preview, c.preview);
        EXPECT_EQ(options.sharedRemove, c.sharedRemove);
        EXPECT_EQ(options.reportPath, c.reportPath);
        EXPECT_EQ(options.badOption, c.badOption);
        EXPECT_EQ(options.Valid(), std::string(c.badOption).empty());
    }
}

TEST(ParseOptions, OnlyOptionsAreGivenAndOtherArgumentsAreNot) {
    TRunOptions none = ParseOptions({"a.log", "extra", "S", "-X", ""});
    EXPECT_EQ(none.logPath, "a.log");
    EXPECT_FALSE(none.any);
    EXPECT_TRUE(none.Valid());
    EXPECT_TRUE(none.given.empty());
    EXPECT_FALSE(none.Unattended());
    EXPECT_TRUE(none.ShowsBoxes());

    TRunOptions some = ParseOptions({"-S", "a.log", "/passive", "more", "/Log=r.jsonl"});
    EXPECT_TRUE(some.any);
    EXPECT_EQ(some.given, (std::vector<std::string>{"-S", "/passive", "/Log=r.jsonl"}));
    EXPECT_TRUE(some.Unattended());
    EXPECT_FALSE(some.ShowsBoxes());
    EXPECT_TRUE(ParseOptions({"a.log", "/PASSIVE"}).ShowsBoxes());
}

TEST(ParseOptions, CloseAppsWithSlashOrDashAndNoValue) {
    struct Case {
        std::vector<std::string> arguments;
        bool closeApps;
        const char* badOption;
    } cases[] = {
        {{"/S", "/CLOSEAPPS"}, true, ""},
        {{"/passive", "-closeapps"}, true, ""},
        {{"/S"}, false, ""},
        {{"/CLOSEAPPS=1"}, false, "/CLOSEAPPS=1"},
        {{"-CLOSEAPPS=1"}, false, "-CLOSEAPPS=1"}, // a known option: its bad value counts
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        TRunOptions options = ParseOptions(c.arguments);
        EXPECT_EQ(options.closeApps, c.closeApps);
        EXPECT_EQ(options.badOption, c.badOption);
    }
}

} // namespace
