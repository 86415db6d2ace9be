// The guard rails' tables and rules: well-known registry keys and protected
// folders. One table of each kind, here and nowhere else.
#include "ktGuardRails.h"

#include "ktFileIdentity.h"
#include "ktFileUtils.h"
#include "ktPathNames.h"
#include "ktPlatform.h"
#include "ktRegKeyForm.h"
#include "ktRegIni.h"
#include "ktText.h"
#include "winapi.h"

#include <iterator>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

// ---- Registry ---------------------------------------------------------------

// Keys that an uninstall never deletes with everything below them, written
// in the form the rules below bring every spelling to: the classes as
// HKLM\SOFTWARE\Classes, the 32-bit view without its Wow6432Node, every
// ControlSet00N as CurrentControlSet. Each key's ancestors are protected
// too. Besides this table every root, every key directly below HKLM, HKCU
// and HKU (each user's key), and every key directly below the user's
// Control Panel is protected.
const char* const kWellKnownKeys[] = {
    // The classes (HKCR), the user's as well as the machine's.
    "HKLM\\SOFTWARE\\Classes\\*\\shell",
    "HKLM\\SOFTWARE\\Classes\\*\\shellex\\ContextMenuHandlers",
    "HKLM\\SOFTWARE\\Classes\\*\\shellex\\PropertySheetHandlers",
    "HKLM\\SOFTWARE\\Classes\\AllFilesystemObjects\\shellex\\ContextMenuHandlers",
    "HKLM\\SOFTWARE\\Classes\\AppID",
    "HKLM\\SOFTWARE\\Classes\\Applications",
    "HKLM\\SOFTWARE\\Classes\\CLSID",
    "HKLM\\SOFTWARE\\Classes\\Directory\\Background\\shellex\\ContextMenuHandlers",
    "HKLM\\SOFTWARE\\Classes\\Directory\\shell",
    "HKLM\\SOFTWARE\\Classes\\Directory\\shellex\\ContextMenuHandlers",
    "HKLM\\SOFTWARE\\Classes\\Drive\\shellex\\ContextMenuHandlers",
    "HKLM\\SOFTWARE\\Classes\\Folder\\shell",
    "HKLM\\SOFTWARE\\Classes\\Folder\\shellex\\ContextMenuHandlers",
    "HKLM\\SOFTWARE\\Classes\\Interface",
    "HKLM\\SOFTWARE\\Classes\\MIME\\Database\\Content Type",
    "HKLM\\SOFTWARE\\Classes\\SystemFileAssociations",
    "HKLM\\SOFTWARE\\Classes\\TypeLib",
    "HKLM\\SOFTWARE\\Classes\\Unknown",
    "HKLM\\SOFTWARE\\Classes\\.bat",
    "HKLM\\SOFTWARE\\Classes\\.cmd",
    "HKLM\\SOFTWARE\\Classes\\.com",
    "HKLM\\SOFTWARE\\Classes\\.dll",
    "HKLM\\SOFTWARE\\Classes\\.exe",
    "HKLM\\SOFTWARE\\Classes\\.htm",
    "HKLM\\SOFTWARE\\Classes\\.html",
    "HKLM\\SOFTWARE\\Classes\\.ini",
    "HKLM\\SOFTWARE\\Classes\\.lnk",
    "HKLM\\SOFTWARE\\Classes\\.reg",
    "HKLM\\SOFTWARE\\Classes\\.txt",
    "HKLM\\SOFTWARE\\Classes\\batfile",
    "HKLM\\SOFTWARE\\Classes\\exefile",
    "HKLM\\SOFTWARE\\Classes\\htmlfile",
    "HKLM\\SOFTWARE\\Classes\\lnkfile",
    "HKLM\\SOFTWARE\\Classes\\txtfile",
    "HKLM\\SOFTWARE\\Classes\\http",
    "HKLM\\SOFTWARE\\Classes\\https",
    // The machine's software (and its 32-bit view).
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths",
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ShellIconOverlayIdentifiers",
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Browser Helper Objects",
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer",
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies",
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx",
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunServices",
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved",
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\AppCompatFlags",
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts",
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes",
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options",
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Windows",
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
    "HKLM\\SOFTWARE\\Microsoft\\Cryptography",
    "HKLM\\SOFTWARE\\Microsoft\\Internet Explorer",
    "HKLM\\SOFTWARE\\Microsoft\\.NETFramework",
    "HKLM\\SOFTWARE\\Policies\\Microsoft",
    // The system: every control set as CurrentControlSet.
    "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Class",
    "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Lsa",
    "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Nls",
    "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Print",
    "HKLM\\SYSTEM\\CurrentControlSet\\Control\\SafeBoot",
    "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
    "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Terminal Server",
    "HKLM\\SYSTEM\\CurrentControlSet\\Enum",
    "HKLM\\SYSTEM\\CurrentControlSet\\Hardware Profiles",
    "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application",
    "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\System",
    "HKLM\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters",
    // The user's settings (and each user's below HKU). Every key directly
    // below Control Panel is protected by rule; these lie deeper.
    "HKCU\\Control Panel\\Accessibility\\HighContrast",
    "HKCU\\Control Panel\\Accessibility\\Keyboard Preference",
    "HKCU\\Control Panel\\Accessibility\\Keyboard Response",
    "HKCU\\Control Panel\\Accessibility\\MouseKeys",
    "HKCU\\Control Panel\\Accessibility\\ShowSounds",
    "HKCU\\Control Panel\\Accessibility\\SoundSentry",
    "HKCU\\Control Panel\\Accessibility\\StickyKeys",
    "HKCU\\Control Panel\\Accessibility\\TimeOut",
    "HKCU\\Control Panel\\Accessibility\\ToggleKeys",
    "HKCU\\Control Panel\\Appearance\\Schemes",
    "HKCU\\Control Panel\\Cursors\\Schemes",
    "HKCU\\Control Panel\\Desktop\\WindowMetrics",
    "HKCU\\Control Panel\\Input Method\\Hot Keys",
    "HKCU\\Control Panel\\International\\Geo",
    "HKCU\\Control Panel\\PowerCfg\\PowerPolicies",
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\App Paths",
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies",
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
    "HKCU\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows",
    "HKCU\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
    "HKCU\\Software\\Policies\\Microsoft",
    "HKCU\\AppEvents\\Schemes\\Apps",
    "HKCU\\Keyboard Layout\\Preload",
};

