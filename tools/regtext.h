// REGEDIT4 text for the native registry: key names with their roots, and
// the import of a whole text in one transaction. Shared by vantrel-reg and
// its fuzz target.
#pragma once

#include "pal.h"

#include <iosfwd>
#include <string>

namespace regtext {

struct Root {
    const char* longName;
    const char* shortName;
    HKEY key;
};

// The four roots, HKEY_LOCAL_MACHINE first.
extern const Root kRoots[4];

struct KeyName {
    const Root* root = nullptr;
    std::string subKey; // without leading or trailing backslashes
    std::string Text() const {
        return subKey.empty() ? root->longName : std::string(root->longName) + "\\" + subKey;
    }
};

// A key written with the long or the short root name; false for an unknown
// root or a path with an empty component after the root.
bool ParseKeyName(const std::string& text, KeyName& key);

// Applies REGEDIT4 text: all of it or nothing. On failure writes one line
// to `errors` ("vantrel-reg: NAME:LINE: reason; nothing imported", NAME
// being `name`) and returns 1; 0 when everything was applied.
int ImportRegText(std::istream& in, const std::string& name, std::ostream& errors);

} // namespace regtext
