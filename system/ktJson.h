// JSON for the removal report: the program's ANSI strings carried over to
// UTF-8 and written as string literals, and the one writer that builds the
// report's objects with them.
#pragma once

#include <string>
#include <vector>

// The text converted from the ANSI code page to UTF-8. Bytes the code page
// does not map become U+FFFD, so the result is always valid UTF-8.
std::string AnsiToUtf8(const std::string& text);
// A JSON string literal (quotes included) holding `utf8`: the quote, the
// backslash and every control character are escaped.
std::string JsonQuote(const std::string& utf8);
// JsonQuote of the ANSI text converted to UTF-8.
std::string JsonQuoteAnsi(const std::string& text);

// Builds one JSON object, member by member, in the order they are added.
// Texts are the program's ANSI strings: each is converted to UTF-8 and
// quoted here, once. Keys are ASCII literals.
class TJsonObject {
  public:
    TJsonObject();
    TJsonObject& Text(const char* key, const std::string& ansi);
    TJsonObject& Number(const char* key, long long value);
    TJsonObject& Bool(const char* key, bool value);
    TJsonObject& TextArray(const char* key, const std::vector<std::string>& ansi);
    // A member whose value is an object built by another writer.
    TJsonObject& Object(const char* key, const TJsonObject& value);
    // The object's text, closed.
    std::string Done() const { return text_ + "}"; }

  private:
    std::string& Key(const char* key);
    std::string text_;
};
