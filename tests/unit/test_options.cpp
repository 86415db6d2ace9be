// The option parser: which arguments are options, what each sets, and which
// are refused (and named) as unknown or badly valued.
#include "Options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct OptionCase {
    std::vector<std::string> arguments;
    bool silent;
    bool passive;
    bool preview;
    bool sharedRemove;
    const char* reportPath;
    const char* badOption;
};

const OptionCase kCases[] = {
    // letter case of the name is ignored; the value keeps its own
    {{"/s", "/Log=Out\\R.jsonl"}, true, false, false, false, "Out\\R.jsonl", ""},
    {{"/PASSIVE", "/shared=Remove"}, false, true, false, true, "", ""},
    {{"/Preview", "/LOG=r.jsonl"}, false, false, true, false, "r.jsonl", ""},
    // only the first "=" separates name and value
    {{"/LOG=C:\\a=b.txt"}, false, false, false, false, "C:\\a=b.txt", ""},
    // a later repetition wins
    {{"/LOG=one", "/LOG=two"}, false, false, false, false, "two", ""},
    // refused: the first bad option is the one named
    {{"/S", "/Q", "/Z"}, true, false, false, false, "", "/Q"},
    {{"/LOG="}, false, false, false, false, "", "/LOG="},
    {{"/LOG"}, false, false, false, false, "", "/LOG"},
    {{"/S=1"}, false, false, false, false, "", "/S=1"},
    {{"/SHARED=KEEP"}, false, false, false, false, "", "/SHARED=KEEP"},
    {{"/SHARED"}, false, false, false, false, "", "/SHARED"},
    {{"/"}, false, false, false, false, "", "/"},
    {{"/SILENT"}, false, false, false, false, "", "/SILENT"},
    // a preview exists only as its report
    {{"/preview", "/S"}, true, false, true, false, "", "/preview"},
    // a bad option is named even after a preview without a report
    {{"/PREVIEW", "/X"}, false, false, true, false, "", "/X"},
};

TEST(ParseOptions, EachOptionSetsItsPolicyAndBadOnesAreNamed) {
    for (const OptionCase& c : kCases) {
        SCOPED_TRACE(c.arguments.front());
        TRunOptions options = ParseOptions(c.arguments);
        EXPECT_TRUE(options.any);
        EXPECT_EQ(options.silent, c.silent);
        EXPECT_EQ(options.passive, c.passive);
        EXPECT_EQ(options.preview, c.preview);
        EXPECT_EQ(options.sharedRemove, c.sharedRemove);
        EXPECT_EQ(options.reportPath, c.reportPath);
        EXPECT_EQ(options.badOption, c.badOption);
        EXPECT_EQ(options.Valid(), std::string(c.badOption).empty());
    }
}

TEST(ParseOptions, ArgumentsWithoutSlashAreIgnoredAndOptionsKeptAsGiven) {
    TRunOptions none = ParseOptions({"extra", "S", "-S", ""});
    EXPECT_FALSE(none.any);
    EXPECT_TRUE(none.Valid());
    EXPECT_TRUE(none.given.empty());
    EXPECT_FALSE(none.Unattended());
    EXPECT_TRUE(none.ShowsBoxes());

    TRunOptions some = ParseOptions({"extra", "/passive", "more", "/Log=r.jsonl"});
    EXPECT_TRUE(some.any);
    EXPECT_EQ(some.given, (std::vector<std::string>{"/passive", "/Log=r.jsonl"}));
    EXPECT_TRUE(some.Unattended());
    EXPECT_TRUE(some.ShowsBoxes());
    EXPECT_FALSE(ParseOptions({"/S"}).ShowsBoxes());
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
        {{"-CLOSEAPPS=1"}, false, ""}, // only "-CLOSEAPPS" itself is an option
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        TRunOptions options = ParseOptions(c.arguments);
        EXPECT_EQ(options.closeApps, c.closeApps);
        EXPECT_EQ(options.badOption, c.badOption);
    }
}

} // namespace
