// The guard rails: every protected key and folder stays protected in every
// spelling that names it, what lies below them stays removable, and the
// ledger declines, fails or removes accordingly.
#include "TestSupport.h"
#include "ktFileUtils.h"
#include "ktGuardRails.h"
#include "ktHandle.h"
#include "ktLedger.h"
#include "ktPathNames.h"
#include "ktPlatform.h"
#include "ktReport.h"
#include "ktText.h"

#include <cctype>
#include <string>
#include <vector>

namespace {

std::string Replace(std::string text, const std::string& from, const std::string& to,
                    size_t start = 0) {
    for (size_t at = text.find(from, start); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

bool StartsWith(const std::string& text, const std::string& head) {
    return UpperCase(text.substr(0, head.size())) == UpperCase(head);
}

// Other names of the key a registry path names: letter case, a trailing or
// doubled backslash, and the mirrors that show the same key or its twin.
std::vector<std::string> KeySpellings(const std::string& key) {
    size_t root = key.find('\\');
    std::string rest = root == std::string::npos ? "" : key.substr(root + 1);
    std::vector<std::string> names = {key, key + "\\", key.substr(0, root) + "\\" + Lower(rest),
                                      key.substr(0, root) + "\\\\" + rest + "\\\\",
                                      Replace(key, "\\", "\\\\")};
    auto mirror = [&](const std::string& from, const std::vector<std::string>& to) {
        if (StartsWith(key, from)) {
            for (const std::string& head : to) {
                names.push_back(head + key.substr(from.size()));
            }
        }
    };
    mirror("HKLM\\SOFTWARE\\Classes\\",
           {"HKCR\\", "HKCR\\Wow6432Node\\", "HKCU\\Software\\Classes\\",
            "HKLM\\SOFTWARE\\Wow6432Node\\Classes\\", "HKU\\S-1-5-21-7_Classes\\"});
    if (!StartsWith(key, "HKLM\\SOFTWARE\\Classes\\")) {
        mirror("HKLM\\SOFTWARE\\", {"HKLM\\SOFTWARE\\Wow6432Node\\"});
    }
    mirror("HKLM\\SYSTEM\\CurrentControlSet\\",
           {"HKLM\\SYSTEM\\ControlSet001\\", "HKLM\\SYSTEM\\ControlSet002\\"});
    mirror("HKCU\\", {"HKU\\S-1-5-21-7\\", "HKU\\.DEFAULT\\"});
    return names;
}

// What the review found removed, and what every table entry stands for.
const char* const kMustBeProtected[] = {
    "HKLM",
    "HKCR",
    "HKU",
    "HKU\\S-1-5-18",
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT",
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Image File Execution Options",
    "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts",
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
    "HKLM\\SAM",
    "HKLM\\HARDWARE",
    "HKLM\\SYSTEM\\CurrentControlSet",
    "HKLM\\SYSTEM\\ControlSet003\\Services",
    "HKLM\\SYSTEM\\CurrentControlSet\\Control",
    "HKLM\\SOFTWARE\\Classes\\CLSID",
    "HKLM\\SOFTWARE\\Classes\\*",
    "HKCU\\Environment",
    "HKCU\\Control Panel",
    "HKCU\\Control Panel\\Desktop",
    "HKCU\\Control Panel\\International",
    "HKCU\\Control Panel\\Keyboard",
    "HKCU\\Control Panel\\Mouse",
    "HKCU\\Control Panel\\Colors",
    // Children of the Control Panel that the table does not name.
    "HKCU\\Control Panel\\Bluetooth",
    "HKCU\\Control Panel\\Don't Load",
    "HKCU\\Control Panel\\Personalization",
    "HKCU\\Control Panel\\TimeDate",
    "HKCU\\Control Panel\\Any Kind Windows Adds Later",
    "HKCU\\Control Panel\\Accessibility\\StickyKeys",
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
};

// Keys below the protected ones that an installation may own.
const char* const kRemovable[] = {
    "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vantrel",
    "HKLM\\SOFTWARE\\Classes\\CLSID\\{00000000-0000-0000-0000-000000000001}",
    "HKLM\\SOFTWARE\\Classes\\.vtl",
    "HKLM\\SOFTWARE\\Classes\\*\\shellex\\ContextMenuHandlers\\Vantrel",
    "HKLM\\SOFTWARE\\Vantrel\\Settings",
    "HKLM\\SYSTEM\\CurrentControlSet\\Services\\VantrelService",
    "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Vantrel",
    "HKCU\\Software\\Vantrel",
    "HKCU\\Control Panel\\Desktop\\Vantrel",
    "HKCU\\Control Panel\\Any Kind\\Vantrel",
    "HKCU\\Software\\Vantrel\\Control Panel\\Desktop",
    // A class of that name is no user's settings.
    "HKLM\\SOFTWARE\\Classes\\Control Panel",
};

TEST(GuardRails, EveryProtectedKeyInEverySpelling) {
    std::vector<std::string> keys = WellKnownRegKeys();
    keys.insert(keys.end(), std::begin(kMustBeProtected), std::end(kMustBeProtected));
    ASSERT_GT(keys.size(), 60u);
    for (const std::string& key : keys) {
        for (const std::string& spelling : KeySpellings(key)) {
            EXPECT_TRUE(IsProtectedRegKey(spelling)) << spelling;
        }
    }
    for (const char* key : kRemovable) {
        for (const std::string& spelling : KeySpellings(key)) {
            EXPECT_FALSE(IsProtectedRegKey(spelling)) << spelling;
        }
    }
    // A root abbreviation is exact: these name no key at all.
    for (const char* path : {"hklm\\SOFTWARE", "HKEY_LOCAL_MACHINE\\SOFTWARE", "NOROOT"}) {
        EXPECT_FALSE(IsProtectedRegKey(path)) << path;
    }
}

// The folders below the Start menu's Programs that some Windows creates.
const char* const kWindowsProgramsFolders[] = {
    "Accessibility",
    "Accessories",
    "Accessories\\Accessibility",
    "Accessories\\Ease of Access",
    "Accessories\\Games",
    "Accessories\\HyperTerminal",
    "Accessories\\Internet Tools",
    "Accessories\\Multimedia",
    "Accessories\\System Tools",
    "Accessories\\Tablet PC",
    "Administrative Tools",
    "Maintenance",
    "Online Services",
    "StartUp",
    "Startup",
    "System Tools",
    "Tablet PC",
    "Windows Accessories",
    "Windows Administrative Tools",
    "Windows Ease of Access",
    "Windows PowerShell",
    "Windows System",
    "Windows Tools",
};

// Other names of a folder: letter case, "/" and doubled separators, a
// trailing separator, ".", a detour through "..", trailing dots and
// blanks, the short form, and the namespace prefixes that the file calls
// accept before a drive.
std::vector<std::string> FolderSpellings(const std::string& path) {
    size_t cut = path.find_last_of('\\');
    std::string name = path.substr(cut + 1);
    std::vector<std::string> names = {path,
                                      UpperCase(path),
                                      Lower(path),
                                      path + "\\",
                                      Replace(path, "\\", "/"),
                                      Replace(path, "\\", "\\\\", 2),
                                      path + "\\.",
                                      path + "\\..\\" + name,
                                      path + ". .",
                                      path.substr(0, cut + 1) + ".\\" + name,
                                      GetShortPath(path),
                                      "\\\\?\\" + path,
                                      "\\\\?\\" + Lower(path) + "\\",
                                      "\\\\.\\" + path,
                                      "\\\\.\\" + path + "\\..\\" + name,
                                      "\\\\?\\Q:\\..\\" + path,
                                      "\\??\\" + path,
                                      "//?/" + Replace(path, "\\", "/"),
                                      "\\\\?\\" + GetShortPath(path)};
    return names;
}

TEST(GuardRails, EveryProtectedFolderInEverySpelling) {
    std::string windows = GetWindowsDir();
    char buffer[MAX_PATH + 1] = {};
    ASSERT_GT(GetTempPathA(sizeof buffer, buffer), 0u);
    std::string temp = RemoveBackslash(buffer);
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, buffer, 0x02, FALSE)); // Programs menu
    std::string programs = buffer;
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, buffer, 0x26, FALSE)); // Program Files
    std::string programFiles = buffer;
    ASSERT_TRUE(SHGetSpecialFolderPathA(nullptr, buffer, 0x17, FALSE)); // all users' Programs
    std::string commonPrograms = buffer;
    std::vector<std::string> folders = ProtectedFolders();
    for (const std::string& path : {windows, windows + "\\Temp", temp, programFiles}) {
        folders.push_back(path);
    }
    for (const std::string& menu : {programs, commonPrograms}) {
        for (const char* name : kWindowsProgramsFolders) {
            folders.push_back(menu + "\\" + name);
        }
    }
    ASSERT_GT(folders.size(), 20u);
    for (const std::string& folder : folders) {
        for (const std::string& spelling : FolderSpellings(folder)) {
            EXPECT_TRUE(IsProtectedDirectory(spelling)) << spelling << " (" << folder << ")";
        }
    }
    // A detour from one protected folder to another.
    EXPECT_TRUE(IsProtectedDirectory(windows + "\\Temp\\..\\system32"));
    EXPECT_TRUE(IsProtectedDirectory(programFiles + "\\Vantrel\\.."));
    for (const char* path : {"C:\\", "c:", "D:/", "\\", "C:\\..", "C:\\Windows\\..\\.\\",
                             "\\\\server\\share", "\\\\server\\share\\app\\..", "\\\\?\\C:\\",
                             "\\\\.\\d:", "\\??\\C:\\", "\\\\?\\UNC\\server\\share",
                             "\\\\.\\unc\\server\\share\\app\\..", "\\??\\UNC\\server\\share\\"}) {
        EXPECT_TRUE(IsProtectedDirectory(path)) << path;
    }
    for (const std::string& path :
         {programFiles + "\\Vantrel", programs + "\\Vantrel", windows + "\\Vantrel",
          temp + "\\Vantrel", programs + "\\Accessories\\Vantrel",
          std::string("\\\\server\\share\\app"), "\\\\?\\" + programFiles + "\\Vantrel",
          std::string("\\\\?\\UNC\\server\\share\\app")}) {
        EXPECT_FALSE(IsProtectedDirectory(path)) << path;
        EXPECT_FALSE(IsProtectedDirectory(path + "\\.")) << path;
    }
}

