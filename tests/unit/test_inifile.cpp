#include "TestSupport.h"
#include "ktIniFile.h"
#include "ktStrUtils.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

class IniFileTest : public TempDirTest {
  protected:
    std::string IniPath() const { return PathOf("test.ini"); }
    std::unique_ptr<TktIniFile> Open(bool readOnly) {
        return std::make_unique<TktIniFile>(IniPath(), readOnly, true, true, true, true, true);
    }
    std::unique_ptr<TktIniFile> Load(const std::string& bytes, bool readOnly = true) {
        WriteBytes(IniPath(), bytes);
        return Open(readOnly);
    }
    static Lines Values(TktIniFile& ini, const std::string& section) {
        TStringList list;
        ini.ReadSectionValues(section, list);
        return list.ToVector();
    }
    static Lines Strings(TktIniFile& ini) {
        TStringList list;
        ini.GetStrings(list);
        return list.ToVector();
    }
    // Loads a writable engine, applies a change, destroys the engine and
    // gives back the file's bytes.
    template <typename Change> std::string Edit(const std::string& bytes, Change change) {
        auto ini = Load(bytes, false);
        change(*ini);
        ini.reset();
        return ReadBytes(IniPath());
    }
};

TEST_F(IniFileTest, LineRulesOfLoading) {
    struct Case {
        std::string line;
        Lines stored;
    };
    const std::vector<Case> cases = {
        {"Key = Value", {"Key=Value"}},
        {"Key\t=\tValue", {"Key=Value"}},
        {"Key=  'x'  ", {"Key=x"}},
        {"Key=\"\"", {"Key="}},
        {"Key=\"a", {"Key=\"a"}},
        {"Key='It''s'", {"Key=It''s"}},
        {"Key=\"a'", {"Key=\"a'"}},
        {" = v", {"= v"}},
        {";A=1", {}},
        {"#A=1", {"#A=1"}},
        {"  ;A=1", {"  ;A=1"}},
        {"Key=", {"Key="}},
        {"Key", {}},
        {"=v", {"=v"}},
        {"   ", {}},
        {"\x1A", {}},
        {"Key='", {"Key='"}},
        {"K='a'b'", {"K=a'b"}},
        {"K=v \t\x01", {"K=v"}},
        {"K=v\xE9\xA0", {"K=v\xE9\xA0"}},
        // The search for "=" ends at a NUL byte.
        {std::string("A\0=B", 4), {}},
        {std::string("A=x\0y", 5), {std::string("A=x\0y", 5)}},
    };
    for (const auto& c : cases) {
        auto ini = Load("[S]\r\n" + c.line + "\r\nEnd=1\r\n");
        Lines expected = c.stored;
        expected.push_back("End=1");
        TStringList list;
        ini->ReadSection("S", list);
        EXPECT_EQ(Strings(*ini).size(), expected.size() + 2) << "line [" << c.line << "]";
        Lines got = Strings(*ini);
        ASSERT_GE(got.size(), 2u);
        EXPECT_EQ(Lines(got.begin() + 1, got.end() - 1), expected) << "line [" << c.line << "]";
    }
}

TEST_F(IniFileTest, HeadersAndDuplicateSections) {
    auto ini = Load("[Files]\r\nA=1\r\n[files]\r\nB=2\r\n");
    TStringList names;
    ini->ReadSections(names);
    EXPECT_EQ(names.ToVector(), Lines{"Files"});
    EXPECT_EQ(Values(*ini, "FILES"), Lines{"A=1"});
    EXPECT_EQ(ini->ReadString("files", "B", "none"), "none");
    EXPECT_FALSE(ini->Modified());

    ini = Load("[ Files ]\r\nA=1\r\n[]\r\nE=1\r\n");
    ini->ReadSections(names);
    EXPECT_EQ(names.ToVector(), (Lines{" Files ", ""}));
    EXPECT_EQ(ini->ReadString("Files", "A", "none"), "none");
    EXPECT_EQ(ini->ReadString(" files ", "A", "none"), "1");
    EXPECT_EQ(ini->ReadString("", "e", "none"), "1");

    // A blank after "]" makes no header: the entries stay in the section before.
    ini = Load("[A]\r\nx=1\r\n[B] \r\ny=2\r\n");
    EXPECT_EQ(Values(*ini, "A"), (Lines{"x=1", "y=2"}));
    ini = Load("pre=1\r\n[B] \r\ny=2\r\n");
    EXPECT_TRUE(Strings(*ini).empty());
}

