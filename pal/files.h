// What the file calls share inside pal/: share modes (file_share.cpp),
// attributes (file_attributes.cpp), path arguments and their errors
// (file_paths.cpp) and the open-file object (file_io.cpp).
#pragma once

#include "internal.h"

#include <string>
#include <sys/stat.h>

namespace pal {

// ---- Share modes (file_share.cpp) -----------------------------------------

enum ShareBit { kRead = 0, kWrite = 1, kDelete = 2 };

// The specific rights an access mask asks for, its generic rights mapped as
// Windows maps them for files.
DWORD FileRights(DWORD desired);
// The share rights (ShareBit) an access mask uses.
unsigned AccessBits(DWORD desired);
unsigned ShareBits(DWORD share);
// Takes the share locks of an open on fd and reports whether it conflicts
// with an open that exists already. The locks are taken before the check,
// so of two racing conflicting opens at least one fails.
bool AcquireShare(int fd, unsigned access, unsigned share);

// Marks fd's file as the image of a running program or a loaded library for
// as long as the descriptor stays open: no one may write or delete it, but it
// can be renamed, as on Windows.
bool HoldImage(int fd);

// A short-lived descriptor that holds one access right to a file (delete
// for deletes and renames, write for truncation) while the change is made,
// so that the check and the change see the same opens.
class TransientAccess {
  public:
    TransientAccess(const std::string& nativePath, ShareBit right);
    // False when an open exists that does not share the right.
    bool Granted();
    // For a delete (right kDelete): ERROR_SHARING_VIOLATION when an open
    // does not share deletion, ERROR_ACCESS_DENIED when a process runs the
    // file or has it loaded (which a rename does not mind), else 0. Costs
    // the same calls as Granted().
    DWORD DeleteRefusal();

  private:
    UniqueFd fd_;
    ShareBit right_;
};

// Access rights (ShareBit bits) that an open on fd holds on top of its own
// while it lives, for a change the open makes beyond what it asked for
// (truncation): not granted when another open denies one of them. The
// open's own share mode never counts against it.
class BorrowedAccess {
  public:
    BorrowedAccess(int fd, unsigned access);
    ~BorrowedAccess();
    BorrowedAccess(const BorrowedAccess&) = delete;
    BorrowedAccess& operator=(const BorrowedAccess&) = delete;
    bool Granted() const { return granted_; }

  private:
    int fd_;
    unsigned taken_ = 0;
    bool granted_ = true;
};

// ---- Attributes (file_attributes.cpp) --------------------------------------

// The attribute bits kept in the extended attribute; read-only is the file's
// write permission instead.
constexpr DWORD kStoredAttrs = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                               FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY;

bool StoreAttributes(const std::string& nativePath, const struct stat& st, DWORD bits);
bool IsReadOnlyFile(const struct stat& st);
DWORD AttributesOf(const std::string& nativePath, const struct stat& st);
bool ApplyAttributes(const std::string& nativePath, DWORD attrs);

// ---- Path arguments (file_paths.cpp) ---------------------------------------

std::string ParentOf(const std::string& nativePath);
std::string BaseNameOf(const std::string& nativePath);
// The error for a name that does not exist: the file is missing, or
// already the folder that should hold it.
DWORD MissingError(const std::string& nativePath);
DWORD StatError(const std::string& nativePath, int err);
// The native path for an API argument, or false with the error set.
bool Resolve(LPCSTR windowsPath, std::string& nativePath);
// Resolve, and the status of the file it names (following links), or false
// with the error set (StatError) when there is none.
bool ResolveExisting(LPCSTR windowsPath, std::string& nativePath, struct stat& st);
bool IsDriveRoot(const std::string& nativeDir);
// SetLastError(code) and FALSE.
BOOL Fail(DWORD code);

// ---- Folder listings (file_find.cpp) ----------------------------------------

// A file time (100-nanosecond intervals since 1601-01-01) from a POSIX one.
FILETIME ToFileTime(const struct timespec& time);

// ---- Open files (file_io.cpp) ----------------------------------------------

struct FileObject : Object {
    UniqueFd fd;
    bool canRead = false;
    bool canWrite = false; // FILE_WRITE_DATA or FILE_APPEND_DATA; the latter alone appends
};

// ---- Device names (file_devices.cpp) ----------------------------------------

enum class DeviceKind { kNull, kConsole, kPort };

struct DeviceName {
    DeviceKind kind = DeviceKind::kNull;
    std::string name;        // as given, without extension ("nul" of "C:\x\nul.txt")
    std::string folder;      // the Windows folder before it, or empty
    bool namespaced = false; // reached through \\.\ or \\?\ (by name alone)
};

// Whether a path begins with \\?\ or \\.\.
bool HasDevicePrefix(const char* windowsPath);
// A path with each of its names (not "." or "..") traded for name(part,
// upTo), upTo being the path up to and with the part; the separators, the
// device prefix and the drive stay as given.
std::string MapPathNames(const std::string& text,
                         std::string (*name)(const std::string& part, const std::string& upTo));
// Whether a Windows path names a device rather than a file, and which.
bool DeviceOf(LPCSTR windowsPath, DeviceName& device);
// ERROR_PATH_NOT_FOUND when the folder before a device name is missing.
DWORD DeviceFolderError(const DeviceName& device);
// The error opening the device gives: the folder's, else none for NUL,
// ERROR_INVALID_HANDLE for the console, ERROR_FILE_NOT_FOUND for ports.
DWORD DeviceOpenError(const DeviceName& device);
// CreateFileA of a device: a handle to the sink, or the error.
HANDLE OpenDevice(const DeviceName& device, DWORD desiredAccess, DWORD disposition);

} // namespace pal