// The folder as the host shows it: natively the machine folder's own path,
// under Wine the Z: drive, which shows the host's whole tree. Names that no
// lexical rule brings to the folder's, as a SUBST drive, a share of the
// local disk or a volume's own name are on Windows.
std::string HostName(const std::string& path) {
    auto variable = [](const char* name) {
        char buffer[MAX_PATH + 1] = {};
        DWORD length = GetEnvironmentVariableA(name, buffer, sizeof buffer);
        return length < sizeof buffer ? std::string(buffer, length) : std::string();
    };
    bool wine = UnderWine();
    std::string machine = variable(wine ? "WINEPREFIX" : "VANTREL_ROOT");
    if (machine.empty() && !wine) {
        machine = variable("HOME") + "/.local/share/vantrel/machine";
    }
    std::string host = machine + "/drive_" +
                       static_cast<char>(tolower(static_cast<unsigned char>(path[0]))) +
                       Replace(path.substr(2), "\\", "/");
    return wine ? "Z:" + Replace(host, "/", "\\") : host;
}

TEST(GuardRails, AProtectedFolderIsKnownByItselfUnderAnyName) {
    char system[MAX_PATH + 1] = {};
    ASSERT_GT(GetSystemDirectoryA(system, sizeof system), 0u);
    char temp[MAX_PATH + 1] = {};
    ASSERT_GT(GetTempPathA(sizeof temp, temp), 0u);
    std::vector<std::string> folders = {GetWindowsDir(), RemoveBackslash(temp)};
    if (PathExists(system)) {
        folders.push_back(system); // natively only made when a test needs it
    }
    for (const std::string& folder : folders) {
        ASSERT_TRUE(PathExists(folder)) << folder;
        std::string other = HostName(folder);
        ASSERT_TRUE(PathExists(other)) << other;
        EXPECT_TRUE(IsProtectedDirectory(other)) << other;
        EXPECT_TRUE(IsProtectedDirectory(other + "\\")) << other;
    }
    // A folder of one's own stays removable under its other name.
    std::string mine = GetWindowsDir() + "\\Vantrel guard test";
    ASSERT_TRUE(CreateDirectoryA(mine.c_str(), nullptr) || PathExists(mine));
    EXPECT_FALSE(IsProtectedDirectory(HostName(mine)));
    RemoveDirectoryA(mine.c_str());
}

