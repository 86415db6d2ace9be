// What the system does with PendingFileRenameOperations when it starts: each
// pair in order, an empty target deleting the source (a file, or a folder
// that is empty by then), any other renaming it ("!" before the target
// replacing what is there); a pair that fails is passed over. The list is
// gone afterwards. Natively nothing else carries the list out; tests and
// `vantrel-reg restart` stand for the restart with this.
#include "restartlist.h"

#include "pal.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kPendingRenames[] = "PendingFileRenameOperations";

// "\??\C:\x" names C:\x; other forms are taken as they are.
std::string Unprefixed(const std::string& name) {
    return name.compare(0, 4, "\\??\\") == 0 ? name.substr(4) : name;
}

} // namespace

int CarryOutRestartList() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_ALL_ACCESS, &key) !=
        ERROR_SUCCESS) {
        return 0;
    }
    DWORD size = 0;
    DWORD type = REG_NONE;
    std::vector<char> data;
    if (RegQueryValueExA(key, kPendingRenames, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
        size > 0) {
        data.resize(size);
        if (RegQueryValueExA(key, kPendingRenames, nullptr, &type,
                             reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS) {
            data.clear();
        }
        data.resize(std::min<size_t>(data.size(), size));
    }
    std::vector<std::string> strings;
    for (size_t pos = 0; pos < data.size();) {
        size_t end = pos;
        while (end < data.size() && data[end] != '\0') {
            ++end;
        }
        strings.emplace_back(data.data() + pos, end - pos);
        pos = end + 1;
    }
    int done = 0;
    for (size_t i = 0; i + 1 < strings.size() && !strings[i].empty(); i += 2) {
        std::string from = Unprefixed(strings[i]);
        std::string to = strings[i + 1];
        bool ok = false;
        if (to.empty()) {
            DWORD attributes = GetFileAttributesA(from.c_str());
            ok = attributes != INVALID_FILE_ATTRIBUTES &&
                 ((attributes & FILE_ATTRIBUTE_DIRECTORY)
                      ? RemoveDirectoryA(from.c_str())
                      : (SetFileAttributesA(from.c_str(), FILE_ATTRIBUTE_NORMAL),
                         DeleteFileA(from.c_str())));
        } else {
            bool replace = to[0] == '!';
            to = Unprefixed(replace ? to.substr(1) : to);
            ok = MoveFileExA(from.c_str(), to.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0);
        }
        done += ok ? 1 : 0;
    }
    RegDeleteValueA(key, kPendingRenames);
    RegCloseKey(key);
    return done;
}
