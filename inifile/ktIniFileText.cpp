// How the INI engine reads and writes files in UTF-16 LE: each line is
// converted to the ANSI code page for the engine, and written back in
// UTF-16; lines the engine did not change go back byte for byte.
#include "ktIniFile.h"

#include "ktSectionList.h"
#include "winapi.h"

#include <cstring>
#include <string>

namespace {

using TWideText = std::basic_string<WCHAR>;

const WCHAR kCr = 13;
const WCHAR kLf = 10;

WCHAR UnitAt(const std::string& bytes, size_t at) {
    return static_cast<WCHAR>(static_cast<unsigned char>(bytes[at]) |
                              (static_cast<unsigned char>(bytes[at + 1]) << 8));
}

std::string ToAnsi(const TWideText& wide) {
    if (wide.empty()) {
        return std::string();
    }
    int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                     0, nullptr, nullptr);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) {
        WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &text[0], length,
                            nullptr, nullptr);
    }
    return text;
}

std::string ToUtf16Bytes(const std::string& text) {
    if (text.empty()) {
        return std::string();
    }
    int length =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    TWideText wide(length > 0 ? static_cast<size_t>(length) : 0, WCHAR(0));
    if (length > 0) {
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                            length);
    }
    std::string bytes;
    bytes.reserve(wide.size() * 2);
    for (WCHAR unit : wide) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>((unit >> 8) & 0xFF);
    }
    return bytes;
}

} // namespace

void TktIniFile::LoadUtf16Lines(bool keepRaw) {
    // The whole file at once: UTF-16 files are small INI files and logs.
    std::string bytes;
    std::string block(1 << 16, '\0');
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(ToHandle(handle_.Get()), &block[0], static_cast<DWORD>(block.size()), &got,
                      nullptr)) {
            loadFailed_ = true;
            break;
        }
        if (got == 0) {
            break;
        }
        bytes.append(block.data(), got);
    }
    // Lines end as in an ANSI file: at a CR, dropping every LF, or under the
    // profile rules at CR LF, CR or LF. The LF right after a CR belongs to
    // the line it ends.
    const bool anyEnd = rules_ == TIniRules::Profile;
    const size_t units = bytes.size() / 2 * 2;
    size_t pos = 0;
    bool tookLineFeed = false;
    TStringList* current = nullptr;
    size_t currentHeader = 0;
    TWideText wide;
    std::string raw;
    while (pos < units || tookLineFeed) {
        tookLineFeed = false;
        const size_t start = pos;
        wide.clear();
        while (pos < units && UnitAt(bytes, pos) != kCr && !(anyEnd && UnitAt(bytes, pos) == kLf)) {
            if (UnitAt(bytes, pos) != kLf) {
                wide += UnitAt(bytes, pos);
            }
            pos += 2;
        }
        if (pos < units) {
            const bool atCr = UnitAt(bytes, pos) == kCr;
            pos += 2;
            if (atCr && pos < units && UnitAt(bytes, pos) == kLf) {
                pos += 2;
                // Under the install log's rules that LF still opens a line.
                tookLineFeed = !anyEnd;
            }
        }
        std::string line = ToAnsi(wide);
        raw.assign(bytes, start, pos - start);
        TakeLine(line, keepRaw ? &raw : nullptr, current, currentHeader);
    }
    if (keepRaw && units < bytes.size()) {
        // An odd last byte is no character; it stays as it is.
        rawLines_.push_back({rawText_.size(), 1, rkOther, false});
        rawText_ += bytes.back();
    }
}

std::string TktIniFile::RawText(const TRawLine& rawLine, size_t& textEnd) const {
    const char* bytes = rawText_.data() + rawLine.offset;
    if (encoding_ != enUtf16 && rules_ == TIniRules::Profile) {
        // The line end is the raw line's only CR or LF, and its last bytes.
        textEnd = 0;
        while (textEnd < rawLine.length && bytes[textEnd] != '\r' && bytes[textEnd] != '\n') {
            ++textEnd;
        }
        return std::string(bytes, textEnd);
    }
    if (encoding_ != enUtf16) {
        // The line end is what follows the text: from its CR on, or the
        // trailing LFs of a last line without CR.
        textEnd = rawLine.length;
        const void* cr = memchr(bytes, '\r', rawLine.length);
        if (cr) {
            textEnd = static_cast<const char*>(cr) - bytes;
        } else {
            while (textEnd > 0 && bytes[textEnd - 1] == '\n') {
                --textEnd;
            }
        }
        std::string text;
        text.reserve(textEnd);
        for (size_t i = 0; i < textEnd; ++i) {
            if (bytes[i] != '\n') {
                text += bytes[i];
            }
        }
        return text;
    }
    const std::string line(bytes, rawLine.length);
    const size_t units = line.size() / 2 * 2;
    textEnd = units;
    for (size_t at = 0; at < units; at += 2) {
        if (UnitAt(line, at) == kCr || (rules_ == TIniRules::Profile && UnitAt(line, at) == kLf)) {
            textEnd = at;
            break;
        }
    }
    if (textEnd == units) {
        while (textEnd > 0 && UnitAt(line, textEnd - 2) == kLf) {
            textEnd -= 2;
        }
    }
    TWideText wide;
    for (size_t at = 0; at < textEnd; at += 2) {
        if (UnitAt(line, at) != kLf) {
            wide += UnitAt(line, at);
        }
    }
    return ToAnsi(wide);
}

std::string TktIniFile::Encode(const std::string& text) const {
    return encoding_ == enUtf16 ? ToUtf16Bytes(text) : text;
}
