// The command line: the program's one splitter, the writer that is its exact
// inverse, and the process's own command line, which must split back into
// the arguments the program got. The suite runs once without and once with
// arguments (see base.cmake).
#include "ktCommandLine.h"
#include "winapi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using Args = std::vector<std::string>;

TEST(SplitCommandLine, SplitsAsTheProgramEntryReadsIt) {
    const struct {
        const char* line;
        Args expected;
    } cases[] = {
        {"", {}},
        {"   \t ", {}},
        {"UnVantrel.exe", {"UnVantrel.exe"}},
        {"UnVantrel.exe C:\\App\\install.log", {"UnVantrel.exe", "C:\\App\\install.log"}},
        {"  UnVantrel.exe   log  ", {"UnVantrel.exe", "log"}},
        {"\"C:\\Program Files\\UnVantrel.exe\" \"C:\\Program Files\\App\\install.log\"",
         {"C:\\Program Files\\UnVantrel.exe", "C:\\Program Files\\App\\install.log"}},
        // Every code from 1 to 32 separates, tabs and line ends included.
        {"a\tb\rc\nd\x01"
         "e\x1f"
         "f",
         {"a", "b", "c", "d", "e", "f"}},
        // Quotes open and close stretches anywhere, and are dropped.
        {"prog C:\\My\" \"Logs\\a.log", {"prog", "C:\\My Logs\\a.log"}},
        {"prog \"a b\"c\" d\"", {"prog", "a bc d"}},
        {"prog \"\" next", {"prog", "", "next"}},
        // An unclosed quote runs to the end of the line.
        {"prog \"open ended  arg", {"prog", "open ended  arg"}},
        // No escape character: a backslash before a quote is just a backslash.
        {"prog \"C:\\dir\\\" rest", {"prog", "C:\\dir\\", "rest"}},
        // Bytes above 127 are ordinary characters.
        {"prog C:\\Caf\xe9\\\xa0x.log", {"prog", "C:\\Caf\xe9\\\xa0x.log"}},
        {"prog first second third", {"prog", "first", "second", "third"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SplitCommandLine(c.line), c.expected) << "command line [" << c.line << "]";
    }
}

TEST(JoinCommandLine, WritesWhatTheSplitterGivesBack) {
    const struct {
        Args arguments;
        const char* line;
    } cases[] = {
        {{}, ""},
        {{"prog"}, "prog"},
        {{"prog", "C:\\App\\install.log", "/S"}, "prog C:\\App\\install.log /S"},
        {{"C:\\Program Files\\UnVantrel.exe", "C:\\My Logs\\a.log"},
         "\"C:\\Program Files\\UnVantrel.exe\" \"C:\\My Logs\\a.log\""},
        {{"prog", "", "next"}, "prog \"\" next"},
        {{""}, "\"\""},
        // Backslashes stay as they are, at the end of a quoted argument too.
        {{"prog", "C:\\dir\\", "C:\\two words\\"}, "prog C:\\dir\\ \"C:\\two words\\\""},
        {{"a\tb",
          "c\x01"
          "d",
          "x\r\ny"},
         "\"a\tb\" \"c\x01"
         "d\" \"x\r\ny\""},
        {{"\xe9t\xe9", "|marker|"}, "\xe9t\xe9 |marker|"},
    };
    for (const auto& c : cases) {
        std::string line = "untouched";
        ASSERT_TRUE(JoinCommandLine(c.arguments, line)) << c.line;
        EXPECT_EQ(line, c.line);
        EXPECT_EQ(SplitCommandLine(line), c.arguments) << line;
    }
    // A double quote or a NUL cannot come back through the splitter.
    for (const Args& refused :
         {Args{"prog", "say \"hi\""}, Args{"\""}, Args{"a", std::string("b\0c", 3)}}) {
        std::string line = "untouched";
        EXPECT_FALSE(JoinCommandLine(refused, line));
        EXPECT_EQ(line, "untouched");
    }
}

TEST(CommandLine, SplitsBackIntoTheProgramsArguments) {
    std::vector<std::string> argv = ::testing::internal::GetArgvs();
    ASSERT_FALSE(argv.empty());
    std::vector<std::string> split = SplitCommandLine(GetCommandLineA());
    ASSERT_FALSE(split.empty());
    EXPECT_NE(split[0].find("test_cmdline"), std::string::npos) << GetCommandLineA();
    // An empty argument comes back as an empty one ("" in the line). A
    // double quote cannot come back through the splitter: the argument
    // comes back as one, without it.
    std::vector<std::string> expected;
    for (size_t i = 1; i < argv.size(); ++i) {
        std::string argument = argv[i];
        argument.erase(std::remove(argument.begin(), argument.end(), '"'), argument.end());
        expected.push_back(argument);
    }
    EXPECT_EQ(std::vector<std::string>(split.begin() + 1, split.end()), expected)
        << GetCommandLineA();
}

} // namespace
