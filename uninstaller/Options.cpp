// The option parser: one pass over the arguments, driven by a table of the
// known options.
#include "Options.h"

#include <cctype>

namespace {

std::string Upper(const std::string& text) {
    std::string result = text;
    for (char& c : result) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return result;
}

// Sets the option's policy from its value (the text after "=", or null when
// there is none); false for a bad or missing value.
using TOptionSetter = bool (*)(TRunOptions& options, const std::string* value);

struct TOptionKind {
    const char* name; // upper case, without the leading "/" or "-"
    TOptionSetter set;
};

bool SetFlag(bool TRunOptions::*flag, TRunOptions& options, const std::string* value) {
    if (value != nullptr) {
        return false;
    }
    options.*flag = true;
    return true;
}

const TOptionKind kOptions[] = {
    {"S", [](TRunOptions& o, const std::string* v) { return SetFlag(&TRunOptions::silent, o, v); }},
    {"PASSIVE",
     [](TRunOptions& o, const std::string* v) { return SetFlag(&TRunOptions::passive, o, v); }},
    {"PREVIEW",
     [](TRunOptions& o, const std::string* v) { return SetFlag(&TRunOptions::preview, o, v); }},
    {"LOG",
     [](TRunOptions& o, const std::string* v) {
         if (v == nullptr || v->empty()) {
             return false;
         }
         o.reportPath = *v;
         return true;
     }},
    {"SHARED",
     [](TRunOptions& o, const std::string* v) {
         if (v == nullptr || Upper(*v) != "REMOVE") {
             return false;
         }
         o.sharedRemove = true;
         return true;
     }},
    {"CLOSEAPPS",
     [](TRunOptions& o, const std::string* v) { return SetFlag(&TRunOptions::closeApps, o, v); }},
};

const TOptionKind* FindOption(const std::string& upperName) {
    for (const TOptionKind& kind : kOptions) {
        if (upperName == kind.name) {
            return &kind;
        }
    }
    return nullptr;
}

} // namespace

TRunOptions ParseOptions(const std::vector<std::string>& arguments) {
    TRunOptions options;
    bool logFound = false;
    for (const std::string& argument : arguments) {
        bool slash = !argument.empty() && argument[0] == '/';
        bool dash = !argument.empty() && argument[0] == '-';
        size_t equals = argument.find('=');
        std::string name = (slash || dash) ? Upper(argument.substr(1, equals - 1)) : std::string();
        const TOptionKind* kind = FindOption(name);
        if (!slash && (!dash || kind == nullptr)) {
            if (!logFound) {
                options.logPath = argument;
                logFound = true;
            }
            continue;
        }
        options.any = true;
        options.given.push_back(argument);
        std::string value =
            equals == std::string::npos ? std::string() : argument.substr(equals + 1);
        bool good =
            kind != nullptr && kind->set(options, equals == std::string::npos ? nullptr : &value);
        if (!good && options.badOption.empty()) {
            options.badOption = argument;
        }
    }
    // A preview exists only as its report.
    if (options.preview && options.reportPath.empty() && options.badOption.empty()) {
        for (const std::string& argument : options.given) {
            if (Upper(argument.substr(1)) == "PREVIEW") {
                options.badOption = argument;
                break;
            }
        }
    }
    return options;
}
