// National-language support for the one code page the layer knows, 1252:
// upper-casing, character stepping and the locale comparison.
#include "internal.h"

#include <cstring>

namespace {

unsigned char UpperOf(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) {
        return static_cast<unsigned char>(c - 0x20);
    }
    switch (c) {
    case 0x9A: // s caron
        return 0x8A;
    case 0x9C: // oe
        return 0x8C;
    case 0x9E: // z caron
        return 0x8E;
    case 0xFF: // y diaeresis
        return 0x9F;
    default:
        return c;
    }
}

} // namespace

DWORD WINAPI CharUpperBuffA(LPSTR lpsz, DWORD cchLength) {
    if (lpsz == nullptr) {
        return 0;
    }
    for (DWORD i = 0; i < cchLength; ++i) {
        lpsz[i] = static_cast<char>(UpperOf(static_cast<unsigned char>(lpsz[i])));
    }
    return cchLength;
}

LPSTR WINAPI CharUpperA(LPSTR lpsz) {
    auto value = reinterpret_cast<uintptr_t>(lpsz);
    if (value >> 16 == 0) {
        // A single character passed in the pointer's low word.
        return reinterpret_cast<LPSTR>(
            static_cast<uintptr_t>(UpperOf(static_cast<unsigned char>(value))));
    }
    CharUpperBuffA(lpsz, static_cast<DWORD>(strlen(lpsz)));
    return lpsz;
}

BOOL WINAPI IsDBCSLeadByte(BYTE) {
    return FALSE;
}

LPSTR WINAPI CharNextA(LPCSTR lpsz) {
    if (lpsz == nullptr) {
        return nullptr;
    }
    return const_cast<LPSTR>(*lpsz != '\0' ? lpsz + 1 : lpsz);
}

LPSTR WINAPI CharPrevA(LPCSTR lpszStart, LPCSTR lpszCurrent) {
    if (lpszStart == nullptr || lpszCurrent == nullptr) {
        return const_cast<LPSTR>(lpszCurrent);
    }
    return const_cast<LPSTR>(lpszCurrent > lpszStart ? lpszCurrent - 1 : lpszStart);
}

UINT WINAPI GetACP(void) {
    return 1252;
}

int WINAPI CompareStringA(LCID, DWORD dwCmpFlags, LPCSTR lpString1, int cchCount1, LPCSTR lpString2,
                          int cchCount2) {
    if (lpString1 == nullptr || lpString2 == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t length1 = cchCount1 < 0 ? strlen(lpString1) : static_cast<size_t>(cchCount1);
    size_t length2 = cchCount2 < 0 ? strlen(lpString2) : static_cast<size_t>(cchCount2);
    bool ignoreCase = (dwCmpFlags & NORM_IGNORECASE) != 0;
    size_t common = length1 < length2 ? length1 : length2;
    for (size_t i = 0; i < common; ++i) {
        unsigned char a = static_cast<unsigned char>(lpString1[i]);
        unsigned char b = static_cast<unsigned char>(lpString2[i]);
        if (ignoreCase) {
            a = UpperOf(a);
            b = UpperOf(b);
        }
        if (a != b) {
            return a < b ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
        }
    }
    if (length1 == length2) {
        return CSTR_EQUAL;
    }
    return length1 < length2 ? CSTR_LESS_THAN : CSTR_GREATER_THAN;
}