TEST_F(IniFileTest, EmptyMissingAndLineFeedOnlyFiles) {
    auto ini = Load("");
    EXPECT_TRUE(Strings(*ini).empty());
    ini = std::make_unique<TktIniFile>(PathOf("none.ini"), true, true, true, true, true, true);
    EXPECT_TRUE(Strings(*ini).empty());
    ini = Load("a=1\r\nb=2\r\n");
    EXPECT_TRUE(Strings(*ini).empty());
    // LF-only line ends make one line: a header here, since it ends in "]".
    ini = Load("[S]\nA=1\n[T]");
    TStringList names;
    ini->ReadSections(names);
    EXPECT_EQ(names.ToVector(), Lines{"S]A=1[T"});
    EXPECT_TRUE(Strings(*ini).empty());
    ini = Load("[S]\r\nA=1\nB=2\n");
    EXPECT_EQ(Values(*ini, "S"), Lines{"A=1B=2"});
}

TEST_F(IniFileTest, ReadStringAndSectionValues) {
    auto ini = Load("[S]\r\nA=1\r\nb=x\r\na=2\r\nE=\r\nnoequals\r\n");
    EXPECT_EQ(ini->ReadString("s", "a", "d"), "1");
    EXPECT_EQ(ini->ReadString("S", "E", "d"), "");
    EXPECT_EQ(ini->ReadString("S", "missing", "d"), "d");
    EXPECT_EQ(ini->ReadString("T", "A", "d"), "d");
    // One entry per name, at its first place, with its last value and spelling.
    EXPECT_EQ(Values(*ini, "S"), (Lines{"a=2", "b=x", "E="}));

    TStringList pairs{"B=old", "z=9"};
    ini->ReadSectionValues("S", pairs);
    EXPECT_EQ(pairs.ToVector(), (Lines{"b=x", "z=9", "a=2", "E="}));
    ini->ReadSectionValues("nothing", pairs);
    EXPECT_EQ(pairs.Count(), 4);

    TStringList names{"keep"};
    ini->ReadSection("S", names);
    EXPECT_EQ(names.ToVector(), (Lines{"keep", "A", "b", "a", "E"}));
}

TEST_F(IniFileTest, ReadSectionValuesOverwritesInPlace) {
    auto ini = Load("[S]\r\na=2\r\n");
    TStringList pairs{"A=1"};
    ini->ReadSectionValues("S", pairs);
    EXPECT_EQ(pairs.ToVector(), Lines{"a=2"});
}

TEST_F(IniFileTest, ReadSectionValuesOfALargeSection) {
    std::string bytes = "[Big]\r\n";
    for (int i = 0; i < 30000; ++i) {
        bytes += "C:\\Dir\\File" + std::to_string(i % 20000) + ".dll=" + std::to_string(i) + "\r\n";
    }
    auto ini = Load(bytes);
    Lines values = Values(*ini, "big");
    ASSERT_EQ(values.size(), 20000u);
    EXPECT_EQ(values[0], "C:\\Dir\\File0.dll=20000");
    EXPECT_EQ(values[9999], "C:\\Dir\\File9999.dll=29999");
    EXPECT_EQ(values[19999], "C:\\Dir\\File19999.dll=19999");
}

TEST_F(IniFileTest, Integers) {
    auto ini =
        Load("[N]\r\nh1=0x1F\r\nh2=0X1f\r\nh3=$1F\r\nsp= 42\r\nneg=-7\r\nall=$FFFFFFFF\r\n"
             "bad=12abc\r\nempty=\r\nbig=2147483648\r\nmin=-2147483648\r\nlong=$123456789\r\n"
             "plus=+5\r\nsign=-\r\nzero=0\r\ntab=\t\t3\r\n");
    struct Case {
        const char* key;
        int32_t expected;
    };
    const std::vector<Case> cases = {
        {"h1", 31},   {"h2", 31},    {"h3", 31},      {"sp", 42},         {"neg", -7},  {"all", -1},
        {"bad", 99},  {"empty", 99}, {"big", 99},     {"min", INT32_MIN}, {"long", 99}, {"plus", 5},
        {"sign", 99}, {"zero", 0},   {"missing", 99}, {"tab", 3},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ini->ReadInteger("N", c.key, 99), c.expected) << c.key;
    }
    EXPECT_TRUE(ini->ReadBool("N", "h1", false));
    EXPECT_FALSE(ini->ReadBool("N", "zero", true));
    EXPECT_TRUE(ini->ReadBool("N", "missing", true));
    EXPECT_FALSE(ini->ReadBool("N", "bad", false));

    int32_t value = 0;
    EXPECT_FALSE(TryStrToInt("", value));
    EXPECT_FALSE(TryStrToInt("$", value));
    EXPECT_FALSE(TryStrToInt("1 ", value));
    EXPECT_TRUE(TryStrToInt("  2147483647", value));
    EXPECT_EQ(value, INT32_MAX);
}

