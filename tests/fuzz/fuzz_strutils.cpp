// GetField and UnquoteText on any text, and on fields quoted as the install
// log writes them, which must come back unchanged.
#include "FuzzSupport.h"
#include "ktStrUtils.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <vector>

namespace {

std::string Quote(const std::string& text, char quote) {
    std::string result(1, quote);
    for (char c : text) {
        result += c;
        if (c == quote) {
            result += quote;
        }
    }
    return result + quote;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const CharSet comma = CommaSet();

    // Any text: fields are pieces of it, unquoting never grows it.
    const std::string text = input.ConsumeRandomLengthString(512);
    for (int32_t n = -1; n <= 6; ++n) {
        const std::string field = GetField(n, text, comma);
        FUZZ_CHECK(field.size() <= text.size(), "a field is no longer than its text");
    }
    for (char quote : {'\'', '"'}) {
        const std::string unquoted = UnquoteText(text, quote);
        if (text.empty() || text[0] != quote) {
            FUZZ_CHECK(unquoted == text, "a text without an opening quote stays");
        } else {
            FUZZ_CHECK(unquoted.size() < text.size(), "unquoting removes the quote");
        }
    }
    if (text.find_first_of("'\"") == std::string::npos) {
        // Without quotes, fields are exactly the pieces between commas.
        size_t start = 0;
        for (int32_t n = 1; n <= 6; ++n) {
            size_t end = start == std::string::npos ? start : text.find(',', start);
            std::string piece = start == std::string::npos ? std::string()
                                : end == std::string::npos ? text.substr(start)
                                                           : text.substr(start, end - start);
            FUZZ_CHECK(GetField(n, text, comma) == piece, "field " + std::to_string(n));
            start = end == std::string::npos ? end : end + 1;
        }
    }

    // Fields written in single quotes, joined by commas, come back whole
    // (a NUL ends unquoting as it ends a C string).
    std::vector<std::string> fields;
    std::string line;
    while (input.remaining_bytes() > 0 && fields.size() < 6) {
        std::string field = input.ConsumeRandomLengthString(64);
        field.erase(std::remove(field.begin(), field.end(), '\0'), field.end());
        fields.push_back(field);
        line += (fields.size() > 1 ? "," : "") + Quote(fields.back(), '\'');
    }
    for (size_t i = 0; i < fields.size(); ++i) {
        FUZZ_CHECK(GetField(static_cast<int32_t>(i + 1), line, comma) == fields[i],
                   "quoted field " + std::to_string(i + 1) + " of [" + line + "]");
        FUZZ_CHECK(UnquoteText(Quote(fields[i], '"'), '"') == fields[i], "double quotes");
    }
    FUZZ_CHECK(GetField(static_cast<int32_t>(fields.size() + 1), line, comma).empty(),
               "no field after the last");
    return 0;
}
