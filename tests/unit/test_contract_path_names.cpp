// Contract of the system's path forms: GetFullPathNameA normalises a path
// as every file call does, GetLongPathNameA gives an existing path's long
// names. The same tables run over pal/ natively and the real API under Wine.
#include "TestSupport.h"

#include <cstring>
#include <string>

namespace {

std::string FullPath(const std::string& path, LPSTR* filePart = nullptr) {
    char buffer[MAX_PATH + 1] = {};
    DWORD length = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, filePart);
    EXPECT_GT(length, 0u) << path;
    EXPECT_LT(length, sizeof buffer) << path;
    return std::string(buffer);
}

struct FullCase {
    const char* path;
    const char* full;
};

const FullCase kFullCases[] = {
    {"C:\\a\\b", "C:\\a\\b"},
    {"C:/a/b/", "C:\\a\\b\\"},
    {"c:\\x", "c:\\x"},
    {"C:\\a\\.\\b", "C:\\a\\b"},
    {"C:\\a\\..\\b", "C:\\b"},
    {"C:\\a\\b\\..", "C:\\a"},
    {"C:\\a\\b\\..\\", "C:\\a\\"},
    {"C:\\..\\..\\a", "C:\\a"},
    {"C:\\..", "C:\\"},
    {"C:\\.", "C:\\"},
    {"C:\\a\\.", "C:\\a"},
    {"C:\\a\\.\\", "C:\\a\\"},
    {"C:\\a\\\\\\b", "C:\\a\\b"},
    {"C:\\\\a", "C:\\a"},
    {"C:\\a//b", "C:\\a\\b"},
    // Trailing dots and blanks leave the path's end; a part followed by a
    // separator loses one trailing dot, and blanks only at the very end.
    {"C:\\a.", "C:\\a"},
    {"C:\\a. . .", "C:\\a"},
    {"C:\\a  ", "C:\\a"},
    {"C:\\a.\\b", "C:\\a\\b"},
    {"C:\\a..\\b", "C:\\a.\\b"},
    {"C:\\a \\b", "C:\\a \\b"},
    {"C:\\a \\", "C:\\a \\"},
    {"C:\\a\\...", "C:\\a\\"},
    {"C:\\a\\...\\b", "C:\\a\\..\\b"},
    // A path in the device namespace is normalised after its prefix, which
    // alone ".." cannot climb above (the drive it can).
    {"\\\\?\\C:\\a\\..\\b.", "\\\\?\\C:\\b"},
    {"\\\\.\\C:\\a\\..\\b\\\\c. ", "\\\\.\\C:\\b\\c"},
    {"\\\\.\\C:\\..\\D:\\x", "\\\\.\\D:\\x"},
    // A network path never climbs above its share.
    {"\\\\server\\share\\a\\..\\..\\b", "\\\\server\\share\\b"},
    {"\\\\server\\share", "\\\\server\\share"},
};

TEST(ContractPathNames, FullPathNormalisesAsWindowsDocuments) {
    for (const FullCase& c : kFullCases) {
        EXPECT_EQ(FullPath(c.path), c.full) << c.path;
    }
}

TEST(ContractPathNames, FullPathOfARelativePathAndItsFilePart) {
    std::string current = FullPath(".");
    ASSERT_FALSE(current.empty());
    std::string separator = current.find('/') != std::string::npos ? "/" : "\\";
    EXPECT_EQ(FullPath("vt-none\\..\\x. "), current + separator + "x");
    EXPECT_EQ(FullPath("x\\..\\.."), current.substr(0, current.find_last_of("\\/")));

    LPSTR filePart = nullptr;
    char buffer[MAX_PATH] = {};
    ASSERT_EQ(GetFullPathNameA("C:\\dir\\..\\name.txt", sizeof buffer, buffer, &filePart), 11u);
    EXPECT_EQ(filePart, buffer + 3);
    filePart = buffer;
    ASSERT_EQ(GetFullPathNameA("C:\\dir\\", sizeof buffer, buffer, &filePart), 7u);
    EXPECT_EQ(filePart, nullptr);
}

