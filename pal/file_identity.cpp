// GetFileInformationByHandle: what an open file is. The device and inode
// stand for the volume serial number and the file index, so two handles
// name the same file exactly when those agree, as on Windows.
#include "files.h"

#include <cstring>

using namespace pal;

BOOL WINAPI GetFileInformationByHandle(HANDLE hFile,
                                       LPBY_HANDLE_FILE_INFORMATION lpFileInformation) {
    auto* file = LookupHandleAs<FileObject>(hFile);
    if (file == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (lpFileInformation == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    struct stat st;
    if (fstat(file->fd.get(), &st) != 0) {
        SetLastErrorFromErrno();
        return FALSE;
    }
    BY_HANDLE_FILE_INFORMATION info;
    memset(&info, 0, sizeof info);
    // The attributes kept beside the file are read through the descriptor's
    // own name, which stays right after a rename.
    info.dwFileAttributes = AttributesOf("/proc/self/fd/" + std::to_string(file->fd.get()), st);
    info.ftCreationTime = ToFileTime(st.st_ctim);
    info.ftLastAccessTime = ToFileTime(st.st_atim);
    info.ftLastWriteTime = ToFileTime(st.st_mtim);
    const uint64_t device = static_cast<uint64_t>(st.st_dev);
    info.dwVolumeSerialNumber = static_cast<DWORD>(device ^ (device >> 32));
    if (!S_ISDIR(st.st_mode)) {
        info.nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
        info.nFileSizeLow = static_cast<DWORD>(st.st_size);
    }
    info.nNumberOfLinks = static_cast<DWORD>(st.st_nlink);
    const uint64_t index = static_cast<uint64_t>(st.st_ino);
    info.nFileIndexHigh = static_cast<DWORD>(index >> 32);
    info.nFileIndexLow = static_cast<DWORD>(index);
    *lpFileInformation = info;
    return TRUE;
}
