// The option parser: one pass over the arguments after the log path.
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

} // namespace

TRunOptions ParseOptions(const std::vector<std::string>& arguments) {
    TRunOptions options;
    for (const std::string& argument : arguments) {
        // -CLOSEAPPS is the one option that may begin with "-".
        bool dashCloseApps = Upper(argument) == "-CLOSEAPPS";
        if (argument.empty() || (argument[0] != '/' && !dashCloseApps)) {
            continue;
        }
        options.any = true;
        options.given.push_back(argument);
        size_t equals = argument.find('=');
        std::string name = Upper(argument.substr(0, equals));
        std::string value =
            equals == std::string::npos ? std::string() : argument.substr(equals + 1);
        bool hasValue = equals != std::string::npos;
        bool good = true;
        if (name == "/S" && !hasValue) {
            options.silent = true;
        } else if (name == "/PASSIVE" && !hasValue) {
            options.passive = true;
        } else if (name == "/PREVIEW" && !hasValue) {
            options.preview = true;
        } else if (name == "/LOG" && hasValue && !value.empty()) {
            options.reportPath = value;
        } else if (name == "/SHARED" && hasValue && Upper(value) == "REMOVE") {
            options.sharedRemove = true;
        } else if ((name == "/CLOSEAPPS" || dashCloseApps) && !hasValue) {
            options.closeApps = true;
        } else {
            good = false;
        }
        if (!good && options.badOption.empty()) {
            options.badOption = argument;
        }
    }
    // A preview exists only as its report.
    if (options.preview && options.reportPath.empty() && options.badOption.empty()) {
        for (const std::string& argument : options.given) {
            if (Upper(argument) == "/PREVIEW") {
                options.badOption = argument;
                break;
            }
        }
    }
    return options;
}
