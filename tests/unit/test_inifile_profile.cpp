// Other programs' INI files read as the system's profile functions read them:
// a key deleted from real-world-shaped files, by exact bytes on both builds
// and, under Wine, against the system's own profile functions.
#include "TestSupport.h"
#include "ktIniFile.h"

#include <cctype>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

std::string Utf16(const std::string& ascii) {
    std::string out;
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

struct Case {
    const char* what;
    std::string bytes;
    const char* section;
    const char* key;
    std::string expected; // the file after the deletion
};

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
        {"a bare LF ends a line", "[Controls]\rFire=Ctrl\nJump=Space\r", "Controls", "Fire",
         "[Controls]\rJump=Space\r"},
        {"LF-only file", "[Main]\nWidth=800\nHeight=600\n\n[Recent]\nFile1=a.txt\n", "Main",
         "width", "[Main]\nHeight=600\n\n[Recent]\nFile1=a.txt\n"},
        {"LF CR is two line ends", "[S]\n\rk=1\n\rj=2\n\r", "S", "k", "[S]\n\r\rj=2\n\r"},
        {"CR-only file, last line without end", "[S]\rA=1\rB=2", "S", "B", "[S]\rA=1\r"},
        {"header with a comment after it", "[General]\r\nX=1\r\n[Paths] ; where\r\nA=2\r\n",
         "General", "A", "[General]\r\nX=1\r\n[Paths] ; where\r\nA=2\r\n"},
        {"header with a tab and comment", "[General]\r\nA=1\r\n[Paths]\t;c\r\nA=2\r\n", "Paths",
         "A", "[General]\r\nA=1\r\n"},
        {"header with blanks around it", "  [Window]   \r\n  Left = 10\r\n  Top = 20\r\n", "Window",
         "Left", "  [Window]   \r\n  Top = 20\r\n"},
        {"key line with leading blanks", "[Fonts]\r\n\tFace = Arial\r\nSize=10\r\n", "Fonts",
         "Face", "[Fonts]\r\nSize=10\r\n"},
        {"blanks around the names asked", "[Fonts]\r\nFace=Arial\r\nSize=10\r\n", " Fonts ",
         " Face\t", "[Fonts]\r\nSize=10\r\n"},
        {"keyless line keeps its section", "[Plugins]\r\n; enabled\r\nSpell\r\nVantrel=1\r\n",
         "Plugins", "Vantrel", "[Plugins]\r\n; enabled\r\nSpell\r\n"},
        {"comment keeps its section", "[A]\r\n; keep me\r\nOurs=1\r\n[B]\r\nx=1\r\n", "A", "Ours",
         "[A]\r\n; keep me\r\n[B]\r\nx=1\r\n"},
        {"emptied section goes with its blank lines",
         "[windows]\r\nrun=\r\n[Vantrel]\r\nInstalled=1\r\n\r\n[Desktop]\r\nTile=0\r\n", "Vantrel",
         "Installed", "[windows]\r\nrun=\r\n[Desktop]\r\nTile=0\r\n"},
        {"duplicated key: the first goes", "[Recent]\r\nFile=a\r\nFile=b\r\n", "Recent", "FILE",
         "[Recent]\r\nFile=b\r\n"},
        {"keyless line is the first of its name", "[S]\r\nK\r\nK=1\r\n", "S", "k",
         "[S]\r\nK=1\r\n"},
        {"duplicated section: only the first is read",
         "[Opt]\r\nk=1\r\n[Other]\r\nz=0\r\n[opt]\r\nk=2\r\nm=3\r\n", "Opt", "k",
         "[Opt]\r\n[Other]\r\nz=0\r\n[opt]\r\nk=2\r\nm=3\r\n"},
        {"key only in a later duplicate", "[Opt]\r\nk=1\r\n[opt]\r\nm=3\r\n", "Opt", "m",
         "[Opt]\r\nk=1\r\n[opt]\r\nm=3\r\n"},
        {"quoted values and lines before the first header",
         "; top\r\nstray=1\r\n[S]\r\nName = \"My App\"  \r\nOther='x'\r\n", "S", "Other",
         "; top\r\nstray=1\r\n[S]\r\nName = \"My App\"  \r\n"},
        {"a bracket without its close is a key", "[S]\r\n[NoHeader=1\r\nk=2\r\n", "S", "k",
         "[S]\r\n[NoHeader=1\r\n"},
        {"Ctrl-Z at the end stays", "[S]\r\nk=1\r\nj=2\r\n\x1A", "S", "j", "[S]\r\nk=1\r\n\x1A"},
        {"missing key changes nothing", "[S]\nk=1\n", "S", "none", "[S]\nk=1\n"},
        {"UTF-16 with LF ends", "\xFF\xFE" + Utf16("[S]\nk=1\nj=2\n"), "S", "k",
         "\xFF\xFE" + Utf16("[S]\nj=2\n")},
    };
    return cases;
}

