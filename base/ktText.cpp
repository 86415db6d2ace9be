#include "ktText.h"

#include "winapi.h"

std::string UpperCase(const std::string& text) {
    std::string result = text;
    if (!result.empty()) {
        CharUpperBuffA(&result[0], static_cast<DWORD>(result.size()));
    }
    return result;
}
