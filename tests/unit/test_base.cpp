// The bottom layer's helpers: the existence checks by name, and the texts
// the system gives (an error code's message, the time in UTC). The command
// line, also in base/, has its own suite (test_cmdline.cpp).
#include "TestSupport.h"
#include "ktFileChecks.h"
#include "ktSystemText.h"

#include <string>

namespace {

class FileChecksTest : public TempDirTest {};

// GetFileAttributesA takes the name literally: a wildcard names nothing
// unless a file has exactly that name, and a directory is no file.
TEST_F(FileChecksTest, FilesAndDirectoriesExistByTheirExactNamesOnly) {
    WriteBytes(PathOf("app.dll"), "x");
    ASSERT_TRUE(CreateDirectoryA(PathOf("sub").c_str(), nullptr));
    const struct {
        std::string path;
        bool file;
        bool directory;
    } cases[] = {
        {PathOf("app.dll"), true, false},
        {PathOf("sub"), false, true},
        {Dir(), false, true},
        {PathOf("nothing"), false, false},
        {"", false, false},
        {PathOf("*.dll"), false, false},
        {PathOf("app.dl?"), false, false},
        {PathOf("?pp.dll"), false, false},
        {PathOf("su*"), false, false},
        {PathOf("s?b"), false, false},
        {PathOf("*"), false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileExists(c.path), c.file) << c.path;
        EXPECT_EQ(DirectoryExists(c.path), c.directory) << c.path;
    }
}

TEST(SystemText, ErrorTextIsTheCodesOwnWithoutTrailingLineBreak) {
    std::string notFound = SystemErrorText(ERROR_FILE_NOT_FOUND);
    ASSERT_FALSE(notFound.empty());
    EXPECT_NE(notFound.back(), '\n');
    EXPECT_NE(notFound.back(), '\r');
    EXPECT_NE(notFound, SystemErrorText(ERROR_ACCESS_DENIED));
}

TEST(SystemText, TimestampIsUtcIso8601) {
    std::string stamp = UtcTimestamp();
    const std::string shape = "9999-99-99T99:99:99Z";
    ASSERT_EQ(stamp.size(), shape.size()) << stamp;
    for (size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == '9') {
            EXPECT_TRUE(stamp[i] >= '0' && stamp[i] <= '9') << stamp;
        } else {
            EXPECT_EQ(stamp[i], shape[i]) << stamp;
        }
    }
    EXPECT_GE(stamp.substr(0, 4), "2020");
}

} // namespace
