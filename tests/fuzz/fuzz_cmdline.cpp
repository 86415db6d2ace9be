// The command-line split on any text, and on arguments written with blanks
// between them and in double quotes when empty or holding a separator (any
// byte from 1 to 32), which must come back unchanged.
#include "FuzzSupport.h"
#include "UnVantrel.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>

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

    std::vector<std::string> arguments;
    std::string written;
    while (input.remaining_bytes() > 0 && arguments.size() < 8) {
        std::string argument = input.ConsumeRandomLengthString(64);
        argument.erase(std::remove_if(argument.begin(), argument.end(),
                                      [](char c) { return c == '"' || c == '\0'; }),
                       argument.end());
        const bool quote = argument.empty() ||
                           std::any_of(argument.begin(), argument.end(),
                                       [](char c) { return static_cast<unsigned char>(c) <= 32; });
        written += (arguments.empty() ? "" : " ") + (quote ? "\"" + argument + "\"" : argument);
        arguments.push_back(argument);
    }
    FUZZ_CHECK(SplitCommandLine(written) == arguments, "the arguments come back: " + written);
    return 0;
}
