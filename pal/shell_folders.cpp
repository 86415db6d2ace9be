// The machine's system and shell folders, laid out as on a single-user
// Windows of the 95 family (C:\WINDOWS\Start Menu, C:\WINDOWS\Desktop, ...),
// which is how the demo and the scenarios lay out installations; and the
// system clock in UTC.
#include "internal.h"

#include <cstring>
#include <ctime>
#include <string>
#include <sys/time.h>

namespace {

struct ShellFolder {
    int id;
    const char* path; // below the Windows directory when it starts with "\"
};

// Folder identifiers (CSIDL values) the machine has a folder for; the rest
// (virtual folders such as the printers) have none.
const ShellFolder kShellFolders[] = {
    {0x00, "\\Desktop"},                                    // desktop
    {0x02, "\\Start Menu\\Programs"},                       // programs
    {0x05, "C:\\My Documents"},                             // personal
    {0x06, "\\Favorites"},                                  // favorites
    {0x07, "\\Start Menu\\Programs\\StartUp"},              // startup
    {0x08, "\\Recent"},                                     // recent
    {0x09, "\\SendTo"},                                     // send to
    {0x0b, "\\Start Menu"},                                 // start menu
    {0x0d, "C:\\My Documents\\My Music"},                   // music
    {0x0e, "C:\\My Documents\\My Videos"},                  // videos
    {0x10, "\\Desktop"},                                    // desktop directory
    {0x13, "\\NetHood"},                                    // network places
    {0x14, "\\Fonts"},                                      // fonts
    {0x15, "\\ShellNew"},                                   // templates
    {0x16, "\\Start Menu"},                                 // common start menu
    {0x17, "\\Start Menu\\Programs"},                       // common programs
    {0x18, "\\Start Menu\\Programs\\StartUp"},              // common startup
    {0x19, "\\Desktop"},                                    // common desktop
    {0x1a, "\\Application Data"},                           // application data
    {0x1b, "\\PrintHood"},                                  // printers' links
    {0x1c, "\\Local Settings\\Application Data"},           // local application data
    {0x1f, "\\Favorites"},                                  // common favorites
    {0x20, "\\Temporary Internet Files"},                   // internet cache
    {0x21, "\\Cookies"},                                    // cookies
    {0x22, "\\History"},                                    // history
    {0x23, "\\All Users\\Application Data"},                // common application data
    {0x24, ""},                                             // windows
    {0x25, "\\system32"},                                   // system
    {0x26, "C:\\Program Files"},                            // program files
    {0x27, "C:\\My Documents\\My Pictures"},                // pictures
    {0x29, "\\system32"},                                   // system (x86)
    {0x2a, "C:\\Program Files"},                            // program files (x86)
    {0x2b, "C:\\Program Files\\Common Files"},              // common files
    {0x2c, "C:\\Program Files\\Common Files"},              // common files (x86)
    {0x2d, "\\ShellNew"},                                   // common templates
    {0x2e, "C:\\My Documents"},                             // common documents
    {0x2f, "\\Start Menu\\Programs\\Administrative Tools"}, // common admin tools
    {0x30, "\\Start Menu\\Programs\\Administrative Tools"}, // admin tools
};

std::string WindowsDirectory() {
    char buffer[MAX_PATH] = {};
    UINT length = GetWindowsDirectoryA(buffer, sizeof buffer);
    return length > 0 && length < sizeof buffer ? std::string(buffer, length) : "C:\\WINDOWS";
}

// Creates the folder and the folders above it; true when it exists after.
bool CreateFolders(const std::string& path) {
    for (size_t slash = path.find('\\', 3); slash != std::string::npos;
         slash = path.find('\\', slash + 1)) {
        CreateDirectoryA(path.substr(0, slash).c_str(), nullptr);
    }
    CreateDirectoryA(path.c_str(), nullptr);
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize) {
    return pal::CopyOut(WindowsDirectory() + "\\system32", lpBuffer, uSize);
}

BOOL WINAPI SHGetSpecialFolderPathA(HWND, LPSTR pszPath, int csidl, BOOL fCreate) {
    if (pszPath == nullptr) {
        return FALSE;
    }
    for (const ShellFolder& folder : kShellFolders) {
        if (folder.id != (csidl & 0xFF)) {
            continue;
        }
        std::string path = folder.path;
        if (path.empty() || path[0] == '\\') {
            path = WindowsDirectory() + path;
        }
        if (path.size() >= MAX_PATH || (fCreate && !CreateFolders(path))) {
            return FALSE;
        }
        std::memcpy(pszPath, path.c_str(), path.size() + 1);
        return TRUE;
    }
    return FALSE;
}

void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime) {
    struct timeval now = {};
    gettimeofday(&now, nullptr);
    time_t seconds = now.tv_sec;
    struct tm utc = {};
    gmtime_r(&seconds, &utc);
    lpSystemTime->wYear = static_cast<WORD>(utc.tm_year + 1900);
    lpSystemTime->wMonth = static_cast<WORD>(utc.tm_mon + 1);
    lpSystemTime->wDayOfWeek = static_cast<WORD>(utc.tm_wday);
    lpSystemTime->wDay = static_cast<WORD>(utc.tm_mday);
    lpSystemTime->wHour = static_cast<WORD>(utc.tm_hour);
    lpSystemTime->wMinute = static_cast<WORD>(utc.tm_min);
    lpSystemTime->wSecond = static_cast<WORD>(utc.tm_sec);
    lpSystemTime->wMilliseconds = static_cast<WORD>(now.tv_usec / 1000);
}
