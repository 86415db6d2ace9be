// Files and directories with Windows' rules over POSIX: share modes (inside
// the process and across processes, through open-file-description locks),
// the read-only, hidden and system attributes, find handles, short names
// and moves, including the restart-time rename list.
#include "internal.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace pal {

namespace {

// ---- Share modes ------------------------------------------------------------
//
// Every open that asks for data access takes shared locks on bytes far
// beyond any real file offset: one byte per access it holds and one per
// access it denies others. A lock held by another open file description (in
// this process or any other) on the opposite byte is a sharing violation.

enum ShareBit { kRead = 0, kWrite = 1, kDelete = 2 };
constexpr off_t kLockBase = static_cast<off_t>(0x7fffffff00000000LL);
constexpr off_t kAccessByte = kLockBase;    // + bit: "I hold this access"
constexpr off_t kDenyByte = kLockBase + 16; // + bit: "I deny this access"

bool LockByte(int fd, off_t offset) {
    struct flock lock = {};
    lock.l_type = F_RDLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = offset;
    lock.l_len = 1;
    return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

// True when another open file description holds a lock on the byte.
bool OthersHold(int fd, off_t offset) {
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = offset;
    lock.l_len = 1;
    if (fcntl(fd, F_OFD_GETLK, &lock) != 0) {
        return false; // no locks on this file system: nothing to enforce
    }
    return lock.l_type != F_UNLCK;
}

unsigned AccessBits(DWORD desired) {
    unsigned bits = 0;
    if (desired & (GENERIC_READ | GENERIC_EXECUTE | GENERIC_ALL)) {
        bits |= 1u << kRead;
    }
    if (desired & (GENERIC_WRITE | GENERIC_ALL)) {
        bits |= 1u << kWrite;
    }
    if (desired & (DELETE | GENERIC_ALL)) {
        bits |= 1u << kDelete;
    }
    return bits;
}

unsigned ShareBits(DWORD share) {
    unsigned bits = 0;
    if (share & FILE_SHARE_READ) {
        bits |= 1u << kRead;
    }
    if (share & FILE_SHARE_WRITE) {
        bits |= 1u << kWrite;
    }
    if (share & FILE_SHARE_DELETE) {
        bits |= 1u << kDelete;
    }
    return bits;
}

// Takes the share locks of an open on fd and reports whether it conflicts
// with an open that exists already. The locks are taken before the check,
// so of two racing conflicting opens at least one fails.
bool AcquireShare(int fd, unsigned access, unsigned share) {
    if (access == 0) {
        return true; // opens without data access neither conflict nor deny
    }
    for (unsigned bit = 0; bit < 3; ++bit) {
        if (access & (1u << bit)) {
            LockByte(fd, kAccessByte + bit);
        }
        if (!(share & (1u << bit))) {
            LockByte(fd, kDenyByte + bit);
        }
    }
    for (unsigned bit = 0; bit < 3; ++bit) {
        if ((access & (1u << bit)) && OthersHold(fd, kDenyByte + bit)) {
            return false;
        }
        if (!(share & (1u << bit)) && OthersHold(fd, kAccessByte + bit)) {
            return false;
        }
    }
    return true;
}

// A short-lived descriptor that holds delete access to a file while it is
// deleted or renamed, so that the check and the change see the same opens.
class DeleteAccess {
  public:
    explicit DeleteAccess(const std::string& nativePath)
        : fd_(open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK)) {}
    ~DeleteAccess() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    DeleteAccess(const DeleteAccess&) = delete;
    DeleteAccess& operator=(const DeleteAccess&) = delete;
    // False when an open without FILE_SHARE_DELETE exists.
    bool Granted() {
        if (fd_ < 0) {
            return true; // not a regular file we can open: nothing holds it
        }
        return AcquireShare(fd_, 1u << kDelete, (1u << kRead) | (1u << kWrite) | (1u << kDelete));
    }

  private:
    int fd_;
};

// ---- Attributes ------------------------------------------------------------------

const char kAttrName[] = "user.vantrel.attrs";
constexpr DWORD kStoredAttrs = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                               FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY;

// Where extended attributes are not supported, the bits live in memory for
// the life of the process, keyed by file identity.
std::mutex sideTableMutex;
std::unordered_map<std::string, DWORD>& SideTable() {
    static std::unordered_map<std::string, DWORD> table;
    return table;
}

std::string IdentityKey(const struct stat& st) {
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

DWORD StoredAttributes(const std::string& nativePath, const struct stat& st) {
    char text[32] = {};
    ssize_t got = getxattr(nativePath.c_str(), kAttrName, text, sizeof text - 1);
    if (got > 0) {
        return static_cast<DWORD>(strtoul(text, nullptr, 16));
    }
    if (got < 0 && errno == ENOTSUP) {
        std::lock_guard<std::mutex> lock(sideTableMutex);
        auto found = SideTable().find(IdentityKey(st));
        return found == SideTable().end() ? 0 : found->second;
    }
    return 0;
}

bool StoreAttributes(const std::string& nativePath, const struct stat& st, DWORD bits) {
    if (bits == 0) {
        if (removexattr(nativePath.c_str(), kAttrName) == 0 || errno == ENODATA) {
            return true;
        }
    } else {
        char text[32];
        snprintf(text, sizeof text, "%x", static_cast<unsigned>(bits));
        if (setxattr(nativePath.c_str(), kAttrName, text, strlen(text), 0) == 0) {
            return true;
        }
    }
    if (errno != ENOTSUP) {
        return false;
    }
    std::lock_guard<std::mutex> lock(sideTableMutex);
    if (bits == 0) {
        SideTable().erase(IdentityKey(st));
    } else {
        SideTable()[IdentityKey(st)] = bits;
    }
    return true;
}

bool IsReadOnlyFile(const struct stat& st) {
    return !S_ISDIR(st.st_mode) && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

DWORD AttributesOf(const std::string& nativePath, const struct stat& st) {
    DWORD stored = StoredAttributes(nativePath, st);
    DWORD attrs = stored & kStoredAttrs;
    if (S_ISDIR(st.st_mode)) {
        // A folder's read-only flag is only a mark, as on Windows: it does
        // not stop changes inside the folder, so it is not a permission.
        attrs |= FILE_ATTRIBUTE_DIRECTORY | (stored & FILE_ATTRIBUTE_READONLY);
    } else if (IsReadOnlyFile(st)) {
        attrs |= FILE_ATTRIBUTE_READONLY;
    }
    return attrs == 0 ? FILE_ATTRIBUTE_NORMAL : attrs;
}

bool ApplyAttributes(const std::string& nativePath, DWORD attrs) {
    struct stat st;
    if (stat(nativePath.c_str(), &st) != 0) {
        return false;
    }
    DWORD stored = attrs & kStoredAttrs;
    if (S_ISDIR(st.st_mode)) {
        stored |= attrs & FILE_ATTRIBUTE_READONLY;
    } else {
        mode_t mode = st.st_mode & 07777;
        mode_t wanted = (attrs & FILE_ATTRIBUTE_READONLY)
                            ? (mode & ~(S_IWUSR | S_IWGRP | S_IWOTH))
                            : (IsReadOnlyFile(st) ? (mode | S_IWUSR) : mode);
        if (wanted != mode && chmod(nativePath.c_str(), wanted) != 0) {
            return false;
        }
    }
    return StoreAttributes(nativePath, st, stored);
}

// ---- Paths and errors ----------------------------------------------------------------

std::string ParentOf(const std::string& nativePath) {
    std::string path = nativePath;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseNameOf(const std::string& nativePath) {
    std::string path = nativePath;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Exists(const std::string& nativePath) {
    struct stat st;
    return lstat(nativePath.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& nativePath) {
    struct stat st;
    return stat(nativePath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The error for a name that does not exist: the file is missing, or
// already the folder that should hold it.
DWORD MissingError(const std::string& nativePath) {
    return IsDirectory(ParentOf(nativePath)) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
}

DWORD StatError(const std::string& nativePath, int err) {
    if (err == ENOENT) {
        return MissingError(nativePath);
    }
    if (err == ENOTDIR) {
        return ERROR_PATH_NOT_FOUND;
    }
    return ErrorFromErrno(err);
}

// The native path for an API argument, or 0 with the error set.
// Characters that no Windows file name may hold; a colon may only follow
// the drive letter.
bool HasInvalidCharacter(const char* windowsPath) {
    if (windowsPath[0] == '/') {
        return false; // a native path, used as it is
    }
    for (const char* c = windowsPath; *c != '\0'; ++c) {
        auto byte = static_cast<unsigned char>(*c);
        if (byte < 32 || strchr("<>\"|?*", byte) != nullptr ||
            (byte == ':' && c != windowsPath + 1)) {
            return true;
        }
    }
    return false;
}

bool Resolve(LPCSTR windowsPath, std::string& nativePath) {
    if (windowsPath == nullptr || *windowsPath == '\0') {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return false;
    }
    if (HasInvalidCharacter(windowsPath)) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    nativePath = NativePath(windowsPath);
    if (nativePath.empty()) {
        SetLastError(ERROR_BAD_PATHNAME);
        return false;
    }
    return true;
}

BOOL Fail(DWORD code) {
    SetLastError(code);
    return FALSE;
}

// ---- Handles ------------------------------------------------------------------------

struct FileObject : Object {
    int fd = -1;
    bool canRead = false;
    bool canWrite = false;
    ~FileObject() override {
        if (fd >= 0) {
            close(fd);
        }
    }
};

struct FindObject : Object {
    std::vector<WIN32_FIND_DATAA> entries;
    size_t next = 0;
};

FileObject* FileOf(HANDLE handle) {
    auto* file = LookupHandleAs<FileObject>(handle);
    if (file == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    return file;
}

FILETIME ToFileTime(const struct timespec& time) {
    // 100-nanosecond intervals since 1601-01-01.
    uint64_t ticks = (static_cast<uint64_t>(time.tv_sec) + 11644473600ULL) * 10000000ULL +
                     static_cast<uint64_t>(time.tv_nsec) / 100;
    FILETIME result;
    result.dwLowDateTime = static_cast<DWORD>(ticks);
    result.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return result;
}

bool FillFindData(const std::string& dir, const std::string& name, WIN32_FIND_DATAA& data) {
    if (name.size() >= MAX_PATH) {
        return false;
    }
    std::string path = dir == "/" ? "/" + name : dir + "/" + name;
    struct stat st;
    if (stat(path.c_str(), &st) != 0 && lstat(path.c_str(), &st) != 0) {
        return false;
    }
    memset(&data, 0, sizeof data);
    data.dwFileAttributes = AttributesOf(path, st);
    data.ftCreationTime = ToFileTime(st.st_ctim);
    data.ftLastAccessTime = ToFileTime(st.st_atim);
    data.ftLastWriteTime = ToFileTime(st.st_mtim);
    if (!S_ISDIR(st.st_mode)) {
        data.nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
        data.nFileSizeLow = static_cast<DWORD>(st.st_size);
    }
    memcpy(data.cFileName, name.c_str(), name.size() + 1);
    if (name != "." && name != ".." && !FitsShortName(name)) {
        std::string shortName = ShortNameIn(dir, name);
        if (shortName.size() < sizeof data.cAlternateFileName) {
            memcpy(data.cAlternateFileName, shortName.c_str(), shortName.size() + 1);
        }
    }
    return true;
}

char Upper(char c) {
    CharUpperBuffA(&c, 1);
    return c;
}

// Windows wildcards, letter case ignored: "*" any run, "?" one character.
bool Matches(const char* pattern, const char* name) {
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name != '\0') {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || (*pattern != '\0' && Upper(*pattern) == Upper(*name))) {
            ++pattern;
            ++name;
        } else if (star != nullptr) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') {
        ++pattern;
    }
    return *pattern == '\0';
}

bool IsDriveRoot(const std::string& nativeDir) {
    std::string prefix = MachineRoot() + "/drive_";
    std::string dir = nativeDir;
    while (dir.size() > 1 && dir.back() == '/') {
        dir.pop_back();
    }
    return dir == "/" ||
           (dir.size() == prefix.size() + 1 && dir.compare(0, prefix.size(), prefix) == 0);
}

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

// ---- Restart-time renames ----------------------------------------------------------------

const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kPendingRenames[] = "PendingFileRenameOperations";

// Appends one pair to the list that the system works through at its next
// start. The list's existing pairs are read and written back unchanged;
// damaged data ends where it stops making pairs.
BOOL AddRestartRename(const std::string& from, const std::string& to) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyA(HKEY_LOCAL_MACHINE, kSessionManager, &key);
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
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        return Fail(static_cast<DWORD>(status));
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

} // namespace

} // namespace pal

using namespace pal;

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE) {
    std::string path;
    if (!Resolve(lpFileName, path)) {
        return INVALID_HANDLE_VALUE;
    }
    if (dwCreationDisposition < CREATE_NEW || dwCreationDisposition > TRUNCATE_EXISTING ||
        (dwCreationDisposition == TRUNCATE_EXISTING &&
         !(dwDesiredAccess & (GENERIC_WRITE | GENERIC_ALL)))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    unsigned access = AccessBits(dwDesiredAccess);
    bool write = (access & (1u << kWrite)) != 0;
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
            SetLastError(ERROR_ACCESS_DENIED);
            return INVALID_HANDLE_VALUE;
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

    int flags = O_CLOEXEC | O_NOCTTY | (write ? O_RDWR : O_RDONLY);
    if (!existed) {
        flags |= O_CREAT | O_EXCL;
    }
    mode_t mode = (dwFlagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    NameChange change(path);
    int fd = open(path.c_str(), flags, mode);
    if (fd < 0 && errno == EACCES && write) {
        // Write-only permission: the handle still writes, without read locks.
        fd = open(path.c_str(), (flags & ~O_RDWR) | O_WRONLY, mode);
    }
    if (fd < 0) {
        SetLastError(errno == ENOENT ? MissingError(path) : ErrorFromErrno(errno));
        return INVALID_HANDLE_VALUE;
    }
    if (!existed) {
        change.Done(true);
    }
    if (!AcquireShare(fd, access, ShareBits(dwShareMode))) {
        close(fd);
        SetLastError(ERROR_SHARING_VIOLATION);
        return INVALID_HANDLE_VALUE;
    }
    if (existed && truncate && ftruncate(fd, 0) != 0) {
        SetLastErrorFromErrno();
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    if (!existed || dwCreationDisposition == CREATE_ALWAYS) {
        struct stat created;
        if (fstat(fd, &created) == 0) {
            StoreAttributes(path, created, dwFlagsAndAttributes & kStoredAttrs);
        }
    }
    auto object = std::make_unique<FileObject>();
    object->fd = fd;
    object->canRead = (access & (1u << kRead)) != 0;
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
    FileObject* file = FileOf(hFile);
    if (file == nullptr) {
        return FALSE;
    }
    if (!file->canRead) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    auto* out = static_cast<char*>(lpBuffer);
    DWORD done = 0;
    while (done < nNumberOfBytesToRead) {
        ssize_t got = read(file->fd, out + done, nNumberOfBytesToRead - done);
        if (got < 0 && errno == EINTR) {
            continue;
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
    FileObject* file = FileOf(hFile);
    if (file == nullptr) {
        return FALSE;
    }
    if (!file->canWrite) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    const auto* in = static_cast<const char*>(lpBuffer);
    DWORD done = 0;
    while (done < nNumberOfBytesToWrite) {
        ssize_t put = write(file->fd, in + done, nNumberOfBytesToWrite - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put < 0) {
            if (lpNumberOfBytesWritten != nullptr) {
                *lpNumberOfBytesWritten = done;
            }
            SetLastErrorFromErrno();
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
        base = lseek(file->fd, 0, SEEK_CUR);
    } else if (dwMoveMethod == FILE_END) {
        struct stat st;
        base = fstat(file->fd, &st) == 0 ? st.st_size : -1;
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
    if (lseek(file->fd, static_cast<off_t>(target), SEEK_SET) < 0) {
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
    if (fstat(file->fd, &st) != 0) {
        SetLastErrorFromErrno();
        return INVALID_FILE_SIZE;
    }
    if (lpFileSizeHigh != nullptr) {
        *lpFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
    }
    if (static_cast<DWORD>(st.st_size) == INVALID_FILE_SIZE) {
        SetLastError(ERROR_SUCCESS); // tells this size from a failure
    }
    return static_cast<DWORD>(st.st_size);
}

BOOL WINAPI SetEndOfFile(HANDLE hFile) {
    FileObject* file = FileOf(hFile);
    if (file == nullptr) {
        return FALSE;
    }
    if (!file->canWrite) {
        return Fail(ERROR_ACCESS_DENIED);
    }
    off_t position = lseek(file->fd, 0, SEEK_CUR);
    if (position < 0 || ftruncate(file->fd, position) != 0) {
        SetLastErrorFromErrno();
        return FALSE;
    }
    return TRUE;
}

DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
    std::string path;
    if (!Resolve(lpFileName, path)) {
        return INVALID_FILE_ATTRIBUTES;
    }
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        SetLastError(StatError(path, errno));
        return INVALID_FILE_ATTRIBUTES;
    }
    return AttributesOf(path, st);
}

BOOL WINAPI SetFileAttributesA(LPCSTR lpFileName, DWORD dwFileAttributes) {
    std::string path;
    if (!Resolve(lpFileName, path)) {
        return FALSE;
    }
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        return Fail(StatError(path, errno));
    }
    if (!ApplyAttributes(path, dwFileAttributes)) {
        SetLastErrorFromErrno();
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES) {
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
    NameChange change(path);
    if (rmdir(path.c_str()) != 0) {
        int err = errno;
        return Fail(err == ENOTEMPTY || err == EEXIST ? ERROR_DIR_NOT_EMPTY : ErrorFromErrno(err));
    }
    change.Done(false);
    return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR lpFileName) {
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
    DeleteAccess guard(path);
    if (!guard.Granted()) {
        return Fail(ERROR_SHARING_VIOLATION);
    }
    NameChange change(path);
    if (unlink(path.c_str()) != 0) {
        SetLastErrorFromErrno();
        return FALSE;
    }
    change.Done(false);
    return TRUE;
}

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, LPWIN32_FIND_DATAA lpFindFileData) {
    if (lpFileName == nullptr || *lpFileName == '\0') {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    std::string text = lpFileName;
    size_t cut = text.find_last_of("\\/");
    std::string pattern = cut == std::string::npos ? text : text.substr(cut + 1);
    std::string dirPart = cut == std::string::npos ? "" : text.substr(0, cut + 1);
    if (pattern.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (dirPart.empty() && text.size() >= 2 && text[1] == ':') {
        dirPart = text.substr(0, 2);
        pattern = text.substr(2);
        if (pattern.empty()) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
    }
    std::string dir = NativePath(dirPart.empty() ? "." : dirPart.c_str());
    while (dir.size() > 1 && dir.back() == '/') {
        dir.pop_back();
    }
    if (dir.empty() || !IsDirectory(dir)) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto find = std::make_unique<FindObject>();
    WIN32_FIND_DATAA data;
    if (pattern.find_first_of("*?") == std::string::npos) {
        std::string exact = NativePath(text.c_str());
        if (FillFindData(dir, BaseNameOf(exact), data) && Exists(exact)) {
            find->entries.push_back(data);
        }
    } else {
        if (pattern == "*.*") {
            pattern = "*";
        }
        std::vector<std::string> names;
        if (DIR* handle = opendir(dir.c_str())) {
            while (struct dirent* entry = readdir(handle)) {
                std::string name = entry->d_name;
                if ((name == "." || name == "..") && IsDriveRoot(dir)) {
                    continue;
                }
                if (Matches(pattern.c_str(), name.c_str())) {
                    names.push_back(name);
                }
            }
            closedir(handle);
        }
        // A stable order, "." and ".." first, as the file systems of Windows list them.
        std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
            bool aDot = a == "." || a == "..";
            bool bDot = b == "." || b == "..";
            if (aDot != bDot) {
                return aDot;
            }
            std::string ua = a, ub = b;
            CharUpperBuffA(&ua[0], static_cast<DWORD>(ua.size()));
            CharUpperBuffA(&ub[0], static_cast<DWORD>(ub.size()));
            return ua != ub ? ua < ub : a < b;
        });
        for (const auto& name : names) {
            if (FillFindData(dir, name, data)) {
                find->entries.push_back(data);
            }
        }
    }
    if (find->entries.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    *lpFindFileData = find->entries[0];
    find->next = 1;
    SetLastError(ERROR_SUCCESS);
    return AddHandle(std::move(find));
}

BOOL WINAPI FindNextFileA(HANDLE hFindFile, LPWIN32_FIND_DATAA lpFindFileData) {
    auto* find = LookupHandleAs<FindObject>(hFindFile);
    if (find == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (find->next >= find->entries.size()) {
        return Fail(ERROR_NO_MORE_FILES);
    }
    *lpFindFileData = find->entries[find->next++];
    return TRUE;
}

BOOL WINAPI FindClose(HANDLE hFindFile) {
    if (LookupHandleAs<FindObject>(hFindFile) == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    CloseHandleObject(hFindFile);
    return TRUE;
}

DWORD WINAPI GetShortPathNameA(LPCSTR lpszLongPath, LPSTR lpszShortPath, DWORD cchBuffer) {
    if (lpszLongPath == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string text = lpszLongPath;
    std::string path;
    if (!Resolve(lpszLongPath, path)) {
        return 0;
    }
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        // Windows says "file not found" whichever part of the path is missing.
        SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_FILE_NOT_FOUND
                                                         : ErrorFromErrno(errno));
        return 0;
    }
    // Each name in the given path is traded for its short form; the
    // separators, the drive and "." / ".." stay as given.
    std::string result;
    size_t pos = 0;
    if (text.size() >= 2 && text[1] == ':') {
        result = text.substr(0, 2);
        pos = 2;
    }
    while (pos < text.size()) {
        if (text[pos] == '\\' || text[pos] == '/') {
            result += text[pos++];
            continue;
        }
        size_t end = text.find_first_of("\\/", pos);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string part = text.substr(pos, end - pos);
        if (part == "." || part == "..") {
            result += part;
        } else {
            std::string native = NativePath(text.substr(0, end).c_str());
            result += ShortNameIn(ParentOf(native), BaseNameOf(native));
        }
        pos = end;
    }
    if (lpszShortPath == nullptr || cchBuffer <= result.size()) {
        return static_cast<DWORD>(result.size() + 1);
    }
    memcpy(lpszShortPath, result.c_str(), result.size() + 1);
    return static_cast<DWORD>(result.size());
}

BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags) {
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
    std::string from;
    std::string to;
    if (!Resolve(lpExistingFileName, from) || !Resolve(lpNewFileName, to)) {
        return FALSE;
    }
    struct stat source;
    if (lstat(from.c_str(), &source) != 0) {
        return Fail(StatError(from, errno));
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
    DeleteAccess sourceGuard(from);
    if (!sourceGuard.Granted()) {
        return Fail(ERROR_SHARING_VIOLATION);
    }
    DeleteAccess targetGuard(to);
    if (!targetGuard.Granted()) {
        return Fail(ERROR_SHARING_VIOLATION);
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
    return TRUE;
}

BOOL WINAPI CopyFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, BOOL bFailIfExists) {
    std::string from;
    if (!Resolve(lpExistingFileName, from)) {
        return FALSE;
    }
    HANDLE source =
        CreateFileA(lpExistingFileName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    if (source == INVALID_HANDLE_VALUE) {
        return FALSE;
    }
    struct stat st;
    FileObject* in = LookupHandleAs<FileObject>(source);
    fstat(in->fd, &st);
    DWORD attrs = AttributesOf(from, st) & ~FILE_ATTRIBUTE_NORMAL;
    HANDLE target = CreateFileA(
        lpNewFileName, GENERIC_WRITE, 0, nullptr, bFailIfExists ? CREATE_NEW : CREATE_ALWAYS,
        (attrs & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (target == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        CloseHandle(source);
        return Fail(code);
    }
    FileObject* out = LookupHandleAs<FileObject>(target);
    bool copied = CopyContents(in->fd, out->fd);
    DWORD code = copied ? ERROR_SUCCESS : ErrorFromErrno(errno);
    if (copied) {
        struct timespec times[2] = {st.st_atim, st.st_mtim};
        futimens(out->fd, times);
    }
    CloseHandle(target);
    CloseHandle(source);
    if (!copied) {
        return Fail(code);
    }
    std::string to = NativePath(lpNewFileName);
    ApplyAttributes(to, attrs | FILE_ATTRIBUTE_ARCHIVE);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
