#include "ktStrUtils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
const std::string kDq = "\"";

struct FieldCase {
    std::string text;
    int32_t field;
    std::string expected;
};

TEST(GetFieldTest, SplitsAtCommasOutsideQuotes) {
    const std::vector<FieldCase> cases = {
        {"a,b,c", 1, "a"},
        {"a,b,c", 2, "b"},
        {"a,b,c", 3, "c"},
        {"a,b,c", 4, ""},
        {"a,,c", 2, ""},
        {"a,,c", 3, "c"},
        {"a,b", 0, "a"},
        {"a,b", -5, "a"},
        {"'x,y',z", 1, "x,y"},
        {"'x,y',z", 2, "z"},
        {kDq + "x,y" + kDq + ",z", 1, kDq + "x,y" + kDq},
        {kDq + "x,y" + kDq + ",z", 2, "z"},
        {"'it''s',b", 1, "it's"},
        {"'it''s',b", 2, "b"},
        {"a'b,c", 1, "a'b,c"},
        {"'a,b", 2, ""},
        {"C:\\W.INI, Sect , Key", 2, " Sect "},
        {"C:\\W.INI, Sect , Key", 3, " Key"},
        {"", 1, ""},
        {"", 3, ""},
        // A quote of the other kind inside a quoted stretch is plain text.
        {"'a\"b',c", 1, "a\"b"},
        {"\"a'b\",c", 2, "c"},
        // Only a field that begins with a single quote is unquoted.
        {"x,'y''z'w", 2, "y'z"},
        {"x, 'y'", 2, " 'y'"},
        {"a,b,", 3, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetField(c.field, c.text, CommaSet()), c.expected)
            << "text [" << c.text << "] field " << c.field;
    }
}

TEST(GetFieldTest, UsesTheGivenDelimiterSet) {
    CharSet set{';', '|'};
    EXPECT_EQ(GetField(2, "a;b|c,d", set), "b");
    EXPECT_EQ(GetField(3, "a;b|c,d", set), "c,d");
    CharSet none;
    EXPECT_EQ(GetField(1, "a,b", none), "a,b");
    EXPECT_EQ(GetField(2, "a,b", none), "");
}

TEST(CharSetTest, MembershipFollowsTheBitLayout) {
    CharSet set{0, ',', 255};
    EXPECT_TRUE(set.Contains(0));
    EXPECT_TRUE(set.Contains(','));
    EXPECT_TRUE(set.Contains(255));
    EXPECT_FALSE(set.Contains('-'));
    EXPECT_EQ(set.bits[44 / 8], 1u << (44 % 8));
    EXPECT_EQ(set.bits[31], 0x80u);
}

TEST(UnquoteTextTest, Cases) {
    struct Case {
        std::string text;
        char quote;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"'abc'def", '\'', "abc"},
        {"''", '\'', ""},
        {"'a''b'", '\'', "a'b"},
        {"'abc", '\'', "abc"},
        {"abc'", '\'', "abc'"},
        {"", '\'', ""},
        {"'", '\'', ""},
        {"''''", '\'', "'"},
        {kDq + "C:\\Prog Files\\x.exe" + kDq + " /s", '"', "C:\\Prog Files\\x.exe"},
        {"'abc'", '"', "'abc'"},
        // The scan ends at a NUL byte, as a C string does.
        {std::string("'ab\0cd'", 7), '\'', "ab"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UnquoteText(c.text, c.quote), c.expected) << "text [" << c.text << "]";
    }
}

TEST(ReplaceAllTest, ReplacesLeftToRightWithoutOverlap) {
    EXPECT_EQ(ReplaceAll("a||b||", "||", "\r"), "a\rb\r");
    EXPECT_EQ(ReplaceAll("|||", "||", "\r"), "\r|");
    EXPECT_EQ(ReplaceAll("aaaa", "aa", "b"), "bb");
    // The replacement is never searched again.
    EXPECT_EQ(ReplaceAll("ab", "a", "aa"), "aab");
    EXPECT_EQ(ReplaceAll("xyz", "", "Q"), "xyz");
    EXPECT_EQ(ReplaceAll("xyz", "q", "Q"), "xyz");
    EXPECT_EQ(ReplaceAll("", "q", "Q"), "");
    EXPECT_EQ(ReplaceAll("%s and %s", "%s", ""), " and ");
}