// Each user's profile is protected as a child of the folder that holds the
// profiles, whichever user it is.
TEST(GuardRails, ProfilesAndTheirParentAreProtected_NativeMachineHasNoProfiles) {
    char buffer[MAX_PATH + 1] = {};
    if (!SHGetSpecialFolderPathA(nullptr, buffer, 0x28, FALSE)) { // CSIDL_PROFILE
        GTEST_SKIP() << "a machine of the 95 family has no profile folders";
    }
    std::string profile = NormalizedPath(buffer);
    std::string parent = profile.substr(0, profile.find_last_of('\\'));
    for (const std::string& path : {profile, parent, parent + "\\Another User", parent + "\\Public",
                                    profile + "\\..\\Default"}) {
        EXPECT_TRUE(IsProtectedDirectory(path)) << path;
    }
    EXPECT_FALSE(IsProtectedDirectory(profile + "\\Vantrel"));
}

class FolderNames : public TempDirTest {
  protected:
    void TearDown() override {
        SetPlatformId(PlatformVersion().dwPlatformId);
        TempDirTest::TearDown();
    }
    static bool EndsWith(const std::string& text, const std::string& end) {
        return text.size() >= end.size() &&
               text.compare(text.size() - end.size(), end.size(), end) == 0;
    }
};