TEST_F(IniFileTest, WriteStringReplacesTheFirstLineOnly) {
    std::string bytes = Edit("[R]\r\nNUL=a\r\nNUL=b\r\n", [](TktIniFile& ini) {
        ini.WriteString("R", "NUL", "c");
        EXPECT_TRUE(ini.Modified());
    });
    EXPECT_EQ(bytes, "[R]\r\nNUL=c\r\nNUL=b\r\n");
}

TEST_F(IniFileTest, WriteStringTwiceLeavesOneLine) {
    auto ini = Load("", false);
    ini->WriteString("S", "k", "1");
    ini->WriteString("s", "K", "2");
    EXPECT_EQ(Strings(*ini), (Lines{"[S]", "K=2", ""}));
    ini->WriteInteger("S", "n", -12);
    ini->WriteBool("S", "b", true);
    EXPECT_EQ(ini->ReadInteger("S", "n", 0), -12);
    EXPECT_EQ(ini->ReadString("S", "b", ""), "1");
}

TEST_F(IniFileTest, WriteStringWithTheStoredTextChangesNothing) {
    std::string original = "; a comment\r\n[S]\r\nKey = Value\r\n";
    auto ini = Load(original, false);
    ini->WriteString("S", "Key", "Value");
    EXPECT_FALSE(ini->Modified());
    ini.reset();
    EXPECT_EQ(ReadBytes(IniPath()), original);

    // Another letter case is another text: the line is written anew.
    std::string bytes = Edit(original, [](TktIniFile& i) {
        i.WriteString("S", "KEY", "Value");
        EXPECT_TRUE(i.Modified());
    });
    EXPECT_EQ(bytes, "; a comment\r\n[S]\r\nKEY=Value\r\n");
}

TEST_F(IniFileTest, EmptyKeyErasesTheSectionOrFlushes) {
    auto ini = Load("[A]\r\nx=1\r\n[B]\r\ny=2\r\n", false);
    ini->WriteString("A", "", "");
    EXPECT_TRUE(ini->Modified());
    EXPECT_EQ(ini->ReadString("A", "x", "gone"), "gone");
    ini->WriteString("", "", "");
    EXPECT_FALSE(ini->Modified());
    EXPECT_EQ(ReadBytes(IniPath()), "[B]\r\ny=2\r\n");
}

TEST_F(IniFileTest, DeleteKeyOfTheOnlyLineRemovesTheSection) {
    std::string bytes = Edit("[A]\r\n; about x\r\nx=1\r\n\r\n[B]\r\ny=2\r\n",
                             [](TktIniFile& ini) { ini.DeleteKey("a", "X"); });
    EXPECT_EQ(bytes, "[B]\r\ny=2\r\n");
}

TEST_F(IniFileTest, DeleteOrEraseOfMissingThingsChangesNothing) {
    auto ini = Load("[A]\r\nx=1\r\n", false);
    ini->DeleteKey("A", "y");
    ini->DeleteKey("Z", "x");
    ini->EraseSection("Q");
    EXPECT_FALSE(ini->Modified());
    // The empty section DeleteKey added is never written.
    ini->WriteString("A", "x", "2");
    ini.reset();
    EXPECT_EQ(ReadBytes(IniPath()), "[A]\r\nx=2\r\n");
}

TEST_F(IniFileTest, NewFileIsWrittenInTheEngineFormWithItsDirectories) {
    std::string path = PathOf("sub\\deeper\\new.ini");
    {
        TktIniFile ini(path, false, true, true, true, true, true);
        EXPECT_FALSE(PathExists(path));
        ini.WriteString("Rename", "NUL", "C:\\X.DLL");
        ini.WriteString("Other", "a", "1");
        ini.WriteString("Rename", "NUL2", "");
    }
    EXPECT_EQ(ReadBytes(path), "[Rename]\r\nNUL=C:\\X.DLL\r\nNUL2=\r\n\r\n[Other]\r\na=1\r\n\r\n");
}

