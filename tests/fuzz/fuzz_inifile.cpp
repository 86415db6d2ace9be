// The INI engine on any file and any edits: loading, queries, edits and the
// write-back, whose file read again must hold exactly what the engine held.
#include "FuzzSupport.h"
#include "ktIniFile.h"
#include "ktStrUtils.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

std::string path;
// The install log's rules or the system's profile rules, chosen per input.
TIniRules rules = TIniRules::InstallLog;

std::unique_ptr<TktIniFile> Open(bool readOnly) {
    return std::make_unique<TktIniFile>(path, readOnly, true, true, true, true, true, rules);
}

bool IsProfileBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A';
}

// One section as GetStrings gives it: its header and its lines.
struct TSection {
    std::string header;
    std::string lines;
    bool operator<(const TSection& other) const { return header < other.header; }
    bool operator==(const TSection& other) const {
        return header == other.header && lines == other.lines;
    }
};

// The engine's content: every non-empty section with its lines, sections in
// header order.
std::vector<TSection> Sections(TktIniFile& ini) {
    TStringList lines;
    ini.GetStrings(lines);
    std::vector<TSection> sections;
    for (int i = 0; i < lines.Count(); ++i) {
        if (lines[i].empty()) {
            continue;
        }
        // GetStrings ends each section with an empty line; entries are
        // never empty.
        if (i == 0 || lines[i - 1].empty()) {
            sections.push_back({lines[i], std::string()});
            continue;
        }
        sections.back().lines += lines[i] + "\n";
    }
    std::sort(sections.begin(), sections.end());
    return sections;
}

std::string Text(const std::vector<TSection>& sections) {
    std::string text;
    for (const auto& section : sections) {
        text += section.header + "\n" + section.lines + "\n";
    }
    return text;
}

// Whether a file read again holds the sections the engine held: the same
// lines under names the engine's comparison holds equal. The spelling of a
// name is not the engine's to keep: a section erased and written again
// returns below its old header, in the old spelling ("[files]" for the
// engine's "FilEs", or with a soft hyphen the comparison ignores), when a
// dropped duplicate follows that header (so that the duplicate does not
// come alive), and every reader, the system's profile functions included,
// finds it by either name. The same rule puts it where the old header
// stands, so the order of sections is not compared either. Names are unique
// under the comparison on both sides, so pairing them one by one is exact.
bool SameSections(const std::vector<TSection>& held, const std::vector<TSection>& reread) {
    if (held == reread) {
        return true;
    }
    if (held.size() != reread.size()) {
        return false;
    }
    std::vector<bool> paired(reread.size(), false);
    for (const auto& section : held) {
        size_t j = 0;
        while (j < reread.size() && (paired[j] || !SameText(section.header, reread[j].header))) {
            ++j;
        }
        if (j == reread.size() || reread[j].lines != section.lines) {
            return false;
        }
        paired[j] = true;
    }
    return true;
}

// Texts the file form can carry: a line ends at CR (or LF), LF is dropped,
// a NUL ends the search for "=".
std::string LineText(std::string text) {
    std::string out;
    for (char c : text) {
        if (c != '\r' && c != '\n' && c != '\0') {
            out += c;
        }
    }
    return out;
}

// A section name that reads back as itself: under the profile rules no
// "]" (the first one ends the name) and no blanks around it (those of a
// name asked for are not part of it).
std::string SectionText(const std::string& raw) {
    std::string section = LineText(raw);
    if (rules == TIniRules::Profile) {
        section.erase(std::remove(section.begin(), section.end(), ']'), section.end());
        while (!section.empty() && IsProfileBlank(section.back())) {
            section.pop_back();
        }
        while (!section.empty() && IsProfileBlank(section.front())) {
            section.erase(0, 1);
        }
    }
    return section;
}

// A key that reads back as itself: not empty, no "=", no blank before the
// "=" it gets (nor, under the profile rules, at its start), not a comment or
// header opener.
std::string KeyText(const std::string& raw) {
    std::string key = LineText(raw);
    key.erase(std::remove(key.begin(), key.end(), '='), key.end());
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t' ||
                            (rules == TIniRules::Profile && IsProfileBlank(key.back())))) {
        key.pop_back();
    }
    while (rules == TIniRules::Profile && !key.empty() && IsProfileBlank(key.front())) {
        key.erase(0, 1);
    }
    if (key.empty() || key[0] == ';' || key[0] == '[') {
        key.insert(0, "k");
    }
    return key;
}

