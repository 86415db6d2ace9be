// Fonts for the native build. The machine keeps no font table.
#include "internal.h"

// The native machine has no font table: a font file counts as registered
// while it exists.
BOOL WINAPI RemoveFontResourceA(LPCSTR lpFileName) {
    if (lpFileName == nullptr || !pal::IsRegularFile(pal::NativePath(lpFileName))) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}
