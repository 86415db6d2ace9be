// LoadStringA and the dialog templates, read from the table that the program
// links in (PalProgramResources). A program without one has no resources.
#include "internal.h"
#include "pal_resources.h"

#include <cstring>
#include <strings.h>

namespace {
const PalResourceTable emptyTable = {nullptr, 0, nullptr, 0};
}

__attribute__((weak)) const PalResourceTable* PalProgramResources() {
    return &emptyTable;
}

namespace pal {

const PalDialogTemplate* FindDialogTemplate(LPCSTR name) {
    const PalResourceTable* table = PalProgramResources();
    if (!table || !name || IS_INTRESOURCE(name)) {
        return nullptr;
    }
    for (size_t i = 0; i < table->dialogCount; ++i) {
        if (strcasecmp(table->dialogs[i].name, name) == 0) {
            return &table->dialogs[i];
        }
    }
    return nullptr;
}

DWORD MissingDialogError() {
    const PalResourceTable* table = PalProgramResources();
    if (!table || (table->stringCount == 0 && table->dialogCount == 0)) {
        return ERROR_RESOURCE_DATA_NOT_FOUND;
    }
    return table->dialogCount == 0 ? ERROR_RESOURCE_TYPE_NOT_FOUND : ERROR_RESOURCE_NAME_NOT_FOUND;
}

} // namespace pal

int WINAPI LoadStringA(HINSTANCE, UINT uID, LPSTR lpBuffer, int cchBufferMax) {
    if (cchBufferMax <= 0) {
        // Only the wide form can hand out a pointer to the resource itself.
        SetLastError(ERROR_INVALID_PARAMETER);
        return cchBufferMax == 0 ? -1 : 0;
    }
    if (!lpBuffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    lpBuffer[0] = '\0';
    const PalResourceTable* table = PalProgramResources();
    const char* text = nullptr;
    for (size_t i = 0; table && i < table->stringCount; ++i) {
        if (table->strings[i].id == uID) {
            text = table->strings[i].text;
            break;
        }
    }
    // An empty entry cannot be told from a missing one in a string table.
    if (!text || !*text) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    size_t length = std::strlen(text);
    size_t room = static_cast<size_t>(cchBufferMax) - 1;
    size_t copied = length < room ? length : room;
    std::memcpy(lpBuffer, text, copied);
    lpBuffer[copied] = '\0';
    return static_cast<int>(copied);
}
