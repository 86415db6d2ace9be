// The command-line split on any text, and on arguments written by its
// inverse, which must come back unchanged (or be refused for a double quote
// or a NUL); then the options that follow the log path on the split line.
#include "FuzzSupport.h"
#include "Options.h"
#include "ktCommandLine.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>

namespace {

// What the parser must make of the arguments after the log path: every
// argument that begins with "/" is kept in order, a bad one is one of them,
// the flags come only from sound options, and a preview always has a report.
void CheckOptions(const std::vector<std::string>& arguments) {
    const TRunOptions options = ParseOptions(arguments);
    std::vector<std::string> slashed;
    for (const auto& argument : arguments) {
        if (!argument.empty() && argument[0] == '/') {
            slashed.push_back(argument);
        }
    }
    FUZZ_CHECK(options.given == slashed, "the options are kept as given, in their order");
    FUZZ_CHECK(options.any == !slashed.empty(), "any option counts");
    FUZZ_CHECK(options.badOption.empty() ||
                   std::find(slashed.begin(), slashed.end(), options.badOption) != slashed.end(),
               "a bad option is one that was given: " + options.badOption);
    FUZZ_CHECK(!options.preview || !options.reportPath.empty() || !options.Valid(),
               "a sound preview has a report");
    FUZZ_CHECK(options.reportPath.empty() ||
                   std::any_of(slashed.begin(), slashed.end(),
                               [&](const std::string& a) {
                                   return a.size() == 5 + options.reportPath.size() &&
                                          a.compare(5, std::string::npos, options.reportPath) == 0;
                               }),
               "the report path is the value of a /LOG= option");
    FUZZ_CHECK(!options.silent || options.Unattended(), "silent is unattended");
    // Arguments that are not options change nothing.
    const TRunOptions again = ParseOptions(slashed);
    FUZZ_CHECK(again.badOption == options.badOption && again.reportPath == options.reportPath &&
                   again.silent == options.silent && again.passive == options.passive &&
                   again.preview == options.preview && again.sharedRemove == options.sharedRemove,
               "arguments without a slash are ignored");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string line = input.ConsumeRandomLengthString(1024);
    const std::vector<std::string> split = SplitCommandLine(line);
    size_t total = 0;
    for (const auto& argument : split) {
        total += argument.size();
        FUZZ_CHECK(argument.find('"') == std::string::npos, "quotes are not part of arguments");
    }
    FUZZ_CHECK(total <= line.size(), "arguments come from the line");
    if (!split.empty()) {
        CheckOptions(std::vector<std::string>(split.begin() + 1, split.end()));
    }

    std::vector<std::string> arguments;
    bool writable = true;
    while (input.remaining_bytes() > 0 && arguments.size() < 8) {
        std::string argument = input.ConsumeRandomLengthString(64);
        writable = writable && argument.find_first_of(std::string("\"\0", 2)) == std::string::npos;
        arguments.push_back(argument);
    }
    std::string written = "untouched";
    FUZZ_CHECK(JoinCommandLine(arguments, written) == writable,
               "only a double quote or a NUL is refused");
    FUZZ_CHECK(writable ? SplitCommandLine(written) == arguments : written == "untouched",
               "the arguments come back: " + written);
    return 0;
}
