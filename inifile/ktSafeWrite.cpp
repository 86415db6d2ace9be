// The temporary-file write-back of the INI engine. The NT family replaces
// in one call (ReplaceFileA, which keeps the file's rights); the Windows 95
// family, which has neither that call nor MoveFileExA, moves the original
// aside first (PlatformId decides). A crash between those two moves is
// mended before the file is next loaded (MendInterruptedReplace).
#include "ktSafeWrite.h"

#include "ktHandle.h"
#include "ktPlatform.h"
#include "ktSafeWriteNames.h"

#include "winapi.h"
#include "ktFileBytes.h"

#include <map>
#include <string>
#include <vector>

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

// Writes the new content to a new temporary file of ours beside `fileName`,
// flushed and closed; its name goes to `temp`.
bool WriteTemporary(const std::string& fileName, const std::string& bytes, DWORD attributes,
                    TTempFile& temp, TTempName& name) {
    const uint32_t crc = Crc32(bytes);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        name = TTempName::Fresh(fileName, crc, kTempNew);
        TScopedHandle file(CreateFileA(name.Path().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       attributes, nullptr));
        if (!file) {
            if (GetLastError() == ERROR_FILE_EXISTS) {
                continue;
            }
            return false;
        }
        temp.Own(name.Path());
        // The close is checked too: a file system may report a failed write
        // only then.
        if (WriteAll(file.Get(), bytes) && FlushFileBuffers(file.Get()) &&
            CloseHandle(file.Release()) != FALSE) {
            return true;
        }
        DWORD error = GetLastError();
        file.Reset();
        SetLastError(error);
        return false;
    }
    return false;
}

// The Windows 95 family: the original moves aside under a name of ours
// that checks its bytes, the new file takes its name, the original goes. A
// failure in between moves the original back; a crash in between leaves
// both complete, which MendInterruptedReplace recognises.
bool ReplaceByRenames(const std::string& fileName, const TTempName& temp) {
    std::string original;
    if (!ReadWholeFile(fileName, original)) {
        return false;
    }
    TTempName aside = temp.Partner(Crc32(original));
    if (!MoveFileA(fileName.c_str(), aside.Path().c_str())) {
        return false;
    }
    if (!MoveFileA(temp.Path().c_str(), fileName.c_str())) {
        DWORD error = GetLastError();
        MoveFileA(aside.Path().c_str(), fileName.c_str());
        SetLastError(error);
        return false;
    }
    SetFileAttributesA(aside.Path().c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(aside.Path().c_str());
    return true;
}

} // namespace

namespace {

// ReplaceFileContent, with the error of the step that failed in `error`
// (the temporary file's removal comes after).
bool ReplaceContent(const std::string& name, const std::string& bytes, DWORD& error) {
    DWORD attributes = GetFileAttributesA(name.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
        error = ERROR_ACCESS_DENIED;
        return false;
    }
    // A symbolic link stays: the file it points to is the one replaced.
    const std::string fileName = exists ? FinalFileName(name) : name;
    if (exists) {
        RemoveOurLeftovers(fileName);
    }
    // The temporary file carries the original's attributes, so the file that
    // takes its place has them.
    const DWORD kept = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    DWORD tempAttributes = exists ? (attributes & kept) : 0;
    if (tempAttributes == 0) {
        tempAttributes = FILE_ATTRIBUTE_NORMAL;
    }
    TTempFile temp;
    TTempName tempName;
    if (!WriteTemporary(fileName, bytes, tempAttributes, temp, tempName)) {
        error = GetLastError();
        return false;
    }
    bool replaced = false;
    if (!exists) {
        replaced = MoveFileA(tempName.Path().c_str(), fileName.c_str()) != FALSE;
    } else if (PlatformId() == VER_PLATFORM_WIN32_WINDOWS) {
        // A rename keeps the rights of the file that moves, not of the one
        // whose name it takes: the new file gets the original's first. One
        // whose owner cannot be kept is not the file it was, so the
        // write-back then fails and the original stays.
        replaced = CarryRights(fileName, tempName.Path()) && ReplaceByRenames(fileName, tempName);
    } else {
        replaced = ReplaceWithRights(fileName, tempName.Path());
    }
    if (replaced) {
        temp.Release();
    } else {
        error = GetLastError();
    }
    return replaced;
}

} // namespace

bool ReplaceFileContent(const std::string& name, const std::string& bytes) {
    DWORD error = 0;
    if (ReplaceContent(name, bytes, error)) {
        return true;
    }
    SetLastError(error);
    return false;
}

bool MendInterruptedReplace(const std::string& fileName) {
    DWORD attributes = GetFileAttributesA(fileName.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            RemoveOurLeftovers(fileName);
        }
        return false;
    }
    // Only the state between the two renames: the original aside and the
    // new copy, of one write-back, each whole.
    std::map<std::string, TTempName> news;
    std::vector<TTempName> olds;
    for (const TTempName& name : OurNamesBeside(fileName)) {
        if (name.Kind() == kTempNew) {
            news[name.Id()] = name;
        } else {
            olds.push_back(name);
        }
    }
    for (const TTempName& old : olds) {
        auto found = news.find(old.Id());
        if (found == news.end() || !old.HoldsItsBytes() || !found->second.HoldsItsBytes()) {
            continue;
        }
        // The name as the folder spells it, from our files' names.
        const TTempName& fresh = found->second;
        if (!MoveFileA(fresh.Path().c_str(), fresh.FileName().c_str())) {
            return false;
        }
        RemoveOurs(old);
        return true;
    }
    return false;
}
