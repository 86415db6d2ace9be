// File identity through an open handle.
#include "ktFileIdentity.h"

#include "ktHandle.h"
#include "ktPathNames.h"
#include "ktPlatform.h"
#include "ktText.h"

bool FileIdOf(HANDLE handle, TFileId& id) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info)) {
        return false;
    }
    id.volume = info.dwVolumeSerialNumber;
    id.indexHigh = info.nFileIndexHigh;
    id.indexLow = info.nFileIndexLow;
    return true;
}

bool FileIdOf(const std::string& path, TFileId& id) {
    TScopedHandle handle(CreateFileA(path.c_str(), 0, ShareAll(), nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    return handle && FileIdOf(handle.Get(), id);
}

bool FolderIdOf(const std::string& path, bool linkItself, TFileId& id) {
    TScopedHandle handle(CreateFileA(
        path.c_str(), 0, ShareAll(), nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | (linkItself ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr));
    return handle && FileIdOf(handle.Get(), id);
}

bool SameFile(const std::string& first, const std::string& second) {
    TFileId one;
    TFileId two;
    return FileIdOf(first, one) && FileIdOf(second, two) && one == two;
}

bool SameFileOrName(const std::string& first, const std::string& second) {
    return UpperCase(NormalizedPath(first)) == UpperCase(NormalizedPath(second)) ||
           SameFile(first, second);
}