TEST_F(IniFileTest, ReadOnlyEngineNeverWrites) {
    std::string original = "[A]\r\nx=1\r\n";
    auto ini = Load(original, true);
    ini->WriteString("A", "x", "2");
    EXPECT_EQ(ini->ReadString("A", "x", ""), "2");
    ini->UpdateFile();
    EXPECT_FALSE(ini->Modified());
    ini.reset();
    EXPECT_EQ(ReadBytes(IniPath()), original);
}

TEST_F(IniFileTest, EditKeepsEverythingItDidNotChange) {
    const std::string original = "top text without equals\r\n"
                                 "pre=header entry\r\n"
                                 "; comment\r\n"
                                 "[Main]\r\n"
                                 "Name = \"Quoted Value\"  \r\n"
                                 "\r\n"
                                 "junk line\r\n"
                                 "Path=C:\\Old\r\n"
                                 "; trailing comment of Main\r\n"
                                 "\r\n"
                                 "[Other]\r\n"
                                 "z = 'q'\r\n"
                                 "[main]\r\n"
                                 "dup=kept as written\r\n"
                                 "[Empty]\r\n"
                                 "; nothing here\r\n";
    std::string bytes = Edit(original, [](TktIniFile& ini) {
        EXPECT_EQ(ini.ReadString("Main", "Name", ""), "Quoted Value");
        ini.WriteString("Main", "Path", "C:\\New");
        ini.WriteString("Main", "Added", "1");
        ini.WriteString("Other", "more", "2");
        ini.WriteString("Fresh", "k", "v");
    });
    EXPECT_EQ(bytes, "top text without equals\r\n"
                     "pre=header entry\r\n"
                     "; comment\r\n"
                     "[Main]\r\n"
                     "Name = \"Quoted Value\"  \r\n"
                     "\r\n"
                     "junk line\r\n"
                     "Path=C:\\New\r\n"
                     "Added=1\r\n"
                     "; trailing comment of Main\r\n"
                     "\r\n"
                     "[Other]\r\n"
                     "z = 'q'\r\n"
                     "more=2\r\n"
                     "[main]\r\n"
                     "dup=kept as written\r\n"
                     "[Empty]\r\n"
                     "; nothing here\r\n"
                     "[Fresh]\r\n"
                     "k=v\r\n"
                     "\r\n");
}

TEST_F(IniFileTest, ErasedOrEmptiedSectionGoesWithItsBlock) {
    const std::string original = "[A]\r\n; about A\r\na=1\r\n\r\n"
                                 "[B]\r\nb=1\r\n; about C next\r\n"
                                 "[C]\r\nc=1\r\n";
    EXPECT_EQ(Edit(original, [](TktIniFile& ini) { ini.EraseSection("a"); }),
              "[B]\r\nb=1\r\n; about C next\r\n[C]\r\nc=1\r\n");
    EXPECT_EQ(Edit(original, [](TktIniFile& ini) { ini.DeleteKey("B", "b"); }),
              "[A]\r\n; about A\r\na=1\r\n\r\n[C]\r\nc=1\r\n");
    // Erased and written again: the old block goes, the section is new.
    EXPECT_EQ(Edit(original,
                   [](TktIniFile& ini) {
                       ini.EraseSection("C");
                       ini.WriteString("C", "n", "2");
                   }),
              "[A]\r\n; about A\r\na=1\r\n\r\n[B]\r\nb=1\r\n; about C next\r\n[C]\r\nn=2\r\n\r\n");
}

TEST_F(IniFileTest, DeletedLinesDisappearAndNewOnesFollowTheLastEntry) {
    const std::string original = "[S]\r\na=1\r\n;c\r\nb=2\r\nc=3\r\n";
    EXPECT_EQ(Edit(original,
                   [](TktIniFile& ini) {
                       ini.DeleteKey("S", "c");
                       ini.DeleteKey("S", "a");
                       ini.WriteString("S", "d", "4");
                   }),
              "[S]\r\n;c\r\nb=2\r\nd=4\r\n");
    // Every old entry gone: the new ones follow the header.
    EXPECT_EQ(Edit(original,
                   [](TktIniFile& ini) {
                       ini.DeleteKey("S", "a");
                       ini.DeleteKey("S", "b");
                       ini.DeleteKey("S", "c");
                       ini.WriteString("S", "e", "5");
                   }),
              "[S]\r\ne=5\r\n;c\r\n");
}