TEST(TextSplitTest, BeforeAfterNameValue) {
    EXPECT_EQ(TextBefore("abc", '='), "abc");
    EXPECT_EQ(TextAfter("abc", '='), "");
    EXPECT_EQ(ValueOf("a=b=c"), "b=c");
    EXPECT_EQ(NameOf("a=b=c"), "a");
    EXPECT_EQ(NameOf("=x"), "");
    EXPECT_EQ(ValueOf("=x"), "x");
    EXPECT_EQ(ValueOf("k="), "");
    EXPECT_EQ(NameOf(""), "");
    // Byte-wise: a NUL does not end the search.
    EXPECT_EQ(NameOf(std::string("a\0b=c", 5)), std::string("a\0b", 3));
}

TEST(RemoveCharTest, RemovesEveryOccurrence) {
    EXPECT_EQ(RemoveChar("\n\n\n", '\n'), "");
    EXPECT_EQ(RemoveChar("a\nb\n", '\n'), "ab");
    EXPECT_EQ(RemoveChar("abc", 'x'), "abc");
    EXPECT_EQ(RemoveChar(std::string("a\0b", 3), '\0'), "ab");
}

TEST(SetNameValueTest, ReplacesFirstMatchInPlaceOrAppends) {
    TStringList list{"other=0", "key=1", "KEY=3"};
    SetNameValue(list, "KEY", "2");
    EXPECT_EQ(list.ToVector(), (std::vector<std::string>{"other=0", "KEY=2", "KEY=3"}));
    SetNameValue(list, "new", "");
    EXPECT_EQ(list.Count(), 4);
    EXPECT_EQ(list[3], "new=");
}

TEST(SetNameValueTest, LinesWithoutEqualsNeverMatch) {
    TStringList list{"key", "x=1"};
    SetNameValue(list, "key", "v");
    EXPECT_EQ(list.ToVector(), (std::vector<std::string>{"key", "x=1", "key=v"}));
    // An empty name matches a line that begins with "=".
    SetNameValue(list, "", "e");
    EXPECT_EQ(list.Count(), 4);
    SetNameValue(list, "", "f");
    EXPECT_EQ(list.Count(), 4);
    EXPECT_EQ(list[3], "=f");
}

TEST(SetNameValueTest, IndexFollowsEarlierChanges) {
    TStringList list;
    for (int i = 0; i < 50; ++i) {
        SetNameValue(list, "k" + std::to_string(i % 10), std::to_string(i));
    }
    ASSERT_EQ(list.Count(), 10);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(list[i], "k" + std::to_string(i) + "=" + std::to_string(40 + i));
    }
    list.Delete(0);
    SetNameValue(list, "K5", "x");
    EXPECT_EQ(list[4], "K5=x");
    EXPECT_EQ(list.Count(), 9);
}

TEST(TryStrToIntTest, IntegerTextRule) {
    struct Case {
        const char* text;
        bool ok;
        int32_t value;
    };
    const Case cases[] = {
        {"42", true, 42},
        {"   -7", true, -7},
        {"+5", true, 5},
        {"2147483647", true, INT32_MAX},
        {"-2147483648", true, INT32_MIN},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"$1F", true, 31},
        {"$ff", true, 255},
        {"$FFFFFFFF", true, -1},
        {"$000000001F", true, 31}, // leading zeros are not significant
        {"$1FFFFFFFF", false, 0},  // nine significant digits
        {"$0", true, 0},
        {"$", false, 0},
        {"", false, 0},
        {"   ", false, 0},
        {"-", false, 0},
        {"1 ", false, 0},
        {"\t1", false, 0},
        {"12abc", false, 0},
        {"$1G", false, 0},
        {"0x1F", false, 0},
        {"- 1", false, 0},
    };
    for (const Case& c : cases) {
        int32_t value = 12345;
        EXPECT_EQ(TryStrToInt(c.text, value), c.ok) << "'" << c.text << "'";
        EXPECT_EQ(value, c.ok ? c.value : 12345) << "'" << c.text << "'";
    }
}
} // namespace