TEST(ContractPathNames, FullPathIntoAShortBufferTellsTheSizeNeeded) {
    char buffer[8];
    memset(buffer, 'x', sizeof buffer);
    // "C:\abc\def" needs 11 bytes with its terminating null.
    EXPECT_EQ(GetFullPathNameA("C:\\abc\\.\\def", sizeof buffer, buffer, nullptr), 11u);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, 'x'));
    EXPECT_EQ(GetFullPathNameA("C:\\abc\\.\\def", 0, nullptr, nullptr), 11u);
    char exact[11];
    EXPECT_EQ(GetFullPathNameA("C:\\abc\\.\\def", sizeof exact, exact, nullptr), 10u);
    EXPECT_EQ(std::string(exact), "C:\\abc\\def");
}

class ContractLongPaths : public TempDirTest {
  protected:
    std::string LongPath(const std::string& path) {
        char buffer[MAX_PATH + 1] = {};
        DWORD length = GetLongPathNameA(path.c_str(), buffer, sizeof buffer);
        EXPECT_GT(length, 0u) << path;
        return std::string(buffer);
    }
    std::string ShortPath(const std::string& path) {
        char buffer[MAX_PATH + 1] = {};
        EXPECT_GT(GetShortPathNameA(path.c_str(), buffer, sizeof buffer), 0u) << path;
        return std::string(buffer);
    }
};

bool SameIgnoringCase(const std::string& a, const std::string& b) {
    return CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(), -1) ==
           CSTR_EQUAL;
}

TEST_F(ContractLongPaths, ShortNamesBecomeLongSeparatorsAndDotsStay) {
    const std::string folder = PathOf("Long Folder Name");
    const std::string file = folder + "\\deep file name.text";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    WriteBytes(file, "x");
    std::string shortFile = ShortPath(file);
    std::string shortFolder = ShortPath(folder);
    ASSERT_NE(shortFile, file);
    const std::string shortName = shortFolder.substr(shortFolder.find_last_of('\\') + 1);

    struct Case {
        std::string path;
        std::string ends; // the end of the long form, exact
    } cases[] = {
        {shortFile, "\\Long Folder Name\\deep file name.text"},
        {shortFolder + "\\", "\\Long Folder Name\\"},
        {shortFolder + "\\..\\" + shortName, "\\Long Folder Name\\..\\Long Folder Name"},
        {shortFolder + "\\.\\deep file name.text", "\\Long Folder Name\\.\\deep file name.text"},
    };
    for (const Case& c : cases) {
        std::string result = LongPath(c.path);
        ASSERT_GE(result.size(), c.ends.size()) << c.path;
        EXPECT_EQ(result.substr(result.size() - c.ends.size()), c.ends) << c.path;
        // The folders above keep their place; at most their letter case
        // becomes the one they have on disk.
        EXPECT_TRUE(SameIgnoringCase(result.substr(0, result.size() - c.ends.size()),
                                     Dir().substr(0, Dir().size() - 1)))
            << result;
    }
}

TEST_F(ContractLongPaths, MissingPathsAndShortBuffers) {
    for (const std::string& path : {PathOf("none"), PathOf("none\\deeper")}) {
        char buffer[MAX_PATH] = "untouched";
        SetLastError(0);
        EXPECT_EQ(GetLongPathNameA(path.c_str(), buffer, sizeof buffer), 0u) << path;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) << path;
    }
    const std::string folder = PathOf("Long Folder Name");
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    std::string longForm = LongPath(folder);
    char small[4] = "abc";
    EXPECT_EQ(GetLongPathNameA(folder.c_str(), small, sizeof small), longForm.size() + 1);
    EXPECT_EQ(std::string(small), "abc");
}

} // namespace
