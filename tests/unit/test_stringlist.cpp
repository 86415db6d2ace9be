#include "TestSupport.h"
#include "ktSectionList.h"
#include "ktStringList.h"
#include "winapi.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

TEST(StringListTest, IndexOfNameFindsTheFirstNamedLineIgnoringCase) {
    TStringList list{"plain", "Alpha=1", "beta=2", "ALPHA=3", "=empty"};
    EXPECT_EQ(list.IndexOfName("alpha"), 1);
    EXPECT_EQ(list.IndexOfName("BETA"), 2);
    EXPECT_EQ(list.IndexOfName("plain"), -1);
    EXPECT_EQ(list.IndexOfName(""), 4);
    EXPECT_EQ(list.IndexOfName("gamma"), -1);
}

TEST(StringListTest, IndexFollowsEveryKindOfChange) {
    TStringList list{"a=1", "b=2", "c=3"};
    EXPECT_EQ(list.IndexOfName("c"), 2);
    list.Delete(0);
    EXPECT_EQ(list.IndexOfName("c"), 1);
    EXPECT_EQ(list.IndexOfName("a"), -1);
    list.Insert(0, "C=0");
    EXPECT_EQ(list.IndexOfName("c"), 0);
    list.Set(0, "d=0");
    EXPECT_EQ(list.IndexOfName("c"), 2);
    EXPECT_EQ(list.IndexOfName("D"), 0);
    list.Add("e=9");
    EXPECT_EQ(list.IndexOfName("E"), 3);
    list.Delete(3);
    EXPECT_EQ(list.IndexOfName("e"), -1);
    list.Sort();
    EXPECT_EQ(list.ToVector(), (Names{"b=2", "c=3", "d=0"}));
    EXPECT_EQ(list.IndexOfName("b"), 0);
    list.Clear();
    EXPECT_EQ(list.IndexOfName("b"), -1);
    list.Add("b=7");
    EXPECT_EQ(list.IndexOfName("b"), 0);
}

TEST(StringListTest, LargeListKeepsFirstPositions) {
    TStringList list;
    for (int i = 0; i < 20000; ++i) {
        list.Add("name" + std::to_string(i % 5000) + "=" + std::to_string(i));
    }
    EXPECT_EQ(list.IndexOfName("NAME4999"), 4999);
    EXPECT_EQ(list.IndexOfName("name0"), 0);
    list.Delete(0);
    EXPECT_EQ(list.IndexOfName("name0"), 4999);
}

// The first named line by a walk from the start: what the index must give.
int WalkIndexOfName(const TStringList& list, const std::string& name) {
    for (int i = 0; i < list.Count(); ++i) {
        const std::string& text = list[i];
        size_t eq = text.find('=');
        if (eq != std::string::npos && SameText(text.substr(0, eq), name)) {
            return i;
        }
    }
    return -1;
}

// Both name indexes: hashed by folded names (single-byte code pages) and
// ordered by the locale comparison (double-byte code pages).
class NameIndexTest : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        saved_ = TStringList::UsesOrderedIndex();
        TStringList::SetOrderedNameIndex(GetParam());
    }
    void TearDown() override { TStringList::SetOrderedNameIndex(saved_); }

  private:
    bool saved_ = false;
};

INSTANTIATE_TEST_SUITE_P(HashedAndOrdered, NameIndexTest, ::testing::Bool());

