// The program's command-line splitter and its inverse.
#include "ktCommandLine.h"

namespace {

bool IsSeparator(char c) {
    unsigned char code = static_cast<unsigned char>(c);
    return code >= 1 && code <= 32;
}

} // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
    std::vector<std::string> arguments;
    size_t i = 0;
    const size_t length = commandLine.size();
    for (;;) {
        while (i < length && IsSeparator(commandLine[i])) {
            ++i;
        }
        if (i >= length) {
            break;
        }
        std::string argument;
        bool quoted = false;
        for (; i < length && (quoted || !IsSeparator(commandLine[i])); ++i) {
            if (commandLine[i] == '"') {
                quoted = !quoted;
            } else {
                argument += commandLine[i];
            }
        }
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

bool JoinCommandLine(const std::vector<std::string>& arguments, std::string& commandLine) {
    std::string line;
    for (const std::string& argument : arguments) {
        bool separator = argument.empty();
        for (char c : argument) {
            if (c == '"' || c == '\0') {
                return false;
            }
            separator = separator || IsSeparator(c);
        }
        if (&argument != &arguments.front()) {
            line += ' ';
        }
        line += separator ? '"' + argument + '"' : argument;
    }
    commandLine = std::move(line);
    return true;
}
