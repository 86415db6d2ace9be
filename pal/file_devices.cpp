// Device names: NUL, CON, AUX, PRN, COM1-COM9 and LPT1-LPT9 name devices in
// every folder, with or without an extension, and \\.\NUL or \\?\NUL reach
// them by name alone. NUL is a sink; the console is absent, since the
// program has none; no port exists. No file call ever makes, changes or
// removes a file under such a name.
#include "files.h"

#include <fcntl.h>

namespace pal {

namespace {

// The kind of device a bare name (no folder, extension already cut) names.
bool KindOf(const std::string& name, DeviceKind& kind) {
    std::string upper = UpperCase(name);
    if (upper == "NUL") {
        kind = DeviceKind::kNull;
    } else if (upper == "CON") {
        kind = DeviceKind::kConsole;
    } else if (upper == "AUX" || upper == "PRN" ||
               (upper.size() == 4 &&
                (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
                upper[3] >= '1' && upper[3] <= '9')) {
        kind = DeviceKind::kPort; // AUX is COM1 and PRN is LPT1
    } else {
        return false;
    }
    return true;
}

} // namespace

bool HasDevicePrefix(const char* windowsPath) {
    return windowsPath[0] == '\\' && windowsPath[1] == '\\' &&
           (windowsPath[2] == '?' || windowsPath[2] == '.') && windowsPath[3] == '\\';
}

bool DeviceOf(LPCSTR windowsPath, DeviceName& device) {
    if (windowsPath == nullptr || windowsPath[0] == '/') {
        return false;
    }
    device = DeviceName();
    if (HasDevicePrefix(windowsPath)) {
        // The device namespace knows devices by their names alone.
        device.name = windowsPath + 4;
        device.namespaced = true;
        return KindOf(device.name, device.kind);
    }
    std::string path = windowsPath;
    size_t start = path.size();
    while (start > 0 && !IsSeparator(path[start - 1]) && !(start == 2 && path[1] == ':')) {
        --start;
    }
    std::string name = path.substr(start);
    if (!name.empty() && name.back() == ':') {
        name.pop_back(); // "NUL:" names the device too
    }
    // What follows the first dot does not count, nor do blanks before it.
    name = name.substr(0, name.find('.'));
    while (!name.empty() && name.back() == ' ') {
        name.pop_back();
    }
    if (!KindOf(name, device.kind)) {
        return false;
    }
    device.name = name;
    device.folder = path.substr(0, start);
    return true;
}

DWORD DeviceFolderError(const DeviceName& device) {
    if (device.folder.empty() || (device.folder.size() == 2 && device.folder[1] == ':')) {
        return ERROR_SUCCESS;
    }
    return IsDirectory(NativePath(device.folder.c_str())) ? ERROR_SUCCESS : ERROR_PATH_NOT_FOUND;
}

DWORD DeviceOpenError(const DeviceName& device) {
    DWORD folder = DeviceFolderError(device);
    if (folder != ERROR_SUCCESS) {
        return folder;
    }
    switch (device.kind) {
    case DeviceKind::kNull:
        return ERROR_SUCCESS;
    case DeviceKind::kConsole:
        return ERROR_INVALID_HANDLE; // what a program without a console gets
    case DeviceKind::kPort:
        break;
    }
    return ERROR_FILE_NOT_FOUND; // as Windows answers for a port it does not have
}

HANDLE OpenDevice(const DeviceName& device, DWORD desiredAccess, DWORD disposition) {
    DWORD error = DeviceOpenError(device);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    // The sink: no share locks, no attributes, nothing to truncate.
    UniqueFd fd(open("/dev/null", O_RDWR | O_CLOEXEC));
    if (!fd) {
        SetLastErrorFromErrno();
        return INVALID_HANDLE_VALUE;
    }
    DWORD rights = FileRights(desiredAccess);
    auto object = std::make_unique<FileObject>();
    object->fd = std::move(fd);
    object->canRead = (rights & FILE_READ_DATA) != 0;
    object->canWrite = (AccessBits(desiredAccess) & (1u << kWrite)) != 0;
    HANDLE handle = AddHandle(std::move(object));
    SetLastError(disposition == OPEN_ALWAYS ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

} // namespace pal
