#include "ktSystemText.h"

#include <cstdio>

std::string SystemErrorText(DWORD error) {
    char buffer[1024] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, buffer, sizeof buffer, nullptr);
    std::string text(buffer, length < sizeof buffer ? length : 0);
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) {
        text.pop_back();
    }
    return text;
}

std::string UtcTimestamp() {
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    char buffer[64];
    snprintf(buffer, sizeof buffer, "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth,
             now.wDay, now.wHour, now.wMinute, now.wSecond);
    return buffer;
}
