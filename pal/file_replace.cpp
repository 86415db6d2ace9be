// Replacing one file by another under its name (ReplaceFileA), keeping what
// the replaced file was: its access mode and owner (what stands for its
// access rights here) go to the file that takes its place; and the final
// path of an open file (GetFinalPathNameByHandleA), through every symbolic
// link.
#include "faults.h"
#include "files.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace pal {

namespace {

// The error for a file of ReplaceFileA that is missing.
DWORD MissingFileError(const std::string& nativePath, int err) {
    DWORD error = StatError(nativePath, err);
    return error == ERROR_PATH_NOT_FOUND ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND;
}

void SyncFolder(const std::string& nativePath) {
    UniqueFd folder(open(ParentOf(nativePath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder) {
        fsync(folder.get());
    }
}

// Gives the replacement the replaced file's mode and owner. Changing the
// owner needs the privilege to, and without it the call fails whatever the
// flags: Windows keeps the replaced file's access list, which names its
// owner's rights, while here the owner's rights go with the owner, so a
// replacement that keeps another owner would lock the file's own out. A
// mode that cannot be given (a file system without modes) fails the call
// unless merge or ACL errors are to be ignored.
bool TakeOverRights(const std::string& replacement, const struct stat& replaced, DWORD flags) {
    struct stat st;
    if (lstat(replacement.c_str(), &st) != 0) {
        return Fail(MissingFileError(replacement, errno)) != FALSE;
    }
    if ((st.st_uid != replaced.st_uid || st.st_gid != replaced.st_gid) &&
        lchown(replacement.c_str(), replaced.st_uid, replaced.st_gid) != 0) {
        return Fail(ERROR_UNABLE_TO_REMOVE_REPLACED) != FALSE;
    }
    if ((st.st_mode & 07777) != (replaced.st_mode & 07777) &&
        chmod(replacement.c_str(), replaced.st_mode & 07777) != 0 &&
        !(flags & (REPLACEFILE_IGNORE_MERGE_ERRORS | REPLACEFILE_IGNORE_ACL_ERRORS))) {
        return Fail(ERROR_UNABLE_TO_REMOVE_REPLACED) != FALSE;
    }
    return true;
}

bool RenameTracked(const std::string& from, const std::string& to) {
    NameChange leaving(from);
    NameChange arriving(to);
    if (rename(from.c_str(), to.c_str()) != 0) {
        return false;
    }
    leaving.Done(false);
    arriving.Done(true);
    return true;
}

} // namespace

} // namespace pal

using namespace pal;

BOOL WINAPI ReplaceFileA(LPCSTR lpReplacedFileName, LPCSTR lpReplacementFileName,
                         LPCSTR lpBackupFileName, DWORD dwReplaceFlags, LPVOID lpExclude,
                         LPVOID lpReserved) {
    if (pal::InjectedFault("ReplaceFileA")) {
        return FALSE;
    }
    if (lpReplacedFileName == nullptr || lpReplacementFileName == nullptr || lpExclude != nullptr ||
        lpReserved != nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::string replaced;
    std::string replacement;
    std::string backup;
    if (!Resolve(lpReplacedFileName, replaced) || !Resolve(lpReplacementFileName, replacement)) {
        return FALSE;
    }
    const bool backingUp = lpBackupFileName != nullptr && *lpBackupFileName != '\0';
    if (backingUp && !Resolve(lpBackupFileName, backup)) {
        return FALSE;
    }
    struct stat old;
    if (lstat(replaced.c_str(), &old) != 0) {
        return Fail(MissingFileError(replaced, errno));
    }
    struct stat fresh;
    if (lstat(replacement.c_str(), &fresh) != 0) {
        return Fail(MissingFileError(replacement, errno));
    }
    if (S_ISDIR(old.st_mode) || S_ISDIR(fresh.st_mode) || IsReadOnlyFile(old)) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    // The replaced file is opened for writing and deletion, the replacement
    // for deletion: opens that do not share those rights stop the call
    // before anything changes.
    TransientAccess replacedWrite(replaced, kWrite);
    TransientAccess replacedDelete(replaced, kDelete);
    TransientAccess replacementDelete(replacement, kDelete);
    if (!replacedWrite.Granted() || !replacedDelete.Granted() || !replacementDelete.Granted()) {
        return Fail(ERROR_SHARING_VIOLATION);
    }
    if (!TakeOverRights(replacement, old, dwReplaceFlags)) {
        return FALSE;
    }
    if (backingUp) {
        struct stat existing;
        if (lstat(backup.c_str(), &existing) == 0 &&
            (S_ISDIR(existing.st_mode) || IsReadOnlyFile(existing))) {
            return Fail(ERROR_UNABLE_TO_REMOVE_REPLACED);
        }
        if (!RenameTracked(replaced, backup)) {
            return Fail(ERROR_UNABLE_TO_REMOVE_REPLACED);
        }
        if (!RenameTracked(replacement, replaced)) {
            // The replaced file now bears the backup name, as Windows leaves it.
            return Fail(ERROR_UNABLE_TO_MOVE_REPLACEMENT_2);
        }
    } else if (!RenameTracked(replacement, replaced)) {
        return Fail(ERROR_UNABLE_TO_MOVE_REPLACEMENT);
    }
    if (dwReplaceFlags & REPLACEFILE_WRITE_THROUGH) {
        SyncFolder(replaced);
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

DWORD WINAPI GetFinalPathNameByHandleA(HANDLE hFile, LPSTR lpszFilePath, DWORD cchFilePath,
                                       DWORD dwFlags) {
    auto* file = LookupHandleAs<FileObject>(hFile);
    if (file == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if ((dwFlags & ~FILE_NAME_OPENED) != 0) {
        // Only the DOS form of a name (VOLUME_NAME_DOS, 0) is known here.
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    char native[PATH_MAX];
    std::string link = "/proc/self/fd/" + std::to_string(file->fd.get());
    ssize_t got = readlink(link.c_str(), native, sizeof native - 1);
    if (got <= 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    native[got] = '\0';
    std::string windows = WindowsPath(native);
    if (windows.size() >= 2 && windows[1] == ':') {
        windows = "\\\\?\\" + windows;
    }
    if (cchFilePath <= windows.size() || lpszFilePath == nullptr) {
        // The size needed, its null included.
        return static_cast<DWORD>(windows.size() + 1);
    }
    std::memcpy(lpszFilePath, windows.c_str(), windows.size() + 1);
    return static_cast<DWORD>(windows.size());
}
