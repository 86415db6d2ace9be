// Message texts: the built-in string table, overridden text by text from the
// install log's section "Strings".
#include "State.h"

#include "ktFileChecks.h"
#include "ktIniCache.h"
#include "ktStrUtils.h"

#include <exception>

std::string GetMessageText(int number) {
    std::string text = IniReadString(InstallLogPath, "Strings", std::to_string(number), "");
    if (text.empty()) {
        // An empty override does not blank a message.
        char buffer[1024];
        int length = LoadStringA(ModuleHandle, static_cast<UINT>(number), buffer, sizeof buffer);
        text.assign(buffer, length > 0 ? static_cast<size_t>(length) : 0);
    }
    return ReplaceAll(text, "||", "\r");
}

std::string MessageTextBeforeLogIsRead(int number) {
    try {
        if (FileExists(InstallLogPath)) {
            return GetMessageText(number);
        }
    } catch (const std::exception&) {
    }
    char buffer[1024];
    int length = LoadStringA(ModuleHandle, static_cast<UINT>(number), buffer, sizeof buffer);
    return ReplaceAll(std::string(buffer, length > 0 ? static_cast<size_t>(length) : 0), "||",
                      "\r");
}
