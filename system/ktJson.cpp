// ANSI to UTF-8 through the system's own code page table, JSON escaping,
// and the object writer.
#include "ktJson.h"

#include "winapi.h"

#include <vector>

namespace {

void AppendUtf8(std::string& out, unsigned long code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

bool IsAscii(const std::string& text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

} // namespace

std::string AnsiToUtf8(const std::string& text) {
    // Most paths are plain ASCII, the same bytes in every code page.
    if (text.empty() || IsAscii(text)) {
        return text;
    }
    const int length = static_cast<int>(text.size());
    std::vector<WCHAR> wide(text.size());
    int count = MultiByteToWideChar(CP_ACP, 0, text.data(), length, wide.data(), length);
    std::string out;
    if (count <= 0) {
        // No table: keep ASCII, mark the rest as unknown.
        for (char c : text) {
            unsigned char byte = static_cast<unsigned char>(c);
            AppendUtf8(out, byte < 0x80 ? byte : 0xFFFD);
        }
        return out;
    }
    out.reserve(text.size() + text.size() / 2);
    for (int i = 0; i < count; ++i) {
        unsigned long unit = wide[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < count && wide[i + 1] >= 0xDC00 &&
            wide[i + 1] <= 0xDFFF) {
            unsigned long low = wide[++i];
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            AppendUtf8(out, 0xFFFD); // a lone surrogate has no UTF-8 form
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

std::string JsonQuote(const std::string& utf8) {
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(utf8.size() + 2);
    out += '"';
    for (char c : utf8) {
        unsigned char byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        default:
            if (byte < 0x20 || byte == 0x7F) {
                out += "\\u00";
                out += hex[byte >> 4];
                out += hex[byte & 0xF];
            } else {
                out += c;
            }
        }
    }
    out += '"';
    return out;
}

std::string JsonQuoteAnsi(const std::string& text) {
    return JsonQuote(AnsiToUtf8(text));
}

TJsonObject::TJsonObject() : text_("{") {}

std::string& TJsonObject::Key(const char* key) {
    if (text_.size() > 1) {
        text_ += ',';
    }
    text_ += JsonQuote(key);
    text_ += ':';
    return text_;
}

TJsonObject& TJsonObject::Text(const char* key, const std::string& ansi) {
    Key(key) += JsonQuoteAnsi(ansi);
    return *this;
}

TJsonObject& TJsonObject::Number(const char* key, long long value) {
    Key(key) += std::to_string(value);
    return *this;
}

TJsonObject& TJsonObject::Bool(const char* key, bool value) {
    Key(key) += value ? "true" : "false";
    return *this;
}

TJsonObject& TJsonObject::TextArray(const char* key, const std::vector<std::string>& ansi) {
    std::string& out = Key(key);
    out += '[';
    for (size_t i = 0; i < ansi.size(); ++i) {
        if (i != 0) {
            out += ',';
        }
        out += JsonQuoteAnsi(ansi[i]);
    }
    out += ']';
    return *this;
}

TJsonObject& TJsonObject::Object(const char* key, const TJsonObject& value) {
    Key(key) += value.Done();
    return *this;
}
