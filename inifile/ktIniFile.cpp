#include "ktIniFile.h"

#include "ktSafeWrite.h"
#include "ktSectionList.h"
#include "ktStrUtils.h"
#include "winapi.h"

#include <cstring>
#include <limits>

EIniFileError::EIniFileError(const std::string& fileName)
    : std::runtime_error("Cannot open file " + fileName) {}

namespace {
void* RawLink(size_t rawIndex) {
    return reinterpret_cast<void*>(rawIndex + 1);
}

} // namespace

TktIniFile::TktIniFile(const std::string& fileName, bool readOnly, bool ignoreComments,
                       bool nameValueOnly, bool trimAroundEquals, bool stripValueQuotes,
                       bool trimTrailing, TIniRules rules)
    : sections_(std::make_unique<TSectionList>()), readOnly_(readOnly),
      ignoreComments_(ignoreComments), nameValueOnly_(nameValueOnly),
      trimAroundEquals_(trimAroundEquals), stripValueQuotes_(stripValueQuotes),
      trimTrailing_(trimTrailing), rules_(rules) {
    // When this raises, the destructor does not run; the handle's owner, a
    // member, still closes the file.
    SetFileName(fileName);
}

TktIniFile::~TktIniFile() {
    try {
        UpdateFile();
    } catch (...) {
        // Out of memory while writing back: the changes are lost, the
        // program goes on.
    }
    handle_.Close();
    ClearSections();
}

void TktIniFile::SetFileName(const std::string& fileName) {
    UpdateFile();
    handle_.Close();
    ClearSections();
    fileName_ = fileName;
    if (!fileName_.empty()) {
        LoadFile();
    }
    modified_ = false;
}

void TktIniFile::ClearSections() {
    sections_->Clear();
    rawText_.clear();
    markLength_ = 0;
    rawLines_.clear();
    shadowingHeaders_.clear();
    ++generation_;
}

void TktIniFile::LoadFile() {
    currentSection_ = 0;
    loadFailed_ = false;
    encoding_ = enAnsi;
    handle_.Close();
    DWORD access = readOnly_ ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    DWORD share = readOnly_ ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ;
    DWORD disposition = readOnly_ ? OPEN_EXISTING : OPEN_ALWAYS;
    // What a crash left of a write-back of ours is mended before the file is
    // read (ktSafeWrite.h); a read-only engine changes nothing.
    if (!readOnly_) {
        MendInterruptedReplace(fileName_);
    }
    if (!FileExists(fileName_)) {
        return;
    }
    handle_ = OpenFileHandle(fileName_, access, share, disposition, FILE_ATTRIBUTE_NORMAL);
    if (!handle_.IsValid()) {
        throw EIniFileError(fileName_);
    }
    ReadLeadBytes();
    // Only a writable engine writes back, so only it keeps the raw lines.
    const bool keepRaw = !readOnly_;
    encoding_ = ReadMark();
    if (encoding_ == enUtf16) {
        LoadUtf16Lines(keepRaw);
    } else {
        LoadLines(keepRaw);
    }
    sections_->RemoveDuplicates();
    if (keepRaw) {
        // The headers of dropped duplicate sections, and their entries, are
        // lines the engine no longer holds: they go back to disk unchanged.
        for (int i = 0; i < sections_->Count(); ++i) {
            if (sections_->HeaderLine(i) >= 0) {
                rawLines_[sections_->HeaderLine(i)].kind = rkDeadHeader;
            }
        }
        bool inDropped = false;
        for (size_t r = 0; r < rawLines_.size(); ++r) {
            TRawLine& rawLine = rawLines_[r];
            if (rawLine.kind == rkHeader) {
                rawLine.kind = rkDeadHeader;
                inDropped = true;
                NoteShadowingHeader(r);
            } else if (rawLine.kind == rkDeadHeader) {
                rawLine.kind = rkHeader;
                inDropped = false;
            } else if (rawLine.kind == rkEntry && inDropped) {
                rawLine.kind = rkOther;
            }
        }
    }
    if (readOnly_) {
        handle_.Close();
    }
}

