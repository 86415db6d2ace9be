// File handles and their I/O: CreateFileA with its dispositions, the
// read-only and hidden rules and share modes; reads, writes, the file
// pointer and the size.
#include "faults.h"
#include "files.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

namespace pal {

namespace {

FileObject* FileOf(HANDLE handle) {
    auto* file = LookupHandleAs<FileObject>(handle);
    if (file == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    return file;
}

// The open file behind a handle that may change it, for the calls that
// change a file without writing bytes; null, with the error set, otherwise.
FileObject* FileToChange(HANDLE handle, const char* call) {
    if (InjectedFault(call)) {
        return nullptr;
    }
    FileObject* file = FileOf(handle);
    if (file != nullptr && !file->canWrite) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return file;
}

// Whether every page of a buffer can be read, asked of the kernel one byte
// per page, so that a bad buffer is refused before anything is written (a
// write stops at the first bad page). Where the kernel refuses the question,
// the write itself finds the fault.
bool Readable(const void* data, DWORD size) {
    if (size == 0) {
        return true;
    }
    if (data == nullptr) {
        return false;
    }
    const uintptr_t pageSize = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t first = reinterpret_cast<uintptr_t>(data);
    const uintptr_t last = first + size - 1;
    if ((first & ~(pageSize - 1)) == (last & ~(pageSize - 1))) {
        return true; // within one page the write moves all of it or nothing
    }
    constexpr size_t kBatch = 256;
    char sink[kBatch];
    struct iovec local = {sink, 0};
    struct iovec remote[kBatch];
    uintptr_t page = first & ~(pageSize - 1);
    while (page <= last) {
        size_t count = 0;
        for (; count < kBatch && page <= last; ++count, page += pageSize) {
            remote[count].iov_base = reinterpret_cast<void*>(page < first ? first : page);
            remote[count].iov_len = 1;
        }
        local.iov_len = count;
        ssize_t got = process_vm_readv(getpid(), &local, 1, remote, count, 0);
        if (got < 0) {
            return errno != EFAULT; // not allowed here: no answer
        }
        if (static_cast<size_t>(got) < count) {
            return false;
        }
    }
    return true;
}

// A folder opened by handle (FILE_FLAG_BACKUP_SEMANTICS): it takes part in
// sharing like a file; its bytes cannot be read or written.
HANDLE OpenDirectory(const std::string& path, DWORD desiredAccess, DWORD shareMode,
                     DWORD disposition) {
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY));
    if (!fd) {
        SetLastErrorFromErrno();
        return INVALID_HANDLE_VALUE;
    }
    if (!AcquireShare(fd.get(), AccessBits(desiredAccess), ShareBits(shareMode))) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    auto object = std::make_unique<FileObject>();
    object->fd = std::move(fd);
    object->canRead = (FileRights(desiredAccess) & FILE_READ_DATA) != 0;
    HANDLE handle = AddHandle(std::move(object));
    SetLastError(disposition == OPEN_ALWAYS ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

} // namespace

} // namespace pal

using namespace pal;

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE) {
    if (pal::InjectedFault("CreateFileA")) {
        return INVALID_HANDLE_VALUE;
    }
    DWORD rights = FileRights(dwDesiredAccess);
    // Truncating an existing file needs no write access of the handle, except
    // that TRUNCATE_EXISTING is documented to require it.
    // The 95 family knows no delete sharing and refuses the flag.
    if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING ||
        (dwCreationDisposition == TRUNCATE_EXISTING && !(rights & FILE_WRITE_DATA)) ||
        ((dwShareMode & FILE_SHARE_DELETE) && Win95Family())) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    DeviceName device;
    if (DeviceOf(lpFileName, device)) {
        return OpenDevice(device, dwDesiredAccess, dwCreationDisposition);
    }
    std::string path;
    if (!Resolve(lpFileName, path)) {
        return INVALID_HANDLE_VALUE;
    }
    unsigned access = AccessBits(dwDesiredAccess);
    bool write = (access & (1u << kWrite)) != 0;
    bool append = (rights & FILE_APPEND_DATA) && !(rights & FILE_WRITE_DATA);
    bool truncate =
        dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == TRUNCATE_EXISTING;

    struct stat st;
    bool existed = stat(path.c_str(), &st) == 0;
    if (!existed && errno != ENOENT) {
        SetLastError(StatError(path, errno));
        return INVALID_HANDLE_VALUE;
    }
    if (existed) {
        if (dwCreationDisposition == CREATE_NEW) {
            SetLastError(ERROR_FILE_EXISTS);
            return INVALID_HANDLE_VALUE;
        }
        if (S_ISDIR(st.st_mode)) {
            // A folder opens only for backup semantics, and is never truncated.
            if (!(dwFlagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) || truncate) {
                SetLastError(ERROR_ACCESS_DENIED);
                return INVALID_HANDLE_VALUE;
            }
            return OpenDirectory(path, dwDesiredAccess, dwShareMode, dwCreationDisposition);
        }
        DWORD attrs = AttributesOf(path, st);
        bool hiddenMismatch =
            dwCreationDisposition == CREATE_ALWAYS &&
            (attrs & ~dwFlagsAndAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
        if (((attrs & FILE_ATTRIBUTE_READONLY) &&
             (write || truncate || (access & (1u << kDelete)))) ||
            hiddenMismatch) {
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
        }
    } else if (dwCreationDisposition == OPEN_EXISTING ||
               dwCreationDisposition == TRUNCATE_EXISTING) {
        SetLastError(MissingError(path));
        return INVALID_HANDLE_VALUE;
    } else if (!path.empty() && path.back() == '/') {
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }

    // The descriptor can write whenever the open may change the bytes; what
    // the handle may do is kept apart (canRead, canWrite).
    bool writable = write || (existed && truncate);
    int flags = O_CLOEXEC | O_NOCTTY | (writable ? O_RDWR : O_RDONLY) | (append ? O_APPEND : 0);
    if (!existed) {
        flags |= O_CREAT | O_EXCL;
    }
    mode_t mode = (dwFlagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    NameChange change(path);
    UniqueFd fd(open(path.c_str(), flags, mode));
    if (!fd && errno == EACCES && writable) {
        // Write-only permission: the handle still writes, without read locks.
        fd.Reset(open(path.c_str(), (flags & ~O_RDWR) | O_WRONLY, mode));
    }
    if (!fd) {
        SetLastError(errno == ENOENT ? MissingError(path) : ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    if (!existed) {
        change.Done(true);
    }
    if (!AcquireShare(fd.get(), access, ShareBits(dwShareMode))) {
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    if (existed && truncate) {
        // Truncation is a write, whatever the handle asked for: another open
        // that does not share writing keeps the bytes. The handle's own
        // share mode denies others, never the handle itself.
        BorrowedAccess borrowed(fd.get(), write ? 0u : 1u << kWrite);
        if (!borrowed.Granted()) {
            SetLastError(ERROR_SHARING_VIOLATION);
            return INVALID_HANDLE_VALUE;
        }
        if (ftruncate(fd.get(), 0) != 0) {
            SetLastErrorFromErrno();
            return INVALID_HANDLE_VALUE;
        }
    }
    if (!existed || dwCreationDisposition == CREATE_ALWAYS) {
        struct stat created;
        if (fstat(fd.get(), &created) == 0) {
            StoreAttributes(path, created, dwFlagsAndAttributes & kStoredAttrs);
        }
    }
    auto object = std::make_unique<FileObject>();
    object->fd = std::move(fd);
    object->canRead = (rights & FILE_READ_DATA) != 0;
    object->canWrite = write;
    HANDLE handle = AddHandle(std::move(object));
    bool reportExisting =
        existed && (dwCreationDisposition == OPEN_ALWAYS || dwCreationDisposition == CREATE_ALWAYS);
    SetLastError(reportExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED) {
    if (lpNumberOfBytesRead != nullptr) {
        *lpNumberOfBytesRead = 0;
    }
    if (pal::InjectedFault("ReadFile")) {
        return FALSE;
    }
    FileObject* file = FileOf(hFile);
    if (file == nullptr) {
        return FALSE;
    }
    if (!file->canRead) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    if (lpBuffer == nullptr && nNumberOfBytesToRead > 0) {
        return Fail(ERROR_NOACCESS);
    }
    auto* out = static_cast<char*>(lpBuffer);
    DWORD done = 0;
    while (done < nNumberOfBytesToRead) {
        ssize_t got = read(file->fd.get(), out + done, nNumberOfBytesToRead - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && errno == EISDIR) {
            return Fail(ERROR_INVALID_FUNCTION); // a folder's handle
        }
        if (got < 0 && errno == EFAULT) {
            // Windows checks the whole buffer first and reads nothing: put
            // the pointer back where the read began.
            lseek(file->fd.get(), -static_cast<off_t>(done), SEEK_CUR);
            return Fail(ERROR_NOACCESS);
        }
        if (got < 0) {
            SetLastErrorFromErrno();
            return FALSE;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<DWORD>(got);
    }
    if (lpNumberOfBytesRead != nullptr) {
        *lpNumberOfBytesRead = done;
    }
    return TRUE;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED) {
    if (lpNumberOfBytesWritten != nullptr) {
        *lpNumberOfBytesWritten = 0;
    }
    if (pal::InjectedFault("WriteFile")) {
        return FALSE;
    }
    FileObject* file = FileOf(hFile);
    if (file == nullptr) {
        return FALSE;
    }
    if (!file->canWrite) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    if (!Readable(lpBuffer, nNumberOfBytesToWrite)) {
        return Fail(ERROR_INVALID_USER_BUFFER); // nothing written, as Windows
    }
    const auto* in = static_cast<const char*>(lpBuffer);
    DWORD done = 0;
    while (done < nNumberOfBytesToWrite) {
        ssize_t put = write(file->fd.get(), in + done, nNumberOfBytesToWrite - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put < 0) {
            if (lpNumberOfBytesWritten != nullptr) {
                *lpNumberOfBytesWritten = done;
            }
            SetLastError(errno == EFAULT ? ERROR_INVALID_USER_BUFFER : ErrorFromErrno(errno));
            return FALSE;
        }
        done += static_cast<DWORD>(put);
    }
    if (lpNumberOfBytesWritten != nullptr) {
        *lpNumberOfBytesWritten = done;
    }
    return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                            DWORD dwMoveMethod) {
    FileObject* file = FileOf(hFile);
    if (file == nullptr) {
        return INVALID_SET_FILE_POINTER;
    }
    int64_t distance =
        lpDistanceToMoveHigh != nullptr
            ? static_cast<int64_t>(
                  (static_cast<uint64_t>(static_cast<uint32_t>(*lpDistanceToMoveHigh)) << 32) |
                  static_cast<uint32_t>(lDistanceToMove))
            : static_cast<int64_t>(lDistanceToMove);
    int64_t base = 0;
    if (dwMoveMethod == FILE_CURRENT) {
        base = lseek(file->fd.get(), 0, SEEK_CUR);
    } else if (dwMoveMethod == FILE_END) {
        struct stat st;
        base = fstat(file->fd.get(), &st) == 0 ? st.st_size : -1;
    } else if (dwMoveMethod != FILE_BEGIN) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (base < 0) {
        SetLastErrorFromErrno();
        return INVALID_SET_FILE_POINTER;
    }
    int64_t target = base + distance;
    if (target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    if (lpDistanceToMoveHigh == nullptr && target > 0xFFFFFFFELL) {
        // The position would not fit the one value the caller can see.
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (lseek(file->fd.get(), static_cast<off_t>(target), SEEK_SET) < 0) {
        SetLastErrorFromErrno();
        return INVALID_SET_FILE_POINTER;
    }
    if (lpDistanceToMoveHigh != nullptr) {
        *lpDistanceToMoveHigh = static_cast<LONG>(static_cast<uint64_t>(target) >> 32);
    }
    if (static_cast<DWORD>(target) == INVALID_SET_FILE_POINTER) {
        SetLastError(ERROR_SUCCESS); // tells this position from a failure
    }
    return static_cast<DWORD>(target);
}

DWORD WINAPI GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh) {
    FileObject* file = FileOf(hFile);
    struct stat st;
    if (file == nullptr) {
        return INVALID_FILE_SIZE;
    }
    if (fstat(file->fd.get(), &st) != 0) {
        SetLastErrorFromErrno();
        return INVALID_FILE_SIZE;
    }
    if (S_ISDIR(st.st_mode)) {
        st.st_size = 0; // a folder's handle has no bytes
    }
    if (lpFileSizeHigh != nullptr) {
        *lpFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
    }
    if (static_cast<DWORD>(st.st_size) == INVALID_FILE_SIZE) {
        SetLastError(ERROR_SUCCESS); // tells this size from a failure
    }
    return static_cast<DWORD>(st.st_size);
}

BOOL WINAPI FlushFileBuffers(HANDLE hFile) {
    FileObject* file = FileToChange(hFile, "FlushFileBuffers");
    if (file == nullptr) {
        return FALSE;
    }
    if (fsync(file->fd.get()) != 0) {
        SetLastErrorFromErrno();
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI SetEndOfFile(HANDLE hFile) {
    FileObject* file = FileToChange(hFile, "SetEndOfFile");
    if (file == nullptr) {
        return FALSE;
    }
    off_t position = lseek(file->fd.get(), 0, SEEK_CUR);
    if (position < 0 || ftruncate(file->fd.get(), position) != 0) {
        SetLastErrorFromErrno();
        return FALSE;
    }
    return TRUE;
}
