// Text helpers that every layer above uses.
#pragma once

#include <string>

// The text upper-cased by the system (CharUpperBuffA, the ANSI code page).
std::string UpperCase(const std::string& text);
