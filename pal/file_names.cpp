// Changes to names: creating and removing folders, deleting, moving and
// copying files, and the list of renames carried out at the next start.
#include "faults.h"
#include "files.h"

#include <cerrno>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace pal {

namespace {

// Copies the bytes of an open source to an open target.
bool CopyContents(int from, int to) {
    char buffer[65536];
    for (;;) {
        ssize_t got = read(from, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            return true;
        }
        for (ssize_t done = 0; done < got;) {
            ssize_t put = write(to, buffer + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put <= 0) {
                return false;
            }
            done += put;
        }
    }
}

const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kPendingRenames[] = "PendingFileRenameOperations";

// Appends one pair to the list that the system works through at its next
// start. The list's existing pairs are read and written back unchanged;
// damaged data ends where it stops making pairs.
BOOL AddRestartRename(const std::string& from, const std::string& to) {
    UniqueKey owner;
    LSTATUS status = RegCreateKeyA(HKEY_LOCAL_MACHINE, kSessionManager, owner.Receive());
    HKEY key = owner.get();
    if (status != ERROR_SUCCESS) {
        return Fail(static_cast<DWORD>(status));
    }
    std::vector<char> data;
    DWORD type = REG_NONE;
    DWORD size = 0;
    status = RegQueryValueExA(key, kPendingRenames, nullptr, &type, nullptr, &size);
    if (status == ERROR_SUCCESS && size > 0) {
        data.resize(size);
        status = RegQueryValueExA(key, kPendingRenames, nullptr, &type,
                                  reinterpret_cast<BYTE*>(data.data()), &size);
        data.resize(status == ERROR_SUCCESS ? size : 0);
    }
    std::string list;
    size_t pos = 0;
    auto next = [&]() {
        size_t end = pos;
        while (end < data.size() && data[end] != '\0') {
            ++end;
        }
        std::string text(data.data() + pos, end - pos);
        pos = end + 1;
        return text;
    };
    while (pos < data.size()) {
        std::string source = next();
        if (source.empty()) {
            break;
        }
        std::string target = pos <= data.size() ? next() : std::string();
        list.append(source).append(1, '\0').append(target).append(1, '\0');
    }
    list.append(from).append(1, '\0').append(to).append(1, '\0').append(1, '\0');
    status =
        RegSetValueExA(key, kPendingRenames, 0, REG_MULTI_SZ,
                       reinterpret_cast<const BYTE*>(list.data()), static_cast<DWORD>(list.size()));
    if (status != ERROR_SUCCESS) {
        return Fail(static_cast<DWORD>(status));
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

// What deleting or moving away a device name gives: the error opening the
// device gives, else ERROR_INVALID_PARAMETER.
DWORD DeviceChangeError(const DeviceName& device) {
    DWORD error = DeviceOpenError(device);
    return error == ERROR_SUCCESS ? ERROR_INVALID_PARAMETER : error;
}

} // namespace

} // namespace pal

using namespace pal;

BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES) {
    if (pal::InjectedFault("CreateDirectoryA")) {
        return FALSE;
    }
    DeviceName device;
    if (DeviceOf(lpPathName, device)) {
        DWORD error = DeviceOpenError(device);
        return Fail(error == ERROR_SUCCESS ? ERROR_ALREADY_EXISTS : error);
    }
    std::string path;
    if (!Resolve(lpPathName, path)) {
        return FALSE;
    }
    NameChange change(path);
    if (mkdir(path.c_str(), 0777) != 0) {
        int err = errno;
        if (err == EEXIST) {
            return Fail(ERROR_ALREADY_EXISTS);
        }
        return Fail(err == ENOENT || err == ENOTDIR ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(err));
    }
    change.Done(true);
    return TRUE;
}

BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName) {
    if (pal::InjectedFault("RemoveDirectoryA")) {
        return FALSE;
    }
    DeviceName device;
    if (DeviceOf(lpPathName, device)) {
        DWORD error = DeviceOpenError(device);
        return Fail(error == ERROR_SUCCESS ? ERROR_DIRECTORY : error);
    }
    std::string path;
    if (!Resolve(lpPathName, path)) {
        return FALSE;
    }
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        return Fail(StatError(path, errno));
    }
    if (!S_ISDIR(st.st_mode)) {
        return Fail(ERROR_DIRECTORY);
    }
    if (IsDriveRoot(path)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    // A handle to the folder that does not share deleting keeps it.
    TransientAccess guard(path, kDelete);
    if (!guard.Granted()) {
        return Fail(ERROR_SHARING_VIOLATION);
    }
    NameChange change(path);
    if (rmdir(path.c_str()) != 0) {
        int err = errno;
        return Fail(err == ENOTEMPTY || err == EEXIST ? ERROR_DIR_NOT_EMPTY : ErrorFromErrno(err));
    }
    change.Done(false);
    return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
    if (pal::InjectedFault("DeleteFileA")) {
        return FALSE;
    }
    DeviceName device;
    if (DeviceOf(lpFileName, device)) {
        return Fail(DeviceChangeError(device));
    }
    std::string path;
    if (!Resolve(lpFileName, path)) {
        return FALSE;
    }
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        return Fail(StatError(path, errno));
    }
    if (S_ISDIR(st.st_mode)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    if (!S_ISLNK(st.st_mode) && IsReadOnlyFile(st)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    TransientAccess guard(path, kDelete);
    DWORD refusal = guard.DeleteRefusal();
    if (refusal != ERROR_SUCCESS) {
        return Fail(refusal);
    }
    NameChange change(path);
    if (unlink(path.c_str()) != 0) {
        SetLastErrorFromErrno();
        return FALSE;
    }
    change.Done(false);
    return TRUE;
}

// Counted as a use of MoveFileExA by the fault mechanism.
BOOL WINAPI MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName) {
    return MoveFileExA(lpExistingFileName, lpNewFileName, 0);
}

BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
    if (pal::InjectedFault("MoveFileExA")) {
        return FALSE;
    }
    if (lpExistingFileName == nullptr || *lpExistingFileName == '\0') {
        return Fail(ERROR_PATH_NOT_FOUND);
    }
    if (dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT) {
        std::string target;
        if (lpNewFileName != nullptr && *lpNewFileName != '\0') {
            target = std::string((dwFlags & MOVEFILE_REPLACE_EXISTING) ? "!" : "") + "\\??\\" +
                     FullWindowsPath(lpNewFileName);
        }
        return AddRestartRename("\\??\\" + FullWindowsPath(lpExistingFileName), target);
    }
    DeviceName device;
    if (DeviceOf(lpExistingFileName, device)) {
        return Fail(DeviceChangeError(device));
    }
    std::string from;
    std::string to;
    if (!Resolve(lpExistingFileName, from)) {
        return FALSE;
    }
    bool toDevice = DeviceOf(lpNewFileName, device);
    if (!toDevice && !Resolve(lpNewFileName, to)) {
        return FALSE;
    }
    struct stat source;
    if (lstat(from.c_str(), &source) != 0) {
        return Fail(StatError(from, errno));
    }
    if (toDevice) {
        DWORD error = DeviceFolderError(device);
        return Fail(error == ERROR_SUCCESS ? ERROR_BAD_DEV_TYPE : error);
    }
    struct stat existing;
    if (lstat(to.c_str(), &existing) == 0) {
        if (existing.st_dev == source.st_dev && existing.st_ino == source.st_ino) {
            // A change of letter case only: rename to the name as given.
            std::string given = lpNewFileName;
            size_t cut = given.find_last_of("\\/");
            to = ParentOf(to) + "/" + (cut == std::string::npos ? given : given.substr(cut + 1));
        } else if (!(dwFlags & MOVEFILE_REPLACE_EXISTING)) {
            return Fail(ERROR_ALREADY_EXISTS);
        } else if (S_ISDIR(existing.st_mode) || IsReadOnlyFile(existing)) {
            return Fail(ERROR_ACCESS_DENIED);
        }
    }
    TransientAccess sourceGuard(from, kDelete);
    if (!sourceGuard.Granted()) {
        return Fail(ERROR_SHARING_VIOLATION);
    }
    // Replacing a target deletes it: a running program is refused.
    TransientAccess targetGuard(to, kDelete);
    DWORD refusal = targetGuard.DeleteRefusal();
    if (refusal != ERROR_SUCCESS) {
        return Fail(refusal);
    }
    NameChange leaving(from);
    NameChange arriving(to);
    if (rename(from.c_str(), to.c_str()) != 0) {
        int err = errno;
        if (err == EXDEV) {
            return Fail(ERROR_NOT_SAME_DEVICE);
        }
        return Fail(err == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(err));
    }
    leaving.Done(false);
    arriving.Done(true);
    if (dwFlags & MOVEFILE_WRITE_THROUGH) {
        // The new name reaches the disk before the call returns.
        int folder = open(ParentOf(to).c_str(), O_RDONLY | O_DIRECTORY);
        if (folder >= 0) {
            fsync(folder);
            close(folder);
        }
    }
    return TRUE;
}

BOOL WINAPI CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
    DeviceName device;
    bool fromDevice = DeviceOf(lpExistingFileName, device);
    bool toDevice = DeviceOf(lpNewFileName, device);
    std::string from;
    if (!fromDevice && !Resolve(lpExistingFileName, from)) {
        return FALSE;
    }
    // As Windows: the source is read beside any open that shares reading,
    // writers included; the target is written beside any open that shares
    // reading and writing.
    UniqueHandle source(CreateFileA(lpExistingFileName, GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    if (!source) {
        return FALSE;
    }
    struct stat st;
    FileObject* in = LookupHandleAs<FileObject>(source.get());
    fstat(in->fd.get(), &st);
    DWORD attrs = fromDevice ? 0 : AttributesOf(from, st) & ~FILE_ATTRIBUTE_NORMAL;
    // Both opens would share the file with each other: a copy onto the
    // source itself is refused before it truncates the bytes.
    std::string to;
    struct stat existing;
    if (!bFailIfExists && !fromDevice && !toDevice && Resolve(lpNewFileName, to) &&
        stat(to.c_str(), &existing) == 0 && existing.st_dev == st.st_dev &&
        existing.st_ino == st.st_ino) {
        return Fail(ERROR_SHARING_VIOLATION);
    }
    {
        // Closing changes no last error: a failed open's stays.
        UniqueHandle target(CreateFileA(
            lpNewFileName, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
            bFailIfExists ? CREATE_NEW : CREATE_ALWAYS,
            (attrs & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) | FILE_ATTRIBUTE_NORMAL,
            nullptr));
        if (!target) {
            return FALSE;
        }
        FileObject* out = LookupHandleAs<FileObject>(target.get());
        if (!CopyContents(in->fd.get(), out->fd.get())) {
            return Fail(ErrorFromErrno(errno));
        }
        if (!toDevice) { // a device takes the bytes only
            struct timespec times[2] = {st.st_atim, st.st_mtim};
            futimens(out->fd.get(), times);
        }
    }
    if (!toDevice) {
        ApplyAttributes(NativePath(lpNewFileName), attrs | FILE_ATTRIBUTE_ARCHIVE);
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
