// The program entry module: the uninstall run, which calls the phases in
// their fixed order. The state it shares with them is in State.h.
#pragma once

#include "Phases.h"
#include "State.h"

#include <string>
#include <vector>

// The whole run; returns the process exit code: 0 without options; with
// options 0 done, 3010 done with files left for the restart, 1602
// cancelled, 1603 fatal error, 1619 log missing or unreadable, 87 bad option.
int RunUninstall();
// The final box's text: message 5, then a paragraph for files left for the
// restart and one listing the items left over (ten at most, then "and N
// more").
std::string FinalMessageText();
// Start-up and shutdown around the run: COM, platform identifier, cache.
void StartUp();
void ShutDown();

// `format` with its first "%s" replaced by `value` and "%%" by "%".
std::string FormatOneString(const std::string& format, const std::string& value);