TEST_F(IniFileTest, OwnLineEndsStayAndNewLinesGetCrLf) {
    EXPECT_EQ(Edit("[S]\ra=1\rb=2", [](TktIniFile& ini) { ini.WriteString("S", "a", "9"); }),
              "[S]\ra=9\rb=2");
    EXPECT_EQ(Edit("[S]\ra=1\rb=2", [](TktIniFile& ini) { ini.WriteString("S", "c", "3"); }),
              "[S]\ra=1\rb=2\r\nc=3\r\n");
    EXPECT_EQ(Edit("[S]\r\na=1", [](TktIniFile& ini) { ini.WriteString("T", "t", "1"); }),
              "[S]\r\na=1\r\n[T]\r\nt=1\r\n\r\n");
    EXPECT_EQ(Edit("[S]\r\na=1\r\n\n\n", [](TktIniFile& ini) { ini.WriteString("S", "a", "2"); }),
              "[S]\r\na=2\r\n\n\n");
    // Stray line feeds inside lines stay where nothing changed.
    EXPECT_EQ(Edit("[S]\r\nx\n=1\r\ny=2\r\n", [](TktIniFile& ini) { ini.DeleteKey("S", "y"); }),
              "[S]\r\nx\n=1\r\n");
}

// Found by fuzzing: what the engine writes back must read as what it held.
TEST_F(IniFileTest, WriteBackAfterLineFeedsAndDroppedDuplicates) {
    struct Case {
        const char* what;
        std::string bytes;
        std::function<void(TktIniFile&)> change;
        std::string expected;
    };
    const std::string duplicate = "[A]\r\na=1\r\n[a]\r\nb=2\r\n";
    const Case cases[] = {
        // Only a CR ends a line: a last line ending in LF needs one.
        {"new section after LF", "[S]\r\na=1\n",
         [](TktIniFile& ini) { ini.WriteString("T", "t", "1"); },
         "[S]\r\na=1\n\r\n[T]\r\nt=1\r\n\r\n"},
        {"new line after LF", "[S]\r\na=1\n",
         [](TktIniFile& ini) { ini.WriteString("S", "b", "2"); }, "[S]\r\na=1\n\r\nb=2\r\n"},
        // The header of a section that a dropped duplicate repeats stays.
        {"last key deleted", duplicate, [](TktIniFile& ini) { ini.DeleteKey("A", "a"); },
         "[A]\r\n[a]\r\nb=2\r\n"},
        {"section erased", duplicate, [](TktIniFile& ini) { ini.EraseSection("a"); },
         "[A]\r\n[a]\r\nb=2\r\n"},
        {"erased and written again", duplicate,
         [](TktIniFile& ini) {
             ini.EraseSection("A");
             ini.WriteString("A", "n", "3");
         },
         "[A]\r\nn=3\r\n[a]\r\nb=2\r\n"},
    };
    for (const Case& c : cases) {
        Lines held;
        EXPECT_EQ(Edit(c.bytes,
                       [&](TktIniFile& ini) {
                           c.change(ini);
                           held = Strings(ini);
                       }),
                  c.expected)
            << c.what;
        EXPECT_EQ(Strings(*Open(true)), held) << c.what;
    }
}

TEST_F(IniFileTest, AddLineAddsEachExactLineOnce) {
    auto ini = Load("[Rename]\r\nNUL=C:\\A.DLL\r\n", false);
    ini->AddLine("Rename", "NUL", "C:\\A.DLL");
    EXPECT_FALSE(ini->Modified());
    ini->AddLine("rename", "NUL", "C:\\a.dll");
    EXPECT_TRUE(ini->Modified());
    ini->AddLine("Rename", "NUL", "C:\\B.DLL");
    ini->AddLine("Rename", "NUL", "C:\\B.DLL");
    ini->AddLine("Other", "k", "v");
    EXPECT_EQ(Values(*ini, "Rename"), Lines{"NUL=C:\\B.DLL"});
    ini.reset();
    EXPECT_EQ(ReadBytes(IniPath()),
              "[Rename]\r\nNUL=C:\\A.DLL\r\nNUL=C:\\a.dll\r\nNUL=C:\\B.DLL\r\n"
              "[Other]\r\nk=v\r\n\r\n");
}

