// The temporary-file write-back of the INI engine.
#include "ktSafeWrite.h"

#include "ktHandle.h"
#include "ktPlatform.h"

#include "winapi.h"

#include <string>

namespace {

// Owns a file name that is removed unless released: the temporary file of
// a write-back that did not get to replace the original.
class TTempFile {
  public:
    TTempFile() = default;
    TTempFile(const TTempFile&) = delete;
    TTempFile& operator=(const TTempFile&) = delete;
    ~TTempFile() {
        if (!name_.empty()) {
            SetFileAttributesA(name_.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(name_.c_str());
        }
    }
    void Own(const std::string& name) { name_ = name; }
    void Release() { name_.clear(); }

  private:
    std::string name_;
};

class THandleCloser {
  public:
    explicit THandleCloser(HANDLE handle) : handle_(handle) {}
    THandleCloser(const THandleCloser&) = delete;
    THandleCloser& operator=(const THandleCloser&) = delete;
    ~THandleCloser() { Close(); }
    bool Close() {
        HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle == INVALID_HANDLE_VALUE || CloseHandle(handle) != FALSE;
    }

  private:
    HANDLE handle_;
};

// A new file beside `fileName` that no other file has the name of:
// "<name>.~N" with the first free N.
HANDLE CreateSibling(const std::string& fileName, const char* suffix, DWORD attributes,
                     std::string& name) {
    for (int n = 0; n < 1000; ++n) {
        name = fileName + suffix + std::to_string(n);
        HANDLE handle =
            CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr);
        if (handle != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) {
            return handle;
        }
    }
    return INVALID_HANDLE_VALUE;
}

bool WriteAll(HANDLE handle, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        DWORD chunk = static_cast<DWORD>(bytes.size() - done);
        if (!WriteFile(handle, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        done += written;
    }
    return true;
}

// A name no file has beside `fileName`, for moving the original aside.
bool FreeSiblingName(const std::string& fileName, std::string& name) {
    for (int n = 0; n < 1000; ++n) {
        name = fileName + ".~old" + std::to_string(n);
        if (GetFileAttributesA(name.c_str()) == INVALID_FILE_ATTRIBUTES &&
            GetLastError() == ERROR_FILE_NOT_FOUND) {
            return true;
        }
    }
    return false;
}

// The Windows 95 family: the original moves aside, the new file takes its
// name, the original goes. A failure in between moves the original back; a
// crash in between leaves both complete, the new one under its temporary
// name.
bool ReplaceByRenames(const std::string& fileName, const std::string& tempName, bool exists) {
    if (!exists) {
        return MoveFileA(tempName.c_str(), fileName.c_str()) != FALSE;
    }
    std::string aside;
    if (!FreeSiblingName(fileName, aside) || !MoveFileA(fileName.c_str(), aside.c_str())) {
        return false;
    }
    if (!MoveFileA(tempName.c_str(), fileName.c_str())) {
        MoveFileA(aside.c_str(), fileName.c_str());
        return false;
    }
    SetFileAttributesA(aside.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(aside.c_str());
    return true;
}

// What a write-back that a crash cut short left beside a file that is still
// whole: its temporary file, or the original moved aside and already
// replaced. The file exists, so they hold nothing it needs.
void RemoveLeftovers(const std::string& fileName) {
    for (const char* suffix : {".~new", ".~old"}) {
        for (int n = 0; n < 1000; ++n) {
            std::string name = fileName + suffix + std::to_string(n);
            if (GetFileAttributesA(name.c_str()) == INVALID_FILE_ATTRIBUTES) {
                break;
            }
            SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(name.c_str());
        }
    }
}

// The existing file's name as its folder spells it. The engine cache names
// files in upper case; a replacement by that name would change the letter
// case of another program's file (the new name's case is what stays).
std::string SpelledName(const std::string& fileName) {
    if (fileName.find_first_of("*?") != std::string::npos) {
        return fileName;
    }
    WIN32_FIND_DATAA data;
    TScopedFind find(FindFirstFileA(fileName.c_str(), &data));
    if (!find) {
        return fileName;
    }
    size_t folderEnd = fileName.find_last_of("\\/:");
    return fileName.substr(0, folderEnd == std::string::npos ? 0 : folderEnd + 1) + data.cFileName;
}

} // namespace

bool ReplaceFileContent(const std::string& name, const std::string& bytes) {
    DWORD attributes = GetFileAttributesA(name.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
        return false;
    }
    const std::string fileName = exists ? SpelledName(name) : name;
    if (exists) {
        RemoveLeftovers(fileName);
    }
    // The temporary file carries the original's attributes, so the file that
    // takes its place has them.
    const DWORD kept = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    DWORD tempAttributes = exists ? (attributes & kept) : 0;
    if (tempAttributes == 0) {
        tempAttributes = FILE_ATTRIBUTE_NORMAL;
    }
    TTempFile temp;
    std::string tempName;
    HANDLE handle = CreateSibling(fileName, ".~new", tempAttributes, tempName);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    temp.Own(tempName);
    THandleCloser closer(handle);
    if (!WriteAll(handle, bytes) || !FlushFileBuffers(handle) || !closer.Close()) {
        return false;
    }
    bool replaced = PlatformId() == VER_PLATFORM_WIN32_WINDOWS
                        ? ReplaceByRenames(fileName, tempName, exists)
                        : MoveFileExA(tempName.c_str(), fileName.c_str(),
                                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    if (replaced) {
        temp.Release();
    }
    return replaced;
}
