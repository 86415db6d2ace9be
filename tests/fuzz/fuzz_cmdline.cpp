// The command-line split on any text, and on arguments written by its
// inverse, which must come back unchanged (or be refused for a double quote
// or a NUL); then the options and the log path on the split line.
#include "FuzzSupport.h"
#include "Options.h"
#include "ktCommandLine.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>

namespace {

// What the parser must make of the arguments after the program's name:
// every argument that begins with "/" is an option, and those that begin with
// "-" may be; the options are kept in order, a bad one is one of them, the
// log path is the first argument that is not an option, the flags come only
// from sound options, and a preview always has a report.
void CheckOptions(const std::vector<std::string>& arguments) {
    const TRunOptions options = ParseOptions(arguments);
    std::vector<std::string> rest;
    size_t next = 0;
    for (const auto& argument : arguments) {
        if (next < options.given.size() && argument == options.given[next]) {
            ++next;
            continue;
        }
        FUZZ_CHECK(argument.empty() || argument[0] != '/', "a slash begins an option: " + argument);
        rest.push_back(argument);
    }
    FUZZ_CHECK(next == options.given.size(), "the options are kept as given, in their order");
    for (const auto& option : options.given) {
        FUZZ_CHECK(!option.empty() && (option[0] == '/' || option[0] == '-'),
                   "an option begins with a slash or a dash: " + option);
    }
    FUZZ_CHECK(options.logPath == (rest.empty() ? std::string() : rest.front()),
               "the log path is the first argument that is not an option");
    FUZZ_CHECK(options.any == !options.given.empty(), "any option counts");
    FUZZ_CHECK(options.badOption.empty() || std::find(options.given.begin(), options.given.end(),
                                                      options.badOption) != options.given.end(),
               "a bad option is one that was given: " + options.badOption);
    FUZZ_CHECK(!options.preview || !options.reportPath.empty() || !options.Valid(),
               "a sound preview has a report");
    FUZZ_CHECK(options.reportPath.empty() ||
                   std::any_of(options.given.begin(), options.given.end(),
                               [&](const std::string& a) {
                                   return a.size() == 5 + options.reportPath.size() &&
                                          a.compare(5, std::string::npos, options.reportPath) == 0;
                               }),
               "the report path is the value of a /LOG= option");
    FUZZ_CHECK(!options.silent || options.Unattended(), "silent is unattended");
    // Arguments that are not options change nothing.
    const TRunOptions again = ParseOptions(options.given);
    FUZZ_CHECK(again.badOption == options.badOption && again.reportPath == options.reportPath &&
                   again.silent == options.silent && again.passive == options.passive &&
                   again.preview == options.preview && again.sharedRemove == options.sharedRemove &&
                   again.logPath.empty(),
               "arguments that are not options change nothing");
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