class IniProfileTest : public TempDirTest {
  protected:
    static std::unique_ptr<TktIniFile> Open(const std::string& path) {
        return std::make_unique<TktIniFile>(path, false, true, true, true, true, true,
                                            TIniRules::Profile);
    }
    // The case's file, written afresh under a name of its own.
    std::string FileOf(size_t index, const char* kind) {
        std::string path = PathOf("case" + std::to_string(index) + "-" + kind + ".ini");
        WriteBytes(path, Cases()[index].bytes);
        return path;
    }
};

TEST_F(IniProfileTest, DeletionRemovesOnlyTheFirstLineTheSystemReadsAsTheKey) {
    for (size_t i = 0; i < Cases().size(); ++i) {
        const Case& c = Cases()[i];
        std::string path = FileOf(i, "ours");
        Open(path)->DeleteKey(c.section, c.key);
        EXPECT_EQ(ReadBytes(path), c.expected) << c.what;
    }
}

TEST_F(IniProfileTest, ReadsAsTheSystemReads) {
    WriteBytes(PathOf("read.ini"),
               "  [S]\t; c\nK1 = v 1 \nflag\n K2='q'\r[ T ]\rx=1\r;c=2\r[s]\nK3=dup\n");
    auto ini = Open(PathOf("read.ini"));
    const std::vector<std::pair<const char*, const char*>> keys = {
        {"k1", "v 1"}, {" K2 ", "q"}, {"flag", ""}, {"K3", "none"}};
    for (const auto& key : keys) {
        EXPECT_EQ(ini->ReadString(" s", key.first, "none"), key.second) << key.first;
    }
    // The name between the brackets is the section's, blanks and all.
    EXPECT_EQ(ini->ReadString("T", "x", "none"), "none");
    TStringList sections;
    ini->ReadSections(sections);
    EXPECT_EQ(sections.ToVector(), (Lines{"S", " T "}));
}

// ---- Against the system's own profile functions (Wine only) ------------------------------

using TGetString = DWORD(WINAPI*)(LPCSTR, LPCSTR, LPCSTR, LPSTR, DWORD, LPCSTR);
using TGetSection = DWORD(WINAPI*)(LPCSTR, LPSTR, DWORD, LPCSTR);
using TGetNames = DWORD(WINAPI*)(LPSTR, DWORD, LPCSTR);
using TWriteString = BOOL(WINAPI*)(LPCSTR, LPCSTR, LPCSTR, LPCSTR);

// What the system reads from a file: for the first section of each name (in
// upper case), the lines GetPrivateProfileSectionA lists; sections that list
// none are left out.
using TSettings = std::map<std::string, Lines>;

