// Contract of the file calls at two edges the program's callers reach: a
// handle that names no file (a failed open's INVALID_HANDLE_VALUE, or a
// null one) and a path whose folder does not exist. The same tables run
// over pal/ natively and over the real API under Wine.
#include "TestSupport.h"

#include <string>

namespace {

struct HandleCase {
    const char* call;
    DWORD (*run)(HANDLE handle, DWORD* count); // the call's result as a DWORD
    DWORD failure;                             // what the call returns on failure
};

const HandleCase kHandleCalls[] = {
    {"ReadFile",
     [](HANDLE h, DWORD* count) {
         char buffer[4];
         return static_cast<DWORD>(ReadFile(h, buffer, sizeof buffer, count, nullptr));
     },
     FALSE},
    {"WriteFile",
     [](HANDLE h, DWORD* count) {
         return static_cast<DWORD>(WriteFile(h, "abcd", 4, count, nullptr));
     },
     FALSE},
    {"SetFilePointer", [](HANDLE h, DWORD*) { return SetFilePointer(h, 1, nullptr, FILE_BEGIN); },
     INVALID_SET_FILE_POINTER},
    {"GetFileSize", [](HANDLE h, DWORD* high) { return GetFileSize(h, high); }, INVALID_FILE_SIZE},
    {"SetEndOfFile", [](HANDLE h, DWORD*) { return static_cast<DWORD>(SetEndOfFile(h)); }, FALSE},
    {"FindNextFileA",
     [](HANDLE h, DWORD*) {
         WIN32_FIND_DATAA data;
         return static_cast<DWORD>(FindNextFileA(h, &data));
     },
     FALSE},
    {"FindClose", [](HANDLE h, DWORD*) { return static_cast<DWORD>(FindClose(h)); }, FALSE},
};

// A read or write that fails for its handle transfers nothing.
TEST(ContractFileHandles, CallsGivenNoFileFail) {
    for (HANDLE handle : {INVALID_HANDLE_VALUE, static_cast<HANDLE>(nullptr)}) {
        for (const HandleCase& c : kHandleCalls) {
            SCOPED_TRACE(std::string(c.call) +
                         (handle == INVALID_HANDLE_VALUE ? " (INVALID_HANDLE_VALUE)" : " (null)"));
            DWORD count = 77;
            SetLastError(0);
            EXPECT_EQ(c.run(handle, &count), c.failure);
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
            if (c.call[0] == 'R' || c.call[0] == 'W') {
                EXPECT_EQ(count, 0u);
            }
        }
    }
}

class ContractFilePaths : public TempDirTest {};

// Paths below a folder that does not exist, and a source that does not.
TEST_F(ContractFilePaths, MissingFoldersAndFilesGiveTheirErrors) {
    WriteBytes(PathOf("here.txt"), "here");
    const std::string here = PathOf("here.txt");
    const std::string nowhere = PathOf("nodir\\x.txt");
    struct Case {
        const char* what;
        BOOL (*run)(const std::string& here, const std::string& other);
        const char* other; // below the test's folder
        DWORD error;
    } cases[] = {
        {"SetFileAttributesA, missing folder",
         [](const std::string&, const std::string& other) {
             return SetFileAttributesA(other.c_str(), FILE_ATTRIBUTE_NORMAL);
         },
         "nodir\\x.txt", ERROR_PATH_NOT_FOUND},
        {"RemoveDirectoryA, missing folder",
         [](const std::string&, const std::string& other) {
             return RemoveDirectoryA(other.c_str());
         },
         "nodir\\sub", ERROR_PATH_NOT_FOUND},
        {"MoveFileExA, target in a missing folder",
         [](const std::string& here, const std::string& other) {
             return MoveFileExA(here.c_str(), other.c_str(), MOVEFILE_REPLACE_EXISTING);
         },
         "nodir\\x.txt", ERROR_PATH_NOT_FOUND},
        {"MoveFileExA, source in a missing folder",
         [](const std::string& here, const std::string& other) {
             return MoveFileExA(other.c_str(), here.c_str(), MOVEFILE_REPLACE_EXISTING);
         },
         "nodir\\x.txt", ERROR_PATH_NOT_FOUND},
        {"CopyFileA, target in a missing folder",
         [](const std::string& here, const std::string& other) {
             return CopyFileA(here.c_str(), other.c_str(), FALSE);
         },
         "nodir\\x.txt", ERROR_PATH_NOT_FOUND},
        {"CopyFileA, source in a missing folder",
         [](const std::string& here, const std::string& other) {
             return CopyFileA(other.c_str(), here.c_str(), FALSE);
         },
         "nodir\\x.txt", ERROR_PATH_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(0);
        EXPECT_FALSE(c.run(here, PathOf(c.other)));
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(ReadBytes(here), "here"); // the existing file is left as it was
    }
    EXPECT_FALSE(PathExists(nowhere));
}

} // namespace
