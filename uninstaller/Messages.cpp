// Message texts: the built-in string table, overridden text by text from the
// install log's section "Strings".
#include "State.h"

#include "ktIniCache.h"
#include "ktStrUtils.h"

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
