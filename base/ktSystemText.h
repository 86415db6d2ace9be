// Texts the system gives: an error code's message and the time of day.
#pragma once

#include "winapi.h"

#include <string>

// The system's text for an error code, trailing line breaks trimmed; empty
// when the system has none.
std::string SystemErrorText(DWORD error);
// The current time in UTC as "YYYY-MM-DDThh:mm:ssZ".
std::string UtcTimestamp();
