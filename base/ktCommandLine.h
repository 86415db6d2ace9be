// The command line as the program reads its own, and the one way to write a
// command line that comes back as the same arguments.
#pragma once

#include <string>
#include <vector>

// The command line split into arguments, the program name first: characters
// 1 to 32 separate; double quotes open and close stretches in which they do
// not, and are dropped; there is no escape character, so a backslash is
// always a backslash, before a quote too.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// The exact inverse of SplitCommandLine: writes `arguments` as one command
// line that SplitCommandLine takes apart into exactly them, each separated
// by a blank, and put in double quotes when it is empty or holds a
// separator. An argument that holds a double quote or a NUL cannot come
// back through the splitter (it has no escape): then the result is false
// and `commandLine` is left alone.
bool JoinCommandLine(const std::vector<std::string>& arguments, std::string& commandLine);