TEST_F(IniFileTest, AddLineSeesChangesMadeBetweenCalls) {
    auto ini = Load("", false);
    ini->AddLine("R", "NUL", "x");
    ini->DeleteKey("R", "NUL");
    ini->AddLine("R", "NUL", "x");
    ini->WriteString("R", "NUL", "y");
    ini->AddLine("R", "NUL", "y");
    ini->EraseSection("R");
    ini->AddLine("R", "NUL", "z");
    TStringList lines;
    ini->GetStrings(lines);
    EXPECT_EQ(lines.ToVector(), (Lines{"[R]", "NUL=z", ""}));
}

TEST_F(IniFileTest, AddLineManyFiles) {
    auto ini = Load("", false);
    for (int i = 0; i < 20000; ++i) {
        ini->AddLine("Rename", "NUL", "C:\\F" + std::to_string(i % 15000));
    }
    TStringList names;
    ini->ReadSection("Rename", names);
    EXPECT_EQ(names.Count(), 15000);
}

TEST_F(IniFileTest, DeleteKeysOneByOneFromALargeSection) {
    std::string bytes = "[Big]\r\n";
    for (int i = 0; i < 6000; ++i) {
        bytes += "k" + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
    }
    std::string expected = "[Big]\r\n";
    for (int i = 0; i < 6000; ++i) {
        if (i % 3 == 1) {
            expected += "k" + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
        }
    }
    std::string result = Edit(bytes, [](TktIniFile& ini) {
        // From the front, so that every deletion shifts the lines after it.
        for (int i = 0; i < 6000; ++i) {
            if (i % 3 != 1) {
                ini.DeleteKey("Big", "K" + std::to_string(i));
            }
        }
        EXPECT_EQ(ini.ReadString("Big", "k5997", "gone"), "gone");
        EXPECT_EQ(ini.ReadString("Big", "k5998", ""), "5998");
    });
    EXPECT_EQ(result, expected);
}

// Random files and random edits: what the engine held before the write-back
// is exactly what a new engine reads from the written file.
TEST_F(IniFileTest, WrittenFileReloadsToWhatTheEngineHeld) {
    unsigned state = 2024;
    auto next = [&state](unsigned range) {
        state = state * 1103515245u + 12345u;
        return (state >> 8) % range;
    };
    const std::vector<std::string> sectionNames = {"A", "B", "C", "D", "E"};
    const std::vector<std::string> keys = {"k", "K", "x", "name", "NUL"};
    const std::vector<std::string> ends = {"\r\n", "\r", "\r\n"};
    for (int round = 0; round < 60; ++round) {
        std::string bytes;
        if (next(3) == 0) {
            bytes += "before=header\r\n";
        }
        for (const auto& section : sectionNames) {
            if (next(4) == 0) {
                continue;
            }
            bytes += "[" + section + "]" + ends[next(3)];
            int lines = static_cast<int>(next(6));
            for (int i = 0; i < lines; ++i) {
                switch (next(6)) {
                case 0:
                    bytes += "; comment" + ends[next(3)];
                    break;
                case 1:
                    bytes += ends[next(3)];
                    break;
                case 2:
                    bytes += "junk without equals" + ends[next(3)];
                    break;
                default:
                    bytes += keys[next(5)] + (next(2) ? " = " : "=") + "'v" +
                             std::to_string(next(9)) + "'" + ends[next(3)];
                    break;
                }
            }
        }
        if (next(2) == 0) {
            // A repeated section, dropped on loading, must stay dropped.
            bytes += "[" + std::string(1, static_cast<char>('a' + next(5))) + "]\r\nk=dup\r\n";
        }
        Lines held;
        {
            auto ini = Load(bytes, false);
            int edits = static_cast<int>(next(8));
            for (int e = 0; e < edits; ++e) {
                const std::string& section = sectionNames[next(5)];
                const std::string& key = keys[next(5)];
                std::string value = "w" + std::to_string(next(5));
                switch (next(4)) {
                case 0:
                    ini->WriteString(section, key, value);
                    break;
                case 1:
                    ini->DeleteKey(section, key);
                    break;
                case 2:
                    ini->EraseSection(section);
                    break;
                default:
                    ini->AddLine(section, key, value);
                    break;
                }
            }
            held = Strings(*ini);
        }
        std::string written = ReadBytes(IniPath());
        auto reloaded = Open(true);
        EXPECT_EQ(Strings(*reloaded), held) << "round " << round << "\nfile:\n"
                                            << bytes << "\nwritten:\n"
                                            << written;
    }
}

