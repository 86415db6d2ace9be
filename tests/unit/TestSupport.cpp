#include "TestSupport.h"

#include "ktHandle.h"

#include <cstdlib>
#include <vector>

namespace {
int counter = 0;
const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kPendingValue[] = "PendingFileRenameOperations";
} // namespace

void WriteBytes(const std::string& path, const std::string& bytes) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << "cannot create " << path;
    DWORD written = 0;
    BOOL ok = bytes.empty() ||
              WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    ASSERT_TRUE(ok) << "cannot write " << path;
}

std::string ReadBytes(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string result;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        result.append(buffer, got);
    }
    CloseHandle(h);
    return result;
}

bool UnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool PathExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> FolderListing(const std::string& dir) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((dir + "*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        std::string name = data.cFileName;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return names;
}

void RemoveTree(const std::string& path) {
    std::string base = path;
    if (!base.empty() && base.back() == '\\') {
        base.pop_back();
    }
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((base + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (name == "." || name == "..") {
                continue;
            }
            std::string child = base + "\\" + name;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    RemoveDirectoryA(base.c_str());
}

void RemoveRegTree(HKEY root, const std::string& subKey) {
    HKEY key = nullptr;
    if (RegOpenKeyA(root, subKey.c_str(), &key) != ERROR_SUCCESS) {
        return;
    }
    std::vector<std::string> children;
    char name[1024];
    for (DWORD i = 0;; ++i) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        children.push_back(name);
    }
    RegCloseKey(key);
    for (const auto& child : children) {
        RemoveRegTree(root, subKey + "\\" + child);
    }
    RegDeleteKeyA(root, subKey.c_str());
}

std::vector<std::string> PendingRenameNames() {
    std::vector<std::string> names;
    TScopedRegKey key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kSessionManager, key.Receive()) != ERROR_SUCCESS) {
        return names;
    }
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key.Get(), kPendingValue, nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS ||
        size == 0) {
        return names;
    }
    std::string data(size, '\0');
    if (RegQueryValueExA(key.Get(), kPendingValue, nullptr, &type,
                         reinterpret_cast<LPBYTE>(&data[0]), &size) != ERROR_SUCCESS) {
        return names;
    }
    data.resize(size);
    // REG_MULTI_SZ: each name ends in a zero, the list in one more.
    size_t at = 0;
    while (at < data.size()) {
        size_t end = data.find('\0', at);
        if (end == std::string::npos) {
            end = data.size();
        }
        names.push_back(data.substr(at, end - at));
        at = end + 1;
    }
    while (!names.empty() && names.back().empty() && names.size() % 2 == 1) {
        names.pop_back();
    }
    return names;
}

void SetPendingRenames(std::string pairs) {
    TScopedRegKey key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, kSessionManager, key.Receive()) != ERROR_SUCCESS) {
        return;
    }
    if (pairs.empty()) {
        RegDeleteValueA(key.Get(), kPendingValue);
    } else {
        pairs += '\0';
        RegSetValueExA(key.Get(), kPendingValue, 0, REG_MULTI_SZ,
                       reinterpret_cast<const BYTE*>(pairs.data()),
                       static_cast<DWORD>(pairs.size()));
    }
}

void TempDirTest::SetUp() {
    char temp[MAX_PATH + 1] = {};
    DWORD length = GetTempPathA(sizeof temp, temp);
    ASSERT_GT(length, 0u) << "no temporary folder";
    std::string base = temp;
    if (base.back() != '\\') {
        base += '\\';
    }
    dir_ = base + "vt-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
    RemoveTree(dir_);
    ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr)) << "cannot create " << dir_;
    dir_ += '\\';
}

void TempDirTest::TearDown() {
    if (!dir_.empty()) {
        RemoveTree(dir_);
    }
}

void TempRegTest::SetUp() {
    TempDirTest::SetUp();
    subKey_ = "Software\\VantrelTest-" + std::to_string(GetCurrentProcessId()) + "-" +
              std::to_string(counter);
    keyPath_ = "HKCU\\" + subKey_;
    RemoveRegTree(HKEY_CURRENT_USER, subKey_);
}

void TempRegTest::TearDown() {
    RemoveRegTree(HKEY_CURRENT_USER, subKey_);
    TempDirTest::TearDown();
}

bool UnderCodePage932() {
    if (GetACP() == 932) {
        return true;
    }
    const char* wanted = std::getenv("VANTREL_WANT_ACP");
    if (wanted != nullptr && std::string(wanted) == "932") {
        ADD_FAILURE() << "the ANSI code page is " << GetACP()
                      << ", not 932: is the locale ja_JP.UTF-8 there (tools/setup.sh)?";
    }
    return false;
}