std::string Upper(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

std::string Trim(std::string text) {
    text.erase(0, text.find_first_not_of(" \t"));
    text.erase(text.find_last_not_of(" \t") + 1);
    return text;
}

Lines Split(const std::vector<char>& buffer, DWORD length) {
    Lines items;
    for (size_t at = 0; at < length && buffer[at] != '\0'; at += items.back().size() + 1) {
        items.emplace_back(&buffer[at]);
    }
    return items;
}

struct TSystemProfile {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    TGetString getString = Find<TGetString>("GetPrivateProfileStringA");
    TGetSection getSection = Find<TGetSection>("GetPrivateProfileSectionA");
    TGetNames getNames = Find<TGetNames>("GetPrivateProfileSectionNamesA");
    TWriteString writeString = Find<TWriteString>("WritePrivateProfileStringA");

    template <typename T> T Find(const char* name) const {
        return kernel ? reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(kernel, name)))
                      : nullptr;
    }
    bool Present() const { return getString && getSection && getNames && writeString; }

    TSettings Settings(const std::string& file) const {
        std::vector<char> buffer(1 << 16);
        TSettings settings;
        DWORD got = getNames(buffer.data(), static_cast<DWORD>(buffer.size()), file.c_str());
        for (const std::string& name : Split(buffer, got)) {
            if (settings.count(Upper(name)) != 0) {
                continue;
            }
            got = getSection(name.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()),
                             file.c_str());
            settings[Upper(name)] = Split(buffer, got);
        }
        for (auto it = settings.begin(); it != settings.end();) {
            it = it->second.empty() ? settings.erase(it) : std::next(it);
        }
        return settings;
    }
    std::string Value(const std::string& file, const std::string& section,
                      const std::string& key) const {
        char value[4096];
        getString(section.c_str(), key.c_str(), "\x01", value, sizeof value, file.c_str());
        return value;
    }
};

// Wine has the system's profile functions; the native layer has none, and
// there the exact bytes above are the check.
TEST_F(IniProfileTest, SystemProfileFunctionsAgreeUnderWineOnly) {
    TSystemProfile system;
    if (!UnderWine() || !system.Present()) {
        GTEST_SKIP() << "no system profile functions natively";
    }
    for (size_t i = 0; i < Cases().size(); ++i) {
        const Case& c = Cases()[i];
        const std::string before = FileOf(i, "before");
        TSettings expected = system.Settings(before);
        // The engine reads every value as the system does: the first line of
        // each name. (A key without "=" has no value to the system; to the
        // engine it is there, with an empty one, as its deletion removes it.)
        auto reader = Open(before);
        for (const auto& section : expected) {
            TStringList seen;
            for (const std::string& line : section.second) {
                const std::string name = line.substr(0, line.find('='));
                if (seen.IndexOf(name) >= 0) {
                    continue;
                }
                seen.Add(name);
                if (name != line) {
                    EXPECT_EQ(reader->ReadString(section.first, name, "\x01"),
                              system.Value(before, section.first, name))
                        << c.what << ": [" << section.first << "] " << line;
                }
            }
        }
        reader.reset();
        // Every setting stays but the first line the system reads as the key.
        const std::string key = Upper(Trim(c.key));
        auto section = expected.find(Upper(Trim(c.section)));
        if (section != expected.end()) {
            Lines& lines = section->second;
            for (auto line = lines.begin(); line != lines.end(); ++line) {
                if (Upper(line->substr(0, line->find('='))) == key) {
                    lines.erase(line);
                    break;
                }
            }
            if (lines.empty()) {
                expected.erase(section);
            }
        }
        const std::string ours = FileOf(i, "ours");
        Open(ours)->DeleteKey(c.section, c.key);
        EXPECT_EQ(system.Settings(ours), expected) << c.what;
        // And the system's own deletion reads the same.
        const std::string theirs = FileOf(i, "system");
        system.writeString(Trim(c.section).c_str(), key.c_str(), nullptr, theirs.c_str());
        EXPECT_EQ(system.Settings(theirs), expected) << c.what;
    }
}

} // namespace