TEST_F(IniFileTest, CurrentSectionBeyondTheEndStartsAtZero) {
    auto ini = Load("[A]\r\na=1\r\n[B]\r\nb=1\r\n[C]\r\nc=1\r\n", false);
    EXPECT_EQ(ini->ReadString("C", "c", ""), "1");
    ini->EraseSection("C");
    EXPECT_EQ(ini->ReadString("A", "a", ""), "1");
    EXPECT_EQ(ini->ReadString("C", "c", "gone"), "gone");
    ini->EraseSection("B");
    EXPECT_EQ(ini->ReadString("B", "b", "gone"), "gone");
    EXPECT_EQ(ini->ReadString("a", "A", ""), "1");
}

TEST_F(IniFileTest, FileInUseRaisesCannotOpen) {
    WriteBytes(IniPath(), "[A]\r\nx=1\r\n");
    HANDLE holder = CreateFileA(IniPath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    for (bool readOnly : {true, false}) {
        try {
            Open(readOnly);
            ADD_FAILURE() << "no error, readOnly " << readOnly;
        } catch (const EIniFileError& e) {
            EXPECT_EQ(std::string(e.what()), "Cannot open file " + IniPath());
        }
    }
    CloseHandle(holder);
    EXPECT_EQ(Open(true)->ReadString("A", "x", ""), "1");
}

TEST_F(IniFileTest, WritableEngineKeepsOtherWritersOut) {
    auto ini = Load("[A]\r\nx=1\r\n", false);
    HANDLE other = CreateFileA(IniPath().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(other, INVALID_HANDLE_VALUE);
    if (other != INVALID_HANDLE_VALUE) {
        CloseHandle(other);
    }
    EXPECT_EQ(Open(true)->ReadString("A", "x", ""), "1");
    EXPECT_THROW(Open(false), EIniFileError);
}

TEST_F(IniFileTest, DirectoryGivenAsTheFile) {
    std::string dir = PathOf("folder.ini");
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    for (bool readOnly : {true, false}) {
        TktIniFile ini(dir, readOnly, true, true, true, true, true);
        EXPECT_EQ(ini.ReadString("A", "x", "d"), "d");
        ini.WriteString("A", "x", "1");
        // A writable engine cannot replace a folder: it says so and keeps
        // its change.
        EXPECT_EQ(ini.UpdateFile(), readOnly);
        EXPECT_EQ(ini.Modified(), !readOnly);
        ini.DiscardChanges();
    }
    EXPECT_TRUE(DirectoryExists(dir));
}

TEST_F(IniFileTest, BinaryJunkAndHugeLines) {
    std::string junk;
    for (int i = 0; i < 100000; ++i) {
        junk += static_cast<char>((i * 131 + 7) % 256);
    }
    auto ini = Load("[J]\r\n" + junk + "\r\nafter=1\r\n");
    EXPECT_EQ(ini->ReadString("J", "after", ""), "1");

    std::string huge(3 << 20, 'v');
    ini = Load("[H]\r\nbig=" + huge + "\r\nsmall=1\r\n");
    EXPECT_EQ(ini->ReadString("H", "big", "").size(), huge.size());
    EXPECT_EQ(ini->ReadString("H", "small", ""), "1");

    std::string bytes = Edit("[H]\r\nbig=" + huge + "\r\nsmall=1\r\n",
                             [](TktIniFile& i) { i.WriteString("H", "small", "2"); });
    EXPECT_EQ(bytes, "[H]\r\nbig=" + huge + "\r\nsmall=2\r\n");
}

TEST_F(IniFileTest, ManyBlanksBeforeEquals) {
    std::string blanks(1 << 20, ' ');
    auto ini = Load("[B]\r\nk" + blanks + "=" + blanks + "v\r\n");
    EXPECT_EQ(Values(*ini, "B"), Lines{"k=v"});
}

} // namespace
