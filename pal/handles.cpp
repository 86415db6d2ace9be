// The conventions every call shares: the handle table behind HANDLE values,
// the thread's last error and its translation from errno, and the rules for
// strings returned into a caller's buffer.
#include "internal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace pal {

namespace {

// Slot i holds handle value 4 * (i + 1); freed slots are reused.
std::vector<std::unique_ptr<Object>>& Table() {
    static auto& table = *new std::vector<std::unique_ptr<Object>>();
    return table;
}

long SlotOf(HANDLE handle) {
    auto value = reinterpret_cast<uintptr_t>(handle);
    if (value == 0 || value % 4 != 0) {
        return -1;
    }
    auto slot = static_cast<long>(value / 4 - 1);
    return slot < static_cast<long>(Table().size()) ? slot : -1;
}

} // namespace

HANDLE AddHandle(std::unique_ptr<Object> object) {
    auto& table = Table();
    size_t slot = 0;
    while (slot < table.size() && table[slot]) {
        ++slot;
    }
    if (slot == table.size()) {
        table.emplace_back();
    }
    table[slot] = std::move(object);
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>((slot + 1) * 4));
}

Object* LookupHandle(HANDLE handle) {
    long slot = SlotOf(handle);
    return slot < 0 ? nullptr : Table()[slot].get();
}

bool CloseHandleObject(HANDLE handle) {
    long slot = SlotOf(handle);
    if (slot < 0 || !Table()[slot]) {
        return false;
    }
    std::unique_ptr<Object> doomed = std::move(Table()[slot]);
    return true;
}

DWORD ErrorFromErrno(int err) {
    switch (err) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case EBUSY:
    case ETXTBSY:
        return ERROR_SHARING_VIOLATION;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENOSPC:
        return ERROR_DISK_FULL;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case EFAULT:
        return ERROR_NOACCESS;
    default:
        return ERROR_INVALID_FUNCTION;
    }
}

DWORD SetLastErrorFromErrno() {
    DWORD code = ErrorFromErrno(errno);
    SetLastError(code);
    return code;
}

DWORD CopyOut(const std::string& text, char* buffer, DWORD size) {
    if (buffer == nullptr || size <= text.size()) {
        return static_cast<DWORD>(text.size() + 1);
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<DWORD>(text.size());
}

int CopyTruncated(const std::string& text, char* buffer, int size) {
    if (buffer == nullptr || size <= 0) {
        return 0;
    }
    size_t copied = std::min(text.size(), static_cast<size_t>(size) - 1);
    std::memcpy(buffer, text.data(), copied);
    buffer[copied] = '\0';
    return static_cast<int>(copied);
}

} // namespace pal

namespace {
thread_local DWORD lastError = 0;
}

DWORD WINAPI GetLastError(void) {
    return lastError;
}
void WINAPI SetLastError(DWORD dwErrCode) {
    lastError = dwErrCode;
}

BOOL WINAPI CloseHandle(HANDLE hObject) {
    if (!pal::CloseHandleObject(hObject)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