// Every well-known key and every ancestor of one, upper-cased.
const std::unordered_set<std::string>& ProtectedKeys() {
    static const std::unordered_set<std::string> keys = [] {
        std::unordered_set<std::string> result;
        for (const char* entry : kWellKnownKeys) {
            std::string key = UpperCase(entry);
            for (;;) {
                result.insert(key);
                size_t slash = key.rfind('\\');
                if (slash == std::string::npos) {
                    break;
                }
                key.resize(slash);
            }
        }
        return result;
    }();
    return keys;
}

const char* RootName(HKEY root) {
    if (root == HKEY_CLASSES_ROOT) {
        return "HKLM\\SOFTWARE\\Classes";
    }
    if (root == HKEY_CURRENT_USER) {
        return "HKCU";
    }
    if (root == HKEY_LOCAL_MACHINE) {
        return "HKLM";
    }
    if (root == HKEY_USERS) {
        return "HKU";
    }
    return nullptr;
}

// ---- Folders ------------------------------------------------------------------

// Folders that Windows creates below the Start menu's Programs, the user's
// and all users', from the 95 family to today's systems. Names compare
// without regard to case ("StartUp" on the 95 family is "Startup").
const char* const kProgramsFolders[] = {
    // Since the 95 family.
    "Accessories",
    "Accessories\\Communications",
    "Accessories\\Entertainment",
    "Accessories\\Fax",
    "Accessories\\Games",
    "Accessories\\HyperTerminal",
    "Accessories\\Internet Tools",
    "Accessories\\Multimedia",
    "Accessories\\System Tools",
    "Online Services",
    "StartUp",
    // Since Windows 2000 and XP.
    "Accessories\\Accessibility",
    "Administrative Tools",
    "Games",
    "Tablet PC",
    // Since Windows Vista and 7.
    "Accessories\\Ease of Access",
    "Accessories\\Tablet PC",
    "Accessories\\Windows PowerShell",
    "Extras and Upgrades",
    "Maintenance",
    // Since Windows 8, 10 and 11.
    "Accessibility",
    "System Tools",
    "Windows Accessories",
    "Windows Administrative Tools",
    "Windows Ease of Access",
    "Windows PowerShell",
    "Windows System",
    "Windows Tools",
};

