#include "ktFileBytes.h"

#include "ktHandle.h"

bool ReadWholeFile(const std::string& fileName, std::string& bytes) {
    TScopedHandle file(CreateFileA(fileName.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    DWORD size = GetFileSize(file.Get(), nullptr);
    if (size == INVALID_FILE_SIZE) {
        return false;
    }
    bytes.assign(size, '\0');
    DWORD done = 0;
    while (done < size) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), &bytes[done], size - done, &got, nullptr) || got == 0) {
            return false;
        }
        done += got;
    }
    return true;
}
