// Text services of the layer: code page 1252 to and from UTF-16 and the
// system's texts for error codes, in the words Windows uses.
#include "internal.h"

#include <cstring>

namespace {

// Code page 1252's bytes 0x80 to 0x9F; the five it leaves undefined map to
// the code point of the same number, as Windows maps them.
const WCHAR kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

WCHAR FromCp1252(unsigned char byte) {
    if (byte >= 0x80 && byte <= 0x9F) {
        return kHighControls[byte - 0x80];
    }
    return byte;
}

// The byte of a character in code page 1252; false for one it has no place for.
bool ToCp1252(WCHAR wide, char& byte) {
    if (wide < 0x80 || (wide >= 0xA0 && wide <= 0xFF)) {
        byte = static_cast<char>(wide);
        return true;
    }
    for (int i = 0; i < 32; ++i) {
        if (kHighControls[i] == wide) {
            byte = static_cast<char>(0x80 + i);
            return true;
        }
    }
    return false;
}

struct ErrorText {
    DWORD code;
    const char* text;
};

const ErrorText kErrorTexts[] = {
    {ERROR_SUCCESS, "The operation completed successfully."},
    {ERROR_INVALID_FUNCTION, "Incorrect function."},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {ERROR_TOO_MANY_OPEN_FILES, "The system cannot open the file."},
    {ERROR_ACCESS_DENIED, "Access is denied."},
    {ERROR_NOT_OWNER, "Attempt to release mutex not owned by caller."},
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough storage is available to process this command."},
    {ERROR_OUTOFMEMORY, "Not enough storage is available to complete this operation."},
    {ERROR_INVALID_DRIVE, "The system cannot find the drive specified."},
    {ERROR_NOT_SAME_DEVICE, "The system cannot move the file to a different disk drive."},
    {ERROR_NO_MORE_FILES, "There are no more files."},
    {ERROR_WRITE_PROTECT, "The media is write protected."},
    {ERROR_SHARING_VIOLATION,
     "The process cannot access the file because it is being used by another process."},
    {ERROR_LOCK_VIOLATION, "The process cannot access the file because another process has "
                           "locked a portion of the file."},
    {ERROR_HANDLE_EOF, "Reached the end of the file."},
    {ERROR_NOT_SUPPORTED, "The request is not supported."},
    {ERROR_FILE_EXISTS, "The file exists."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_BROKEN_PIPE, "The pipe has been ended."},
    {ERROR_DISK_FULL, "There is not enough space on the disk."},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect."},
    {ERROR_MOD_NOT_FOUND, "The specified module could not be found."},
    {ERROR_PROC_NOT_FOUND, "The specified procedure could not be found."},
    {ERROR_NEGATIVE_SEEK,
     "An attempt was made to move the file pointer before the beginning of the file."},
    {ERROR_DIR_NOT_EMPTY, "The directory is not empty."},
    {ERROR_BAD_PATHNAME, "The specified path is invalid."},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists."},
    {ERROR_BAD_EXE_FORMAT, "%1 is not a valid Win32 application."},
    {ERROR_ENVVAR_NOT_FOUND, "The system could not find the environment option that was entered."},
    {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long."},
    {ERROR_MORE_DATA, "More data is available."},
    {ERROR_NO_MORE_ITEMS, "No more data is available."},
    {ERROR_DIRECTORY, "The directory name is invalid."},
    {ERROR_NOACCESS, "Invalid access to memory location."},
    {ERROR_BADDB, "The configuration registry database is corrupt."},
    {ERROR_BADKEY, "The configuration registry key is invalid."},
    {ERROR_CANTOPEN, "The configuration registry key could not be opened."},
    {ERROR_CANTREAD, "The configuration registry key could not be read."},
    {ERROR_CANTWRITE, "The configuration registry key could not be written."},
    {ERROR_NO_ASSOCIATION,
     "No application is associated with the specified file for this operation."},
    {ERROR_CANCELLED, "The operation was canceled by the user."},
    {ERROR_INVALID_OWNER, "This security ID may not be assigned as the owner of this object."},
    {ERROR_INVALID_PRIMARY_GROUP,
     "This security ID may not be assigned as the primary group of an object."},
    {ERROR_INVALID_SECURITY_DESCR, "The security descriptor structure is invalid."},
};

} // namespace

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar) {
    // The layer knows one code page: 1252 is the ANSI code page (GetACP).
    if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cchWideChar < 0 ||
        (CodePage != CP_ACP && CodePage != 1252)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t length =
        cbMultiByte < 0 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    if (cchWideChar == 0) {
        return static_cast<int>(length);
    }
    if (static_cast<size_t>(cchWideChar) < length) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (size_t i = 0; i < length; ++i) {
        lpWideCharStr[i] = FromCp1252(static_cast<unsigned char>(lpMultiByteStr[i]));
    }
    return static_cast<int>(length);
}

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD, LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                               LPBOOL lpUsedDefaultChar) {
    if (lpWideCharStr == nullptr || cchWideChar == 0 || cbMultiByte < 0 ||
        (CodePage != CP_ACP && CodePage != 1252)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t length = 0;
    if (cchWideChar < 0) {
        while (lpWideCharStr[length] != 0) {
            ++length;
        }
        ++length; // with the terminating NUL
    } else {
        length = static_cast<size_t>(cchWideChar);
    }
    if (lpUsedDefaultChar != nullptr) {
        *lpUsedDefaultChar = FALSE;
    }
    if (cbMultiByte != 0 && static_cast<size_t>(cbMultiByte) < length) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (size_t i = 0; i < length; ++i) {
        char byte = 0;
        if (!ToCp1252(lpWideCharStr[i], byte)) {
            // A character the code page has no place for: the default one.
            byte = lpDefaultChar != nullptr ? *lpDefaultChar : '?';
            if (lpUsedDefaultChar != nullptr) {
                *lpUsedDefaultChar = TRUE;
            }
        }
        if (cbMultiByte != 0) {
            lpMultiByteStr[i] = byte;
        }
    }
    return static_cast<int>(length);
}

DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD, LPSTR lpBuffer,
                            DWORD nSize, void*) {
    // Only the system's own texts, never an allocated buffer.
    if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) || (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) ||
        lpBuffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    for (const ErrorText& entry : kErrorTexts) {
        if (entry.code != dwMessageId) {
            continue;
        }
        // Windows ends each system text with CR LF.
        size_t length = std::strlen(entry.text) + 2;
        if (length + 1 > nSize) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        std::memcpy(lpBuffer, entry.text, length - 2);
        std::memcpy(lpBuffer + length - 2, "\r\n", 3);
        return static_cast<DWORD>(length);
    }
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
}