// Environment variables that name system folders: the temporary folders,
// the profiles and the shared data.
const char* const kFolderVariables[] = {
    "TEMP",
    "TMP",
    "USERPROFILE",
    "ALLUSERSPROFILE",
    "PUBLIC",
    "ProgramData",
    "ProgramFiles",
    "ProgramFiles(x86)",
    "ProgramW6432",
    "APPDATA",
    "LOCALAPPDATA",
    "CommonProgramFiles",
    "SystemRoot",
    "windir",
    "CommonProgramFiles(x86)",
};

// Variables and shell folders whose parent holds every user's profile.
const char* const kProfileVariables[] = {"USERPROFILE", "PUBLIC"};
const int kProfileFolder = 0x28;      // CSIDL_PROFILE
const int kCommonDocuments = 0x2e;    // CSIDL_COMMON_DOCUMENTS, in Public
const int kPrograms[] = {0x02, 0x17}; // CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS

// A variable's folder: only a full path with a drive counts (a variable
// that the system did not set may hold anything).
std::string Variable(const char* name) {
    char buffer[MAX_PATH + 1] = {};
    DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    if (length < 3 || length >= sizeof buffer || buffer[1] != ':' ||
        (buffer[2] != '\\' && buffer[2] != '/')) {
        return std::string();
    }
    return std::string(buffer, length);
}

std::string ShellFolder(int folder) {
    char buffer[MAX_PATH + 1] = {};
    return SHGetSpecialFolderPathA(nullptr, buffer, folder, FALSE) ? std::string(buffer)
                                                                   : std::string();
}

std::string SystemDirectory() {
    char buffer[MAX_PATH + 1] = {};
    UINT length = GetSystemDirectoryA(buffer, MAX_PATH);
    return length > 0 && length <= MAX_PATH ? std::string(buffer, length) : std::string();
}

std::string TempDirectory() {
    char buffer[MAX_PATH + 1] = {};
    DWORD length = GetTempPathA(sizeof buffer, buffer);
    return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
}

// The form a folder is compared in: normalised (namespace prefixes gone),
// "/" as "\", upper case, without a trailing backslash.
std::string FolderKey(const std::string& path) {
    return NormalizeFilePath(NormalizedFolderPath(path));
}

std::string ParentKey(const std::string& key) {
    size_t slash = key.rfind('\\');
    return slash == std::string::npos ? std::string() : key.substr(0, slash);
}

bool IsDriveRoot(const std::string& key) {
    if (key.empty()) {
        return true; // a root such as "\" loses its only backslash
    }
    if (key.size() == 2 && key[1] == ':') {
        return true;
    }
    // "\\server\share" is the root of a network drive.
    if (key.size() > 2 && key[0] == '\\' && key[1] == '\\') {
        size_t slash = key.find('\\', 2);
        return slash == std::string::npos || key.find('\\', slash + 1) == std::string::npos;
    }
    return false;
}