// A folder's name is asked for its long form on the 95 family even without
// a "~" (an alias formed there without its numeric tail has none), which
// shows in the name's letter case on disk; on the NT family, and for a
// file's path on both, a name without a "~" costs no walk of its folders.
TEST_F(FolderNames, LongFormAskedWhereAnAliasCanLackATilde) {
    ASSERT_TRUE(CreateDirectoryA(PathOf("MyDir").c_str(), nullptr));
    const std::string asked = PathOf("MYDIR");
    SetPlatformId(VER_PLATFORM_WIN32_WINDOWS);
    EXPECT_TRUE(EndsWith(NormalizedFolderPath(asked), "\\MyDir")) << NormalizedFolderPath(asked);
    EXPECT_TRUE(EndsWith(NormalizedPath(asked), "\\MYDIR")) << NormalizedPath(asked);
    SetPlatformId(VER_PLATFORM_WIN32_NT);
    EXPECT_TRUE(EndsWith(NormalizedFolderPath(asked), "\\MYDIR")) << NormalizedFolderPath(asked);
}

class GuardedLedger : public TempRegTest {
  protected:
    void TearDown() override {
        report_.Close();
        Ledger().Start(false, nullptr);
        TempRegTest::TearDown();
    }
    void Start(bool preview) {
        ASSERT_TRUE(report_.Create(PathOf("report.jsonl")));
        Ledger().Start(preview, &report_);
        Ledger().SetPhase("CreateKeys");
    }
    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        std::string bytes = ReadBytes(PathOf("report.jsonl"));
        for (size_t start = 0, end; start < bytes.size(); start = end + 1) {
            end = bytes.find('\n', start);
            lines.push_back(bytes.substr(start, end - start));
        }
        return lines;
    }
    void MakeKey(const std::string& subKey) {
        TScopedRegKey key;
        ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, subKey.c_str(), key.Receive()), ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key.Get(), "", 0, REG_SZ, reinterpret_cast<const BYTE*>("d"), 2),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key.Get(), "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2),
                  ERROR_SUCCESS);
    }
    bool KeyThere(const std::string& subKey) {
        TScopedRegKey key;
        return RegOpenKeyA(HKEY_CURRENT_USER, subKey.c_str(), key.Receive()) == ERROR_SUCCESS;
    }
    TReportFile report_;
};