void TktIniFile::NoteShadowingHeader(size_t droppedHeader) {
    const TRawLine& dropped = rawLines_[droppedHeader];
    size_t textEnd = 0;
    std::string line = RawText(dropped, textEnd);
    if (ParseLine(line) != lkHeader) {
        return;
    }
    int kept = sections_->IndexOf(line);
    if (kept < 0 || sections_->HeaderLine(kept) < 0) {
        return;
    }
    size_t header = static_cast<size_t>(sections_->HeaderLine(kept));
    for (const auto& shadowing : shadowingHeaders_) {
        if (shadowing.first == header) {
            return;
        }
    }
    shadowingHeaders_.emplace_back(header, sections_->Names(kept));
}

TktIniFile::TEncoding TktIniFile::ReadMark() {
    unsigned char mark[3] = {};
    DWORD got = 0;
    HANDLE handle = ToHandle(handle_.Get());
    if (!ReadFile(handle, mark, sizeof mark, &got, nullptr)) {
        got = 0;
    }
    TEncoding encoding = enAnsi;
    LONG skip = 0;
    if (got >= 2 && mark[0] == 0xFF && mark[1] == 0xFE) {
        encoding = enUtf16;
        skip = 2;
    } else if (got == 3 && mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF) {
        encoding = enUtf8Mark;
        skip = 3;
    }
    // The mark belongs to no line; a writable engine keeps it to write back.
    SetFilePointer(handle, skip, nullptr, FILE_BEGIN);
    if (!readOnly_ && skip > 0) {
        rawText_.assign(reinterpret_cast<const char*>(mark), static_cast<size_t>(skip));
        markLength_ = static_cast<size_t>(skip);
    }
    return encoding;
}

void TktIniFile::TakeLine(std::string& line, const std::string* raw, TStringList*& current,
                          size_t& currentHeader) {
    size_t rawIndex = rawLines_.size();
    if (raw) {
        rawLines_.push_back({rawText_.size(), raw->size(), rkOther, false});
        rawText_ += *raw;
    }
    switch (ParseLine(line)) {
    case lkSkip:
        break;
    case lkHeader: {
        auto lines = std::make_unique<TStringList>();
        current = lines.get();
        sections_->Add(line, std::move(lines), raw ? static_cast<int32_t>(rawIndex) : -1);
        if (raw) {
            rawLines_[rawIndex].kind = rkHeader;
            currentHeader = rawIndex;
        }
        break;
    }
    case lkEntry:
        if (!current) {
            break;
        }
        if (raw) {
            current->Add(line, RawLink(rawIndex));
            rawLines_[rawIndex].kind = rkEntry;
            rawLines_[currentHeader].hadEntries = true;
        } else {
            current->Add(line);
        }
        break;
    }
}

void TktIniFile::LoadLines(bool keepRaw) {
    TBlockLineReader reader(handle_.Get(), 1 << 20,
                            rules_ == TIniRules::Profile ? TLineEnds::AtCrOrLf : TLineEnds::AtCr);
    std::string line;
    std::string raw;
    TStringList* current = nullptr;
    size_t currentHeader = 0;
    while (reader.Next(line, keepRaw ? &raw : nullptr)) {
        TakeLine(line, keepRaw ? &raw : nullptr, current, currentHeader);
    }
    loadFailed_ = reader.ReadFailed();
}

TStringList* TktIniFile::FindSection(const std::string& asked, bool add) {
    const std::string section = Asked(asked);
    const int count = sections_->Count();
    if (count > 0) {
        // The remembered position may stand beyond an index that shrank.
        if (currentSection_ < 0 || currentSection_ >= count) {
            currentSection_ = 0;
        }
        int stop = currentSection_ == 0 ? count - 1 : currentSection_ - 1;
        for (;;) {
            if (SameText(section, sections_->Names(currentSection_))) {
                return sections_->SectionLines(currentSection_);
            }
            if (currentSection_ == stop) {
                break;
            }
            currentSection_ = currentSection_ + 1 == count ? 0 : currentSection_ + 1;
        }
    }
    if (!add) {
        return nullptr;
    }
    auto lines = std::make_unique<TStringList>();
    TStringList* result = lines.get();
    currentSection_ = sections_->Add(section, std::move(lines));
    return result;
}

int TktIniFile::FindKey(const std::string& section, const std::string& key, TStringList*& lines,
                        bool add) {
    lines = FindSection(section, add);
    if (!lines) {
        return -1;
    }
    return lines->IndexOfName(Asked(key));
}