struct TFolderTables {
    std::vector<std::string> paths; // as the system names them
    std::unordered_set<std::string> folders;
    // Folders whose every child is a user's profile.
    std::unordered_set<std::string> profileParents;
    // The same by identity (NT family): the protected folders themselves,
    // and the folders the profile parents lead to.
    std::unordered_set<TFileId, TFileIdHash> folderIds;
    std::unordered_set<TFileId, TFileIdHash> profileParentIds;
    // The last names of those folders, upper-cased: another name of a
    // folder ends in the same name (see IsProtectedFolderById).
    std::unordered_set<std::string> folderNames;
    std::unordered_set<std::string> profileParentNames;
};

// The last part of a folder's key ("C:\\A\\B" gives "B").
std::string LastName(const std::string& key) {
    size_t slash = key.find_last_of("\\/");
    return slash == std::string::npos ? key : key.substr(slash + 1);
}

// Folder identifiers 0 to 0x3F cover every shell folder the system knows;
// the ones it cannot name are skipped.
const TFolderTables& FolderTables() {
    static const TFolderTables tables = [] {
        TFolderTables result;
        std::string windows = GetWindowsDir();
        std::vector<std::string> paths = {windows, SystemDirectory(), TempDirectory()};
        if (!windows.empty()) {
            paths.push_back(AddBackslash(windows) + "Temp");
        }
        for (int folder = 0; folder <= 0x3F; ++folder) {
            paths.push_back(ShellFolder(folder));
        }
        for (const char* name : kFolderVariables) {
            paths.push_back(Variable(name));
        }
        for (int folder : kPrograms) {
            std::string programs = ShellFolder(folder);
            for (const char* name : kProgramsFolders) {
                if (!programs.empty()) {
                    paths.push_back(AddBackslash(programs) + name);
                }
            }
        }
        std::vector<std::string> profiles = {ShellFolder(kProfileFolder),
                                             ShellFolder(kCommonDocuments)};
        for (const char* name : kProfileVariables) {
            profiles.push_back(Variable(name));
        }
        for (const std::string& path : paths) {
            if (!path.empty() && result.folders.insert(FolderKey(path)).second) {
                result.paths.push_back(path);
            }
        }
        for (size_t i = 0; i < profiles.size(); ++i) {
            std::string key = profiles[i].empty() ? std::string() : FolderKey(profiles[i]);
            // Public documents lie one level deeper than a profile.
            std::string parent = ParentKey(i == 1 ? ParentKey(key) : key);
            if (!key.empty() && !IsDriveRoot(parent)) {
                result.profileParents.insert(parent);
                if (result.folders.insert(parent).second) {
                    result.paths.push_back(parent);
                }
            }
        }
        // (Empty on the 95 family, which opens no folder.)
        TFileId id;
        for (const std::string& path : result.paths) {
            if (FolderIdOf(path, true, id)) {
                result.folderIds.insert(id);
                result.folderNames.insert(LastName(FolderKey(path)));
            }
        }
        for (const std::string& parent : result.profileParents) {
            if (FolderIdOf(parent, false, id)) {
                result.profileParentIds.insert(id);
                result.profileParentNames.insert(LastName(parent));
            }
        }
        return result;
    }();
    return tables;
}