TEST_P(NameIndexTest, IndexAgreesWithAWalkThroughRandomChanges) {
    TStringList list;
    unsigned state = 12345;
    auto next = [&state](unsigned range) {
        state = state * 1103515245u + 12345u;
        return (state >> 8) % range;
    };
    auto randomLine = [&next]() {
        unsigned kind = next(10);
        std::string name = (next(2) ? "N" : "n") + std::to_string(next(300));
        if (kind == 0) {
            return name; // no "=": never found by name
        }
        return name + "=" + std::to_string(next(1000));
    };
    for (int step = 0; step < 6000; ++step) {
        unsigned op = next(10);
        if (op < 5 || list.Count() == 0) {
            list.Add(randomLine());
        } else if (op < 7) {
            list.Set(static_cast<int>(next(list.Count())), randomLine());
        } else if (op < 8) {
            list.Delete(list.Count() - 1);
        } else if (op < 9) {
            list.Delete(static_cast<int>(next(list.Count())));
        } else {
            list.Insert(static_cast<int>(next(list.Count() + 1)), randomLine());
        }
        std::string probe = "n" + std::to_string(next(320));
        ASSERT_EQ(list.IndexOfName(probe), WalkIndexOfName(list, probe))
            << "step " << step << " probe " << probe;
    }
}

TEST_P(NameIndexTest, IndexAgreesWithAWalkForNamesTheComparisonFolds) {
    // Whatever the platform's comparison holds equal (sharp s and ss,
    // ligatures, ignored NUL or soft hyphen, accents and case), the index
    // gives what a walk from the first line gives.
    TStringList list{"Stra\xDF"
                     "e=1",
                     std::string("a\0b=2", 5),
                     "\xC6on=3",
                     "co-op=4",
                     "soft\xADhyphen=5",
                     "\xE9t\xE9=6",
                     "\x9C"
                     "uvre=7",
                     "x=8"};
    const std::vector<std::string> probes = {"STRASSE",
                                             "strasse",
                                             "Stra\xDF"
                                             "e",
                                             "ab",
                                             std::string("a\0b", 3),
                                             "AEON",
                                             "aeon",
                                             "\xE6on",
                                             "coop",
                                             "CO-OP",
                                             "softhyphen",
                                             "SOFT\xADHYPHEN",
                                             "ete",
                                             "\xC9T\xC9",
                                             "oeuvre",
                                             "\x8C"
                                             "UVRE",
                                             "X",
                                             "y"};
    for (const auto& probe : probes) {
        EXPECT_EQ(list.IndexOfName(probe), WalkIndexOfName(list, probe)) << "probe " << probe;
    }
    EXPECT_EQ(list.IndexOfName("\xC9T\xC9"), 5);
    EXPECT_EQ(list.IndexOfName("x"), 7);
}

// Letters of other scripts in their two cases, as code page 932 spells them:
// full-width A, Greek alpha, Cyrillic a. Under that code page the locale
// holds each pair equal, and so must every name lookup, the kept shared
// files included.
TEST(StringListTest, DoubleByteLettersMatchInEitherCaseUnderCodePage932Only) {
    if (!UnderCodePage932()) {
        GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", not 932";
    }
    EXPECT_TRUE(TStringList::UsesOrderedIndex());
    TStringList list{"x=0", "\x82\x81=1", "\x83\xBF=2", "\x84\x70=3", "\x82\x60=4"};
    const Names probes = {"\x82\x60", "\x82\x81", "\x83\x9F", "\x84\x40", "\x84\x70", "\x83"};
    for (const auto& probe : probes) {
        EXPECT_EQ(list.IndexOfName(probe), WalkIndexOfName(list, probe)) << "probe " << probe;
    }
    EXPECT_EQ(list.IndexOfName("\x82\x60"), 1);
    EXPECT_EQ(list.IndexOfName("\x84\x40"), 3);
}

TEST(StringListTest, TextJoinsWithCrLf) {
    TStringList list{"a", "", "b=c"};
    EXPECT_EQ(list.Text(), "a\r\n\r\nb=c\r\n");
    EXPECT_EQ(list.IndexOf("B=C"), 2);
}

class SectionListTest : public ::testing::Test {
  protected:
    void AddSections(const Names& names) {
        for (const auto& name : names) {
            auto lines = std::make_unique<TStringList>();
            lines->Add("from=" + name + std::to_string(list.Count()));
            list.Add(name, std::move(lines));
        }
    }
    Names SectionNames() const {
        Names result;
        for (int i = 0; i < list.Count(); ++i) {
            result.push_back(list.Names(i));
        }
        return result;
    }
    TSectionList list;
};

