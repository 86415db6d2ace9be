// Shared inside pal/ only: the handle table behind HANDLE values, owners of
// descriptors and folder streams, the small helpers every part needs, the
// machine folder and the translation of POSIX errors to Win32 error codes.
#pragma once

#include "pal.h"

#include <cstring>
#include <memory>
#include <string>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

struct PalDialogTemplate;

namespace pal {

// Every kernel object that a HANDLE names (open file, find handle, process)
// derives from Object. Handle values are small multiples of 4, so they fit
// the signed 32-bit file handles that the program stores.
struct Object {
    virtual ~Object() = default;
};

HANDLE AddHandle(std::unique_ptr<Object> object);
// The object behind a handle, or null when the handle is not open.
Object* LookupHandle(HANDLE handle);
template <typename T> T* LookupHandleAs(HANDLE handle) {
    return dynamic_cast<T*>(LookupHandle(handle));
}
// Removes the handle from the table and destroys its object; false when the
// handle is not open.
bool CloseHandleObject(HANDLE handle);
// A wait on a mutex handle (mutex.cpp): false when the handle names none,
// else true with the wait's result set.
bool WaitForMutex(HANDLE handle, DWORD milliseconds, DWORD& result);

// Owns a file descriptor: closed when the owner goes. Empty is -1.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int Release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset(int fd = -1) {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

// Owns a folder stream from opendir.
struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

// Owns a HANDLE that a call opened for its own use: closed when the owner
// goes. Empty is INVALID_HANDLE_VALUE, what the opening calls give on failure.
class UniqueHandle {
  public:
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    ~UniqueHandle() {
        if (handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr) {
            CloseHandle(handle_);
        }
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }

  private:
    HANDLE handle_;
};

// Owns an open registry key: closed when the owner goes.
class UniqueKey {
  public:
    UniqueKey() = default;
    ~UniqueKey() {
        if (key_ != nullptr) {
            RegCloseKey(key_);
        }
    }
    UniqueKey(const UniqueKey&) = delete;
    UniqueKey& operator=(const UniqueKey&) = delete;
    HKEY get() const { return key_; }
    // Where an opening call puts the key.
    PHKEY Receive() { return &key_; }

  private:
    HKEY key_ = nullptr;
};

// Existence tests on native paths. Exists does not follow a final symbolic
// link; the others do.
inline bool Exists(const std::string& nativePath) {
    struct stat st;
    return lstat(nativePath.c_str(), &st) == 0;
}
inline bool IsDirectory(const std::string& nativePath) {
    struct stat st;
    return stat(nativePath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
inline bool IsRegularFile(const std::string& nativePath) {
    struct stat st;
    return !nativePath.empty() && stat(nativePath.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The two separators of a Windows path, and the letters that name a drive.
inline bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}
inline bool IsDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Whether a path names a folder or drive (holds \\, / or :), as opposed to a
// bare name that a search path may find.
inline bool HasSeparator(const char* path) {
    return std::strpbrk(path, "\\/:") != nullptr;
}

// Upper-cased with code page 1252 (CharUpperBuffA), as names compare.
std::string UpperCase(std::string text);
char UpperCase(char c);

// Win32's rule for a string returned into a caller's buffer: the length
// without the terminating zero when the text fits, else the size needed
// including it, the buffer untouched.
DWORD CopyOut(const std::string& text, char* buffer, DWORD size);
// The rule of the window texts: as much as fits, always terminated; the
// count copied. Nothing is written without room for the terminator.
int CopyTruncated(const std::string& text, char* buffer, int size);

// Maps an errno value to the nearest Win32 error code.
DWORD ErrorFromErrno(int err);
// SetLastError(ErrorFromErrno(errno)) and returns the code.
DWORD SetLastErrorFromErrno();

// True when the layer plays a system of the Windows 95 family
// (VANTREL_PLATFORM=win95): GetVersionExA says so, and CreateFileA refuses
// FILE_SHARE_DELETE as that family does.
bool Win95Family();

// The folder that holds the simulated Windows machine: $VANTREL_ROOT, or
// ~/.local/share/vantrel/machine. Created on first use.
const std::string& MachineRoot();

// Translates a Windows path ("C:\a\b", "c:/a/b", "\a" on drive C:, or a
// native path that begins with "/") into a native path. Components resolve
// without regard to letter case when the exact name is missing. The result
// is empty for a path that names no drive or is otherwise unusable.
std::string NativePath(const char* windowsPath);

// The Windows form of a native path inside the machine folder
// ("$VANTREL_ROOT/drive_c/x" -> "C:\x"); other native paths come back as
// they are.
std::string WindowsPath(const std::string& nativePath);

// The absolute Windows form of a path, "." and ".." applied, letter case
// as given ("c:/a/./b" -> "C:\a\b"); native paths stay native.
std::string FullWindowsPath(const char* path);

// Whether a name is its own 8.3 short name, and the short name that
// GetShortPathNameA gives a name in a native folder ("Program Files" ->
// "PROGRA~1"). NativePath resolves these short names back.
bool FitsShortName(const std::string& name);
std::string ShortNameIn(const std::string& nativeDir, const std::string& name);

// The actual name in a native folder for a wanted name: an exact match
// first, then one equal without regard to case, then a generated short name.
bool FindNameIn(const std::string& nativeDir, const std::string& wanted, std::string& actual);

// Keeps the cached folder listings behind case-insensitive resolution in
// step with a change that this process makes to one name: construct before
// the change, call Done after it succeeded.
class NameChange {
  public:
    explicit NameChange(const std::string& nativePath);
    void Done(bool nameExists);

  private:
    std::string dir_;
    std::string name_;
    bool tracked_ = false;
};

// Open-file-description locks on one byte (byte_locks.cpp): takes a lock of
// the type (F_RDLCK, F_WRLCK), waiting for it when asked; and whether
// another open file description holds a lock on the byte (false where the
// file system has no locks).
bool LockByte(int fd, short type, off_t offset, bool wait);
bool OthersHold(int fd, off_t offset);

// The program's arguments, recorded by the native main() for
// GetCommandLineA; without them the process's own argument vector is used.
void RecordArguments(int argc, char** argv);
// Turns the terminal's interrupt (SIGINT) into a posted WM_QUIT.
void InstallInterruptHandler();
// SIGPWR asks for the session's end (session.cpp).
void InstallSessionHandler();

// The dialog template of that name in the program's resources, or null.
const PalDialogTemplate* FindDialogTemplate(LPCSTR name);
// The error of a dialog template the program lacks, as Windows tells a
// program without resources (1812) or without dialogs (1813) from one
// without that name (1814).
DWORD MissingDialogError();

// The exception code with which Windows would end a process that a fault
// ended with this signal; 0 for signals that are no fault.
DWORD ExceptionCodeOfSignal(int signalNumber);
// The pseudo module that GetModuleHandleA gives for "kernel32.dll", and the
// few calls GetProcAddress finds there.
HMODULE Kernel32Module();

} // namespace pal
