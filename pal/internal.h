// Shared inside pal/ only: the handle table behind HANDLE values, the machine
// folder and the translation of POSIX errors to Win32 error codes.
#pragma once

#include "pal.h"

#include <memory>
#include <string>

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

// Maps an errno value to the nearest Win32 error code.
DWORD ErrorFromErrno(int err);
// SetLastError(ErrorFromErrno(errno)) and returns the code.
DWORD SetLastErrorFromErrno();

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

// The program's arguments, recorded by the native main() for
// GetCommandLineA; without them the process's own argument vector is used.
void RecordArguments(int argc, char** argv);
// Turns the terminal's interrupt (SIGINT) into a posted WM_QUIT.
void InstallInterruptHandler();

// The dialog template of that name in the program's resources, or null.
const PalDialogTemplate* FindDialogTemplate(LPCSTR name);

} // namespace pal
