// The terminal front-end's text: tagged lines on standard output (format in
// pal/README.md) and answers read from standard input, one line per answer,
// matched against the buttons of the box or dialog that waits.
#include "windowing.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <strings.h>
#include <unistd.h>

namespace pal::ui {

namespace {

void WriteLine(const std::string& line) {
    std::string out = line + "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
}

bool InputIsTerminal() {
    return isatty(STDIN_FILENO) == 1;
}

} // namespace

void Emit(const std::string& tag, const std::string& text) {
    std::string line;
    auto flush = [&] { WriteLine(line.empty() ? tag : tag + " " + line); };
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            flush();
            line.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            line += c;
        }
    }
    flush();
}

std::string RectText(const RECT& r) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "rect=%ld,%ld,%ld,%ld", static_cast<long>(r.left),
                  static_cast<long>(r.top), static_cast<long>(r.right),
                  static_cast<long>(r.bottom));
    return buffer;
}

// A button's label without its mnemonic marks ("&Yes" -> "Yes").
std::string Label(const std::string& text) {
    std::string label;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) {
            ++i;
        }
        label += text[i];
    }
    return label;
}

std::string ButtonsText(const std::vector<Button>& buttons) {
    std::string text;
    for (const Button& b : buttons) {
        if (!text.empty()) {
            text += " | ";
        }
        text += std::to_string(b.id) + " " + b.label;
    }
    return text;
}

std::string LabelOf(const std::vector<Button>& buttons, int id) {
    for (const Button& b : buttons) {
        if (b.id == id) {
            return b.label;
        }
    }
    return id == IDCANCEL ? "Esc" : std::to_string(id);
}

// Reads one line of standard input, byte by byte so that nothing beyond the
// line is taken from a pipe that a launched program may inherit. False at
// end of input and when an interrupt arrives.
bool ReadAnswerLine(std::string& line) {
    line.clear();
    if (InputIsTerminal()) {
        std::fputs("> ", stdout);
        std::fflush(stdout);
    }
    for (;;) {
        TakeInterrupt();
        if (QuitPending()) {
            return false;
        }
        char c = 0;
        ssize_t got = read(STDIN_FILENO, &c, 1);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return !line.empty();
        }
        if (c == '\n') {
            break;
        }
        line += c;
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
        line.pop_back();
    }
    size_t start = line.find_first_not_of(" \t");
    line.erase(0, start == std::string::npos ? line.size() : start);
    return true;
}

bool MatchAnswer(const std::string& line, const std::vector<Button>& buttons, int& id) {
    if (strcasecmp(line.c_str(), "Esc") == 0) {
        id = IDCANCEL;
        return true;
    }
    for (const Button& b : buttons) {
        if (strcasecmp(line.c_str(), b.label.c_str()) == 0) {
            id = b.id;
            return true;
        }
    }
    const Button* only = nullptr;
    int fitting = 0;
    for (const Button& b : buttons) {
        if (!line.empty() && line.size() < b.label.size() &&
            strncasecmp(line.c_str(), b.label.c_str(), line.size()) == 0) {
            only = &b;
            ++fitting;
        }
    }
    if (fitting == 1) {
        id = only->id;
        return true;
    }
    char* end = nullptr;
    long number = std::strtol(line.c_str(), &end, 10);
    if (!line.empty() && end && *end == '\0') {
        for (const Button& b : buttons) {
            if (b.id == number) {
                id = b.id;
                return true;
            }
        }
    }
    return false;
}

} // namespace pal::ui
