// Text for the removal report: the program's ANSI strings carried over to
// UTF-8 and written as JSON string literals.
#pragma once

#include <string>

// The text converted from the ANSI code page to UTF-8. Bytes the code page
// does not map become U+FFFD, so the result is always valid UTF-8.
std::string AnsiToUtf8(const std::string& text);
// A JSON string literal (quotes included) holding `utf8`: the quote, the
// backslash and every control character are escaped.
std::string JsonQuote(const std::string& utf8);
// JsonQuote of the ANSI text converted to UTF-8.
std::string JsonQuoteAnsi(const std::string& text);