struct KeyEntryCase {
    const char* path; // after the test's key; "%" stands for its path
    bool keyEntry;    // from a section of keys
    const char* outcome;
    bool keyStays; // the test's "App" key
};

const KeyEntryCase kKeyEntries[] = {
    // In a section of keys a trailing backslash names the key itself.
    {"%\\App\\", true, "removed", false},
    // Among values it names the default value alone.
    {"%\\App\\", false, "removed", true},
    // Doubled backslashes name the same key.
    {"%\\\\App\\\\", true, "removed", false},
    {"%\\\\App", true, "removed", false},
    // A root abbreviation in another case names no key: nothing goes.
    {"hkcu\\%\\App", true, "failed", true},
    {"HKEY_CURRENT_USER\\%\\App\\", true, "failed", true},
    {"HKCU\\\\Software", true, "declined", true},
};

TEST_F(GuardedLedger, KeyEntriesNameTheKeyTheSystemWould) {
    for (bool preview : {true, false}) {
        for (const KeyEntryCase& c : kKeyEntries) {
            std::string path = c.path;
            // A path with a root of its own takes the key without its root.
            bool ownRoot = path[0] != '%';
            path = Replace(path, "%", ownRoot ? SubKey() : KeyPath());
            SCOPED_TRACE(path + (preview ? " (preview)" : ""));
            MakeKey(SubKey() + "\\App\\Sub");
            MakeKey(SubKey() + "\\App");
            Start(preview);
            Ledger().RemoveRegistryEntry(path + "=", path, c.keyEntry);
            std::vector<std::string> lines = Lines();
            ASSERT_EQ(lines.size(), 1u);
            std::string outcome = std::string(preview ? "would-" : "") + c.outcome;
            EXPECT_NE(lines[0].find("\"outcome\":\"" + outcome + "\""), std::string::npos)
                << lines[0];
            EXPECT_EQ(KeyThere(SubKey() + "\\App"), preview || c.keyStays);
            EXPECT_EQ(KeyThere(SubKey() + "\\App\\Sub"), preview || c.keyStays);
            if (std::string(c.outcome) == "failed") {
                EXPECT_NE(lines[0].find("\"message\":\"Unknown registry root"), std::string::npos)
                    << lines[0];
            }
            report_.Close();
        }
    }
}

TEST_F(GuardedLedger, ProtectedFolderDeclinedInAnySpelling) {
    std::string windows = GetWindowsDir();
    std::string temp = windows + "\\Temp";
    bool made = CreateDirectoryA(temp.c_str(), nullptr) != FALSE;
    ASSERT_TRUE(PathExists(temp));
    std::string mine = PathOf("mine");
    ASSERT_TRUE(CreateDirectoryA(mine.c_str(), nullptr));
    Start(false);
    Ledger().SetPhase("CreateDirs");
    for (const std::string& path :
         {temp + "\\.", windows + "\\system32\\..\\Temp", windows + "\\\\Temp\\", temp + ". ",
          Replace(temp, "\\", "/"), mine + "\\..\\mine\\."}) {
        Ledger().RemoveDirectoryEntry(path + "=", path);
    }
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 6u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_NE(lines[i].find("\"outcome\":\"declined\""), std::string::npos) << lines[i];
    }
    EXPECT_NE(lines[5].find("\"outcome\":\"removed\""), std::string::npos) << lines[5];
    EXPECT_TRUE(PathExists(temp));
    EXPECT_FALSE(PathExists(mine));
    if (made) {
        RemoveDirectoryA(temp.c_str());
    }
}

} // namespace
