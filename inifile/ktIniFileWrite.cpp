// The INI engine's write-back: the file's own lines with the engine's
// changes applied, written through a temporary file (ktSafeWrite) so that
// the file is never left half written.
#include "ktIniFile.h"

#include "ktSafeWrite.h"
#include "ktSectionList.h"
#include "ktStrUtils.h"
#include "winapi.h"

#include <cstring>
#include <unordered_map>

namespace {

// The raw line a stored line came from, or -1 for a line the engine added.
ptrdiff_t RawIndexOf(void* object) {
    return reinterpret_cast<ptrdiff_t>(object) - 1;
}

} // namespace

std::string TktIniFile::BuildFileText() const {
    // For every raw line, the stored line it became (null once deleted);
    // for every kept header, whether its section still stands; and after
    // which raw line each section's new lines go.
    std::vector<const std::string*> current(rawLines_.size(), nullptr);
    std::vector<bool> headerKept(rawLines_.size(), false);
    std::unordered_map<size_t, int> newLinesAfter;
    std::vector<int> newSections;
    std::vector<bool> shadowing(rawLines_.size(), false);
    for (const auto& entry : shadowingHeaders_) {
        shadowing[entry.first] = true;
        headerKept[entry.first] = true;
    }
    for (int i = 0; i < sections_->Count(); ++i) {
        const TStringList& lines = *sections_->SectionLines(i);
        int32_t header = sections_->HeaderLine(i);
        if (header < 0) {
            // A section added again after it was erased goes below its old
            // header when that header stays for a dropped duplicate.
            for (const auto& entry : shadowingHeaders_) {
                if (SameText(entry.second, sections_->Names(i))) {
                    header = static_cast<int32_t>(entry.first);
                }
            }
        }
        if (header >= 0) {
            // A section that never held an entry is not the engine's doing
            // and stays; one left without entries goes, as it would from the
            // engine's own form.
            headerKept[header] =
                !lines.Empty() || !rawLines_[header].hadEntries || shadowing[header];
        }
        ptrdiff_t anchor = header;
        bool hasNew = false;
        for (int j = 0; j < lines.Count(); ++j) {
            ptrdiff_t raw = RawIndexOf(lines.Objects(j));
            if (raw >= 0) {
                current[raw] = &lines[j];
                anchor = raw;
            } else {
                hasNew = true;
            }
        }
        if (hasNew) {
            if (header >= 0) {
                newLinesAfter[static_cast<size_t>(anchor)] = i;
            } else {
                newSections.push_back(i);
            }
        }
    }
    const std::string lineEnd = Encode("\r\n");
    const std::string cr = Encode("\r");
    std::string out(rawText_, 0, markLength_);
    out.reserve(rawText_.size() + 64);
    const std::string lf = Encode("\n");
    auto endsWith = [&out, this](size_t end, const std::string& tail) {
        return end >= markLength_ + tail.size() &&
               out.compare(end - tail.size(), tail.size(), tail) == 0;
    };
    // Under the install log's rules only a CR ends a line (LFs are dropped
    // wherever they stand), so a last line that ends in text or in LFs alone
    // still needs its CR; under the profile rules an LF ends it too.
    auto breakLine = [&]() {
        if (encoding_ == enUtf16 && out.size() % 2 != 0) {
            // A UTF-16 file that ended in an odd byte: complete that unit,
            // or every line after it would be read a byte out of step.
            out += '\0';
        }
        size_t end = out.size();
        if (rules_ == TIniRules::Profile) {
            if (end > markLength_ && !endsWith(end, cr) && !endsWith(end, lf)) {
                out += lineEnd;
            }
            return;
        }
        while (endsWith(end, lf)) {
            end -= lf.size();
        }
        if (end > markLength_ && !endsWith(end, cr)) {
            out += lineEnd;
        }
    };
    auto writeNewLines = [&](const TStringList& lines) {
        for (int j = 0; j < lines.Count(); ++j) {
            if (lines.Objects(j) == nullptr) {
                breakLine();
                out += Encode(lines[j]);
                out += lineEnd;
            }
        }
    };
    auto writeNewSection = [&](int i) {
        breakLine();
        out += Encode("[" + sections_->Names(i) + "]");
        out += lineEnd;
        writeNewLines(*sections_->SectionLines(i));
        out += lineEnd;
    };
    bool dropping = false;
    std::string logical;
    for (size_t r = 0; r < rawLines_.size(); ++r) {
        const TRawLine& rawLine = rawLines_[r];
        const char* bytes = rawText_.data() + rawLine.offset;
        if (rawLine.kind == rkHeader || rawLine.kind == rkDeadHeader) {
            dropping = rawLine.kind == rkHeader && !headerKept[r];
        }
        if (dropping) {
            continue;
        }
        if (rawLine.kind == rkEntry) {
            if (!current[r]) {
                continue;
            }
            size_t textEnd = 0;
            logical = RawText(rawLine, textEnd);
            ParseLine(logical);
            if (logical == *current[r]) {
                out.append(bytes, rawLine.length);
            } else {
                out += Encode(*current[r]);
                out.append(bytes + textEnd, rawLine.length - textEnd);
            }
        } else {
            out.append(bytes, rawLine.length);
        }
        auto anchored = newLinesAfter.find(r);
        if (anchored != newLinesAfter.end()) {
            writeNewLines(*sections_->SectionLines(anchored->second));
        }
    }
    for (int i : newSections) {
        writeNewSection(i);
    }
    return out;
}

bool TktIniFile::WriteBack() {
    if (loadFailed_) {
        // Part of the file was never read: writing would cut it off.
        return false;
    }
    if (handle_.Get() == 0) {
        size_t sep = fileName_.find_last_of("\\:");
        ForceDirectories(sep == std::string::npos ? std::string() : fileName_.substr(0, sep + 1));
    } else if (handle_.Get() < 0) {
        return false;
    }
    std::string text = BuildFileText();
    // The engine's own handle shares the file with readers only, which
    // would keep it from being replaced; it is opened again afterwards, so
    // the engine goes on holding the file against other writers (or holds
    // none, 0, when that open fails).
    handle_.Close();
    bool written = ReplaceFileContent(fileName_, text);
    DWORD error = written ? 0 : GetLastError();
    TScopedFileHandle reopened =
        OpenFileHandle(fileName_, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL);
    if (reopened.IsValid()) {
        handle_ = std::move(reopened);
    }
    if (!written) {
        SetLastError(error);
    }
    return written;
}

bool TktIniFile::UpdateFile() {
    if (!modified_) {
        return true;
    }
    if (fileName_.empty() || readOnly_) {
        modified_ = false;
        return true;
    }
    if (!WriteBack()) {
        return false;
    }
    modified_ = false;
    return true;
}
