// File names through the Win32 calls the program makes: letter case, dots
// and separators, forbidden characters, find handles and wildcards,
// directories, and short names.
#include "FileTestSupport.h"

#include <string>
#include <vector>

namespace {

using namespace filetest;

// ---- Names ---------------------------------------------------------------------------

TEST_F(FilesTest, NamesResolveWithoutRegardToLetterCase) {
    ASSERT_TRUE(CreateDirectoryA(PathOf("SubDir").c_str(), nullptr));
    WriteBytes(PathOf("SubDir\\Foo.TXT"), "found");
    EXPECT_EQ(ReadBytes(PathOf("subdir\\foo.txt")), "found");
    EXPECT_EQ(ReadBytes(PathOf("SUBDIR/FOO.txt")), "found");
    EXPECT_EQ(AttributesOf(PathOf("sUbDiR")), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    // Writing through another case changes the one file, not a second one.
    WriteBytes(PathOf("subdir\\FOO.TXT"), "changed");
    EXPECT_EQ(FindNames(PathOf("SubDir\\*.txt")), std::vector<std::string>{"Foo.TXT"});
    EXPECT_EQ(ReadBytes(PathOf("SubDir\\Foo.TXT")), "changed");
    // A find by another case reports the name as stored.
    EXPECT_EQ(FindNames(PathOf("subdir\\foo.txt")), std::vector<std::string>{"Foo.TXT"});
    EXPECT_TRUE(DeleteFileA(PathOf("SUBDIR\\foo.TXT").c_str()));
    EXPECT_FALSE(PathExists(PathOf("SubDir\\Foo.TXT")));
}

TEST_F(FilesTest, AccentedNamesResolveWithoutRegardToCase) {
    WriteBytes(PathOf("\xc9t\xe9.txt"), "accents"); // "Été.txt" in code page 1252
    EXPECT_EQ(ReadBytes(PathOf("\xe9t\xc9.TXT")), "accents");
}

TEST_F(FilesTest, DotsAndRepeatedSeparatorsAreApplied) {
    ASSERT_TRUE(CreateDirectoryA(PathOf("a").c_str(), nullptr));
    WriteBytes(PathOf("a\\file.txt"), "dots");
    EXPECT_EQ(ReadBytes(PathOf("a\\.\\file.txt")), "dots");
    EXPECT_EQ(ReadBytes(PathOf("missing\\..\\a\\file.txt")), "dots");
    EXPECT_EQ(ReadBytes(PathOf("a\\\\file.txt")), "dots");
    EXPECT_EQ(ReadBytes("C:\\..\\..\\" + PathOf("a\\file.txt").substr(3)), "dots");
}

TEST_F(FilesTest, NamesWithCharactersWindowsForbidsAreRefused) {
    for (const char* name : {"a*b.txt", "a?b.txt", "a<b", "a>b", "a|b", "a\"b", "tab\tname"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Open(PathOf(name), W, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
        EXPECT_FALSE(CreateDirectoryA(PathOf(name).c_str(), nullptr));
        EXPECT_EQ(GetFileAttributesA(PathOf(name).c_str()), INVALID_FILE_ATTRIBUTES);
    }
    EXPECT_EQ(FindNames(PathOf("*")), (std::vector<std::string>{".", ".."}));
}

TEST_F(FilesTest, ATrailingSeparatorNamesADirectoryOnly) {
    ASSERT_TRUE(CreateDirectoryA(PathOf("d").c_str(), nullptr));
    WriteBytes(PathOf("f.txt"), "f");
    EXPECT_EQ(AttributesOf(PathOf("d\\")), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(GetFileAttributesA(PathOf("f.txt\\").c_str()), INVALID_FILE_ATTRIBUTES);
}

// ---- Find ---------------------------------------------------------------------------------

TEST_F(FilesTest, FindTellsWhetherAFileExists) {
    WriteBytes(PathOf("there.txt"), "x");
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(PathOf("there.txt").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, "there.txt");
    EXPECT_EQ(data.nFileSizeLow, 1u);
    EXPECT_EQ(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_FALSE(FindNextFileA(find, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(FindClose(find));

    EXPECT_EQ(FindFirstFileA(PathOf("absent.txt").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(FindFirstFileA(PathOf("nodir\\*").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(FindFirstFileA(PathOf("none*").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FilesTest, FindOfAFolderNamesTheFolderItself) {
    ASSERT_TRUE(CreateDirectoryA(PathOf("Folder").c_str(), nullptr));
    EXPECT_EQ(FindNames(PathOf("folder")), std::vector<std::string>{"Folder"});
}

TEST_F(FilesTest, WildcardsListMatchingEntries) {
    ASSERT_TRUE(CreateDirectoryA(PathOf("w").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA(PathOf("w\\inner").c_str(), nullptr));
    for (const char* name : {"a.txt", "b.txt", "ab.log", "c.text"}) {
        WriteBytes(PathOf(std::string("w\\") + name), name);
    }
    std::vector<std::string> all = FindNames(PathOf("w\\*"));
    EXPECT_EQ(all.size(), 7u);
    for (const char* name : {".", "..", "inner", "a.txt", "b.txt", "ab.log", "c.text"}) {
        EXPECT_TRUE(Contains(all, name)) << name;
    }
    EXPECT_EQ(FindNames(PathOf("w\\*.*")).size(), 7u);
    std::vector<std::string> texts = FindNames(PathOf("w\\*.TXT"));
    EXPECT_EQ(texts.size(), 2u);
    EXPECT_TRUE(Contains(texts, "a.txt") && Contains(texts, "b.txt"));
    EXPECT_EQ(FindNames(PathOf("w\\?.txt")).size(), 2u);
    EXPECT_EQ(FindNames(PathOf("w\\a?.*")), std::vector<std::string>{"ab.log"});
    EXPECT_EQ(FindNames(PathOf("w\\*.text")), std::vector<std::string>{"c.text"});
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(PathOf("w\\inn*").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_NE(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    FindClose(find);
}

// ---- Directories -----------------------------------------------------------------------------

TEST_F(FilesTest, CreateAndRemoveDirectories) {
    const std::string dir = PathOf("made");
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
    EXPECT_FALSE(CreateDirectoryA(dir.c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_FALSE(CreateDirectoryA(PathOf("no\\such").c_str(), nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    WriteBytes(dir + "\\inside.txt", "x");
    EXPECT_FALSE(RemoveDirectoryA(dir.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_EMPTY));
    EXPECT_FALSE(RemoveDirectoryA((dir + "\\inside.txt").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
    ASSERT_TRUE(DeleteFileA((dir + "\\inside.txt").c_str()));
    EXPECT_TRUE(RemoveDirectoryA(dir.c_str()));
    EXPECT_FALSE(PathExists(dir));
    EXPECT_FALSE(RemoveDirectoryA(dir.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FilesTest, DeleteFileRefusesFoldersAndMissingFiles) {
    ASSERT_TRUE(CreateDirectoryA(PathOf("folder").c_str(), nullptr));
    EXPECT_FALSE(DeleteFileA(PathOf("folder").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(DeleteFileA(PathOf("nothing.txt").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(DeleteFileA(PathOf("nodir\\nothing.txt").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// ---- Short names -------------------------------------------------------------------------------

bool FitsEightDotThree(const std::string& name) {
    size_t dot = name.find('.');
    size_t base = dot == std::string::npos ? name.size() : dot;
    size_t ext = dot == std::string::npos ? 0 : name.size() - dot - 1;
    return base >= 1 && base <= 8 && ext <= 3 && name.find(' ') == std::string::npos &&
           (dot == std::string::npos || name.find('.', dot + 1) == std::string::npos);
}

TEST_F(FilesTest, AShortPathOpensTheSameFile) {
    ASSERT_TRUE(CreateDirectoryA(PathOf("A Long Folder Name").c_str(), nullptr));
    const std::string longPath = PathOf("A Long Folder Name\\Some Long File Name.text");
    WriteBytes(longPath, "long");
    char shortPath[MAX_PATH] = {};
    DWORD length = GetShortPathNameA(longPath.c_str(), shortPath, sizeof shortPath);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
    EXPECT_EQ(length, std::string(shortPath).size());
    std::string text = shortPath;
    ASSERT_NE(text, longPath);
    std::string tail = text.substr(text.find_last_of('\\', text.find_last_of('\\') - 1) + 1);
    std::string folder = tail.substr(0, tail.find('\\'));
    std::string file = tail.substr(tail.find('\\') + 1);
    EXPECT_TRUE(FitsEightDotThree(folder)) << folder;
    EXPECT_TRUE(FitsEightDotThree(file)) << file;
    EXPECT_EQ(ReadBytes(text), "long");
    EXPECT_NE(GetFileAttributesA(shortPath), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FilesTest, LongNamesOfOneStemGetDistinctShortNames) {
    const char* const names[] = {"Program Files.text", "Program Data.text", "Programs Old.text",
                                 "PROGRA~1.TEX longer.text", "program files.texts"};
    std::vector<std::string> shortPaths;
    for (const char* name : names) {
        WriteBytes(PathOf(name), name);
    }
    for (const char* name : names) {
        char buffer[MAX_PATH] = {};
        ASSERT_GT(GetShortPathNameA(PathOf(name).c_str(), buffer, sizeof buffer), 0u) << name;
        std::string shortPath = buffer;
        EXPECT_TRUE(FitsEightDotThree(shortPath.substr(shortPath.find_last_of('\\') + 1)))
            << shortPath;
        EXPECT_EQ(ReadBytes(shortPath), name) << shortPath;
        EXPECT_FALSE(Contains(shortPaths, shortPath)) << shortPath;
        shortPaths.push_back(shortPath);
    }
    // Deleting one file leaves the short names of the others as they were.
    ASSERT_TRUE(DeleteFileA(PathOf(names[0]).c_str()));
    for (size_t i = 1; i < shortPaths.size(); ++i) {
        EXPECT_EQ(ReadBytes(shortPaths[i]), names[i]) << shortPaths[i];
    }
}

TEST_F(FilesTest, ShortPathBufferSizesFollowWindows) {
    const std::string path = PathOf("SHORT.TXT");
    WriteBytes(path, "s");
    char buffer[MAX_PATH] = {};
    DWORD length = GetShortPathNameA(path.c_str(), buffer, sizeof buffer);
    ASSERT_GT(length, 0u);
    std::string result = buffer;
    EXPECT_EQ(result.substr(result.size() - 9), "SHORT.TXT"); // a short name stays
    EXPECT_EQ(GetShortPathNameA(path.c_str(), nullptr, 0), length + 1);
    char small[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(GetShortPathNameA(path.c_str(), small, sizeof small), length + 1);
    EXPECT_EQ(GetShortPathNameA(path.c_str(), buffer, length), length + 1);
    EXPECT_EQ(GetShortPathNameA(path.c_str(), buffer, length + 1), length);
}

TEST_F(FilesTest, ShortPathOfAMissingFileFails) {
    char buffer[MAX_PATH];
    EXPECT_EQ(GetShortPathNameA(PathOf("missing file.text").c_str(), buffer, sizeof buffer), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(GetShortPathNameA(PathOf("no dir\\missing").c_str(), buffer, sizeof buffer), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

} // namespace
