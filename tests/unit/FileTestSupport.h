// Helpers of the file suites: opening with given rights and sharing, the
// attributes that matter, and the names a find lists.
#pragma once

#include "TestSupport.h"

#include <string>
#include <vector>

namespace filetest {

// Rights and sharing, short enough for tables of cases.
constexpr DWORD R = GENERIC_READ;
constexpr DWORD W = GENERIC_WRITE;
constexpr DWORD SR = FILE_SHARE_READ;
constexpr DWORD SW = FILE_SHARE_WRITE;
constexpr DWORD SD = FILE_SHARE_DELETE;

inline HANDLE Open(const std::string& path, DWORD access, DWORD share,
                   DWORD disposition = OPEN_EXISTING) {
    return CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

// Attributes without the archive bit, which Windows sets on its own.
inline DWORD AttributesOf(const std::string& path) {
    DWORD attrs = GetFileAttributesA(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES) {
        return attrs;
    }
    attrs &= ~static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE);
    return attrs == 0 ? FILE_ATTRIBUTE_NORMAL : attrs;
}

inline std::vector<std::string> FindNames(const std::string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        names.push_back(data.cFileName);
    } while (FindNextFileA(find, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    FindClose(find);
    return names;
}

inline bool Contains(const std::vector<std::string>& names, const std::string& name) {
    for (const auto& item : names) {
        if (item == name) {
            return true;
        }
    }
    return false;
}

class FilesTest : public TempDirTest {};

} // namespace filetest