std::string TktIniFile::ReadString(const std::string& section, const std::string& key,
                                   const std::string& defaultValue) {
    TStringList* lines = nullptr;
    int at = FindKey(section, key, lines, false);
    if (at < 0) {
        return defaultValue;
    }
    // The value follows the stored name's "=", whatever the length of the
    // key as asked (letter case can change a name's length in bytes).
    const std::string& line = (*lines)[at];
    size_t value = ValueStart(line);
    return value == std::string::npos ? std::string() : line.substr(value);
}

void TktIniFile::WriteString(const std::string& section, const std::string& key,
                             const std::string& value) {
    if (key.empty()) {
        if (section.empty() && value.empty()) {
            UpdateFile();
        } else {
            EraseSection(section);
        }
        return;
    }
    std::string line = Asked(key) + "=" + value;
    TStringList* lines = nullptr;
    int at = FindKey(section, key, lines, true);
    if (at < 0) {
        lines->Add(line);
        modified_ = true;
        ++generation_;
    } else if ((*lines)[at] != line) {
        lines->Set(at, line);
        modified_ = true;
        ++generation_;
    }
}

int32_t TktIniFile::ReadInteger(const std::string& section, const std::string& key,
                                int32_t defaultValue) {
    std::string text = ReadString(section, key, "");
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text = "$" + text.substr(2, 255);
    }
    int32_t value = 0;
    return TryStrToInt(text, value) ? value : defaultValue;
}

void TktIniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
    WriteString(section, key, std::to_string(value));
}

bool TktIniFile::ReadBool(const std::string& section, const std::string& key, bool defaultValue) {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TktIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void TktIniFile::ReadSection(const std::string& section, TStringList& names) {
    int at = sections_->IndexOf(Asked(section));
    if (at < 0) {
        return;
    }
    const TStringList& lines = *sections_->SectionLines(at);
    for (int i = 0; i < lines.Count(); ++i) {
        const std::string& line = lines[i];
        size_t eq = line.find('=');
        names.Add(eq == std::string::npos ? std::string() : line.substr(0, eq));
    }
}

void TktIniFile::ReadSections(TStringList& names) {
    names.Clear();
    for (int i = 0; i < sections_->Count(); ++i) {
        names.Add(sections_->Names(i));
    }
}

void TktIniFile::ReadSectionValues(const std::string& section, TStringList& pairs) {
    int at = sections_->IndexOf(Asked(section));
    if (at < 0) {
        return;
    }
    const TStringList& lines = *sections_->SectionLines(at);
    for (int i = 0; i < lines.Count(); ++i) {
        const std::string& line = lines[i];
        size_t eq = line.find('=');
        if (eq == std::string::npos) {
            SetNameValue(pairs, line, std::string());
            continue;
        }
        // SetNameValue with the line's name and value, whose new entry is
        // the line itself.
        int found = pairs.IndexOfName(line.substr(0, eq));
        if (found >= 0) {
            pairs.Set(found, line);
        } else {
            pairs.Add(line);
        }
    }
}

void TktIniFile::EraseSection(const std::string& section) {
    int at = sections_->IndexOf(Asked(section));
    if (at < 0) {
        return;
    }
    sections_->Delete(at);
    sections_->SetLastFound(0);
    modified_ = true;
    ++generation_;
}

void TktIniFile::DeleteKey(const std::string& section, const std::string& key) {
    TStringList* lines = nullptr;
    int at = FindKey(section, key, lines, true);
    if (at >= 0) {
        modified_ = true;
        lines->Delete(at);
        ++generation_;
    }
}

void TktIniFile::AddLine(const std::string& section, const std::string& key,
                         const std::string& value) {
    std::string line = Asked(key) + "=" + value;
    TStringList* lines = FindSection(section, true);
    if (exactSection_ != lines || exactGeneration_ != generation_) {
        exactLines_.clear();
        for (int i = 0; i < lines->Count(); ++i) {
            exactLines_.insert((*lines)[i]);
        }
        exactSection_ = lines;
        exactGeneration_ = generation_;
    }
    if (exactLines_.insert(line).second) {
        lines->Add(line);
        modified_ = true;
    }
}

void TktIniFile::GetStrings(TStringList& lines) {
    for (int i = 0; i < sections_->Count(); ++i) {
        const TStringList& section = *sections_->SectionLines(i);
        if (section.Empty()) {
            continue;
        }
        lines.Add("[" + sections_->Names(i) + "]");
        for (int j = 0; j < section.Count(); ++j) {
            lines.Add(section[j]);
        }
        lines.Add("");
    }
}