// A value that reads back as itself: no leading blank or tab, no trailing
// control character or blank, not wrapped in a pair of quotes.
std::string ValueText(const std::string& raw) {
    std::string value = LineText(raw);
    size_t start = value.find_first_not_of(std::string(" \t\v\f\x1A"));
    value = start == std::string::npos ? std::string() : value.substr(start);
    for (;;) {
        while (!value.empty() && static_cast<unsigned char>(value.back()) < 33) {
            value.pop_back();
        }
        if (value.size() < 2 || value.front() != value.back() ||
            (value[0] != '"' && value[0] != '\'')) {
            break;
        }
        value.pop_back();
    }
    return value;
}

void Query(TktIniFile& ini, const std::string& section, const std::string& key) {
    std::string value = ini.ReadString(section, key, "\x01");
    ini.ReadInteger(section, key, 7);
    ini.ReadBool(section, key, true);
    TStringList names;
    ini.ReadSection(section, names);
    TStringList pairs;
    ini.ReadSectionValues(section, pairs);
    if (value != "\x01") {
        FUZZ_CHECK(pairs.IndexOfName(key) >= 0, "a key ReadString finds is in the section");
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    path = FuzzMachineFolder() + "/fuzz.ini";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    rules = input.ConsumeBool() ? TIniRules::Profile : TIniRules::InstallLog;
    const std::string original = input.ConsumeRandomLengthString(4096);
    FuzzWriteFile(path, original);

    std::vector<TSection> loaded;
    {
        auto reader = Open(true);
        loaded = Sections(*reader);
        TStringList sections;
        reader->ReadSections(sections);
        for (int i = 0; i < sections.Count(); ++i) {
            for (int j = 0; j < i; ++j) {
                FUZZ_CHECK(!SameText(sections[i], sections[j]), "one section per name");
            }
        }
    }

    auto writer = Open(false);
    FUZZ_CHECK(Sections(*writer) == loaded, "both modes load the same lines");
    bool edited = false;
    while (input.remaining_bytes() > 0) {
        const int op = input.ConsumeIntegralInRange(0, 5);
        const std::string section = SectionText(input.ConsumeRandomLengthString(24));
        const std::string key = KeyText(input.ConsumeRandomLengthString(24));
        const std::string value = ValueText(input.ConsumeRandomLengthString(48));
        switch (op) {
        case 0:
            writer->WriteString(section, key, value);
            FUZZ_CHECK(writer->ReadString(section, key, "\x01") == value, "a written value reads");
            break;
        case 1:
            writer->DeleteKey(section, key);
            break;
        case 2:
            writer->EraseSection(section);
            FUZZ_CHECK(writer->ReadString(section, key, "\x01") == "\x01", "an erased section");
            break;
        case 3:
            writer->AddLine(section, key, value);
            break;
        case 4:
            writer->WriteInteger(section, key, static_cast<int32_t>(value.size()) - 20);
            FUZZ_CHECK(writer->ReadInteger(section, key, 99) ==
                           static_cast<int32_t>(value.size()) - 20,
                       "a written integer reads");
            break;
        default:
            Query(*writer, section, key);
            continue;
        }
        edited = true;
    }
    const std::vector<TSection> held = Sections(*writer);
    FUZZ_CHECK(writer->UpdateFile(), "the write-back succeeds");
    const std::vector<TSection> reread = Sections(*Open(true));
    FUZZ_CHECK(SameSections(held, reread), "the file written back holds what the engine held:\n" +
                                               Text(held) + "---- read again:\n" + Text(reread));
    writer.reset();
    if (!edited) {
        FILE* file = std::fopen(path.c_str(), "rb");
        std::string bytes;
        char buffer[4096];
        size_t got = 0;
        while (file && (got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
            bytes.append(buffer, got);
        }
        if (file) {
            std::fclose(file);
        }
        FUZZ_CHECK(bytes == original, "a file without edits stays byte for byte");
    }
    return 0;
}