TEST_F(SectionListTest, IndexOfOnEmptyIndex) {
    EXPECT_EQ(list.IndexOf("x"), -1);
    EXPECT_EQ(list.LastFound(), 0);
}

TEST_F(SectionListTest, IndexOfStartsAtTheLastFoundAndWraps) {
    AddSections({"A", "B", "C"});
    EXPECT_EQ(list.IndexOf("c"), 2);
    EXPECT_EQ(list.LastFound(), 2);
    EXPECT_EQ(list.IndexOf("b"), 1);
    EXPECT_EQ(list.LastFound(), 1);
    EXPECT_EQ(list.IndexOf("missing"), -1);
    EXPECT_EQ(list.LastFound(), 1);
}

TEST_F(SectionListTest, IndexOfStartsAtZeroWhenTheIndexShrank) {
    AddSections({"A", "B", "C"});
    EXPECT_EQ(list.IndexOf("C"), 2);
    list.Delete(2);
    list.Delete(1);
    EXPECT_EQ(list.IndexOf("a"), 0);
    list.SetLastFound(-4);
    EXPECT_EQ(list.IndexOf("A"), 0);
}

TEST_F(SectionListTest, RemoveDuplicatesKeepsTheFirstOfEachName) {
    AddSections({"Files", "FILES", "files"});
    EXPECT_TRUE(list.RemoveDuplicates());
    EXPECT_EQ(SectionNames(), (Names{"Files"}));
    ASSERT_EQ(list.SectionLines(0)->Count(), 1);
    EXPECT_EQ((*list.SectionLines(0))[0], "from=Files0");
}

TEST_F(SectionListTest, RemoveDuplicatesKeepsOrder) {
    AddSections({"A", "B", "a", "C", "b"});
    EXPECT_TRUE(list.RemoveDuplicates());
    EXPECT_EQ(SectionNames(), (Names{"A", "B", "C"}));
    EXPECT_EQ((*list.SectionLines(1))[0], "from=B1");
    EXPECT_EQ((*list.SectionLines(2))[0], "from=C3");
}

TEST_F(SectionListTest, EmptyNamesTakePart) {
    AddSections({"", "x", ""});
    EXPECT_TRUE(list.RemoveDuplicates());
    EXPECT_EQ(SectionNames(), (Names{"", "x"}));
    EXPECT_EQ((*list.SectionLines(0))[0], "from=0");
}

TEST_F(SectionListTest, NothingToDrop) {
    AddSections({"only"});
    EXPECT_FALSE(list.RemoveDuplicates());
    EXPECT_EQ(SectionNames(), (Names{"only"}));
    AddSections({"other", "third"});
    EXPECT_FALSE(list.RemoveDuplicates());
    EXPECT_EQ(list.Count(), 3);
}

TEST_F(SectionListTest, ManyDuplicatesInScrambledOrder) {
    Names names;
    for (int i = 0; i < 3000; ++i) {
        int k = (i * 7919) % 1000;
        names.push_back((i % 2 ? "S" : "s") + std::to_string(k));
    }
    AddSections(names);
    EXPECT_TRUE(list.RemoveDuplicates());
    ASSERT_EQ(list.Count(), 1000);
    // The survivors are the first occurrences, in file order.
    for (int i = 0; i < 1000; ++i) {
        EXPECT_EQ(list.Names(i), names[i]);
    }
}

TEST_F(SectionListTest, AssignNamesCarriesTheLineLists) {
    AddSections({"A", "B"});
    TStringList names{"old"};
    list.AssignNamesTo(names);
    EXPECT_EQ(names.ToVector(), (Names{"A", "B"}));
    EXPECT_EQ(names.Objects(1), list.SectionLines(1));
}

} // namespace