// Names that no lexical rule brings to a protected folder's, yet reach it:
// a drive letter made with SUBST, a share of the local disk, a volume's own
// name ("\\?\Volume{...}\"), a short name given explicitly, the native
// layer's own paths. The folder removal would take the name itself, so a
// link or junction counts as itself; but a profile's parent is the folder
// its name leads to, since every name below it leads there too.
// Each of those names ends in the folder's own last name (a drive or share
// that is the folder itself is a root, protected already), so only a folder
// of such a name is opened: the folders of an installation cost nothing.
// A short name that the system made holds a "~" and is taken back to its
// long form (NormalizedPath); one given by hand (which takes the restore
// privilege) is not looked through.
// The verdicts on parents are kept in `parents` (by the parent's key): the
// folders of an installation share a few.
bool IsProtectedFolderById(const TFolderTables& tables, std::string folder,
                           std::unordered_map<std::string, bool>& parents) {
    while (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/')) {
        folder.pop_back();
    }
    TFileId id;
    if (tables.folderNames.count(LastName(NormalizeFilePath(folder))) != 0 &&
        FolderIdOf(folder, true, id) && tables.folderIds.count(id) != 0) {
        return true;
    }
    size_t cut = folder.find_last_of("\\/");
    std::string parent = cut == std::string::npos ? std::string() : folder.substr(0, cut);
    std::string parentKey = NormalizeFilePath(parent);
    if (IsDriveRoot(parentKey) || tables.profileParentNames.count(LastName(parentKey)) == 0) {
        return false;
    }
    auto known = parents.find(parentKey);
    if (known != parents.end()) {
        return known->second;
    }
    bool profiles = FolderIdOf(parent, false, id) && tables.profileParentIds.count(id) != 0;
    parents.emplace(parentKey, profiles);
    return profiles;
}

} // namespace

std::string NormalizeFilePath(const std::string& path) {
    std::string result = path;
    for (char& c : result) {
        if (c == '/') {
            c = '\\';
        }
    }
    while (!result.empty() && result.back() == '\\') {
        result.pop_back();
    }
    return UpperCase(result);
}

// A key has no other spellings than these: the registry applies no "." or
// "..", and keeps the blanks and dots around a name as part of it ("Run "
// is a key of its own beside "Run"), so each part is compared as it
// stands, letter case apart.
std::string CanonicalRegKey(const std::string& keyPath) {
    HKEY root = nullptr;
    std::string subKey;
    std::string valueName;
    // The key part of the path with a backslash added is exactly what a
    // deletion of the key would open (empty parts already dropped).
    SplitRegPath(AddBackslash(keyPath), root, subKey, valueName);
    const char* rootName = RootName(root);
    if (rootName == nullptr) {
        return std::string();
    }
    std::string key = rootName;
    if (!subKey.empty()) {
        key += '\\';
        key += subKey;
    }
    return UpperCase(key);
}

bool IsProtectedRegKey(const std::string& keyPath) {
    std::string key = CanonicalRegKey(keyPath);
    if (key.empty()) {
        return false; // a path without a root deletes nothing anyway
    }
    std::vector<std::string> parts = KeyTableForm(key);
    if (parts.size() <= 2 && (parts[0] == "HKLM" || parts[0] == "HKCU" || parts[0] == "HKU")) {
        return true; // a root, or a key directly below one
    }
    // The user's Control Panel holds Windows' settings, one key for each
    // kind, and each version of Windows adds kinds of its own.
    if (parts.size() <= 3 && KeyBegins(parts, {"HKCU", "CONTROL PANEL"})) {
        return true;
    }
    std::string joined = parts[0];
    for (size_t i = 1; i < parts.size(); ++i) {
        joined += '\\' + parts[i];
    }
    return ProtectedKeys().count(joined) != 0;
}

bool IsProtectedDirectory(const std::string& path) {
    return TProtectedFolders().IsProtected(path);
}

bool TProtectedFolders::IsProtected(const std::string& path) {
    // "X:" alone names drive X's current directory: a root all the same.
    if (IsDriveRoot(NormalizeFilePath(path))) {
        return true;
    }
    std::string folder = NormalizedFolderPath(path);
    std::string key = NormalizeFilePath(folder);
    if (IsDriveRoot(key)) {
        return true;
    }
    const TFolderTables& tables = FolderTables();
    if (tables.folders.count(key) != 0 || tables.profileParents.count(ParentKey(key)) != 0) {
        return true;
    }
    return IsNtFamily() && IsProtectedFolderById(tables, folder, parents_);
}

std::vector<std::string> WellKnownRegKeys() {
    return std::vector<std::string>(std::begin(kWellKnownKeys), std::end(kWellKnownKeys));
}

std::vector<std::string> ProtectedFolders() {
    return FolderTables().paths;
}
