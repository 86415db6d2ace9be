// The programs that the install log names for before removal ("PreRunApp",
// any of which can call the uninstall off) and after it ("RunApp").
#include "UnVantrel.h"

#include "ktFileUtils.h"
#include "ktShell.h"
#include "ktStrUtils.h"

#include <cctype>
#include <cstdint>
#include <string>

namespace {

// The integer text rule of the program: leading blanks skipped, then an
// optional sign and decimal digits (signed 32-bit range), or "$" and up to
// eight hexadecimal digits; nothing may follow.
bool ReadInteger(const std::string& text, int32_t& value) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') {
        ++i;
    }
    if (i < text.size() && text[i] == '$') {
        ++i;
        // Leading zeros are not significant.
        size_t start = i;
        while (i < text.size() && text[i] == '0') {
            ++i;
        }
        uint32_t result = 0;
        int digits = 0;
        for (; i < text.size(); ++i) {
            unsigned char c = static_cast<unsigned char>(text[i]);
            if (!std::isxdigit(c) || ++digits > 8) {
                return false;
            }
            int digit = std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10;
            result = result * 16 + static_cast<uint32_t>(digit);
        }
        if (i == start) {
            return false;
        }
        value = static_cast<int32_t>(result);
        return true;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i >= text.size()) {
        return false;
    }
    int64_t result = 0;
    for (; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (!std::isdigit(c)) {
            return false;
        }
        result = result * 10 + (c - '0');
        if (result > 2147483648LL) {
            return false;
        }
    }
    if (negative) {
        result = -result;
    }
    if (result > INT32_MAX) {
        return false;
    }
    value = static_cast<int32_t>(result);
    return true;
}

// Field 4 of an entry to the shell's show value.
int ShowValue(const std::string& field) {
    int32_t mode = 1;
    if (!ReadInteger(field, mode)) {
        mode = 1;
    }
    switch (mode) {
    case 0:
        return SW_HIDE;
    case 2:
        return SW_SHOWMAXIMIZED;
    case 3:
        return SW_SHOWMINIMIZED;
    default:
        return SW_SHOW;
    }
}

} // namespace

int RunProgramEntry(const std::string& value) {
    const CharSet comma = CommaSet();
    std::string file = UnquoteText(GetField(1, value, comma), '"');
    if (!FileExists(file)) {
        return 0;
    }
    std::string parameters = GetField(2, value, comma);
    std::string directory = GetField(3, value, comma);
    int show = ShowValue(GetField(4, value, comma));
    std::string caption = UnquoteText(GetField(5, value, comma), '"');
    if (!caption.empty()) {
        AddProgressCaption(caption);
    }
    return ExecAndWait(ProgressWindow, file, parameters, directory, show);
}

bool RunProgramsBefore() {
    LoadSection("PreRunApp");
    for (int i = 0; i < SectionEntries.Count(); ++i) {
        if (RunProgramEntry(ValueOf(SectionEntries[i])) != 0) {
            return false;
        }
    }
    return true;
}

void RunProgramsAfter() {
    LoadSection("RunApp");
    for (int i = 0; i < SectionEntries.Count(); ++i) {
        RunProgramEntry(ValueOf(SectionEntries[i]));
    }
}
