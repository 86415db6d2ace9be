// Contract of the text services at the edges the program's callers reach:
// code page 1252 to UTF-16 with counted and terminated input, size queries
// and short buffers; the system's texts of error codes with short buffers
// and unknown codes. The same tables run over pal/ and under Wine.
#include "TestSupport.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(ContractText, MultiByteToWideCharSizesAndArguments) {
    // "a", the euro sign and a byte code page 1252 leaves undefined.
    const char input[] = "a\x80\x81";
    struct Case {
        const char* what;
        const char* text;
        int count;               // bytes given, -1 up to and with the NUL
        int room;                // WCHARs of room, 0 asks for the size
        int result;              // expected return
        DWORD error;             // expected last error when result is 0
        std::vector<WCHAR> wide; // expected output when it fits
    } cases[] = {
        {"terminated", input, -1, 8, 4, 0, {0x61, 0x20AC, 0x81, 0}},
        {"counted, no NUL", input, 2, 8, 2, 0, {0x61, 0x20AC}},
        {"size query", input, -1, 0, 4, 0, {}},
        {"exact room", input, -1, 4, 4, 0, {0x61, 0x20AC, 0x81, 0}},
        {"one short", input, -1, 3, 0, ERROR_INSUFFICIENT_BUFFER, {}},
        {"no bytes", input, 0, 8, 0, ERROR_INVALID_PARAMETER, {}},
        {"null input", nullptr, -1, 8, 0, ERROR_INVALID_PARAMETER, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WCHAR out[8];
        std::memset(out, 0x7f, sizeof out);
        SetLastError(0);
        int got = MultiByteToWideChar(1252, 0, c.text, c.count, c.room ? out : nullptr, c.room);
        EXPECT_EQ(got, c.result);
        if (got == 0) {
            EXPECT_EQ(GetLastError(), c.error);
        }
        if (!c.wide.empty()) {
            EXPECT_EQ(std::vector<WCHAR>(out, out + got), c.wide);
        }
    }
}

TEST(ContractText, FormatMessageBufferSizesAndUnknownCodes) {
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    char full[512];
    DWORD length =
        FormatMessageA(flags, nullptr, ERROR_ACCESS_DENIED, 0, full, sizeof full, nullptr);
    ASSERT_GT(length, 2u);
    EXPECT_EQ(length, std::strlen(full));
    EXPECT_EQ(std::string(full + length - 2), "\r\n"); // every system text ends a line

    struct Case {
        const char* what;
        DWORD code;
        DWORD room;
        DWORD result; // 0: fails with the error below
        DWORD error;
    } cases[] = {
        {"room for the text and its NUL", ERROR_ACCESS_DENIED, length + 1, length, 0},
        {"no room for the NUL", ERROR_ACCESS_DENIED, length, 0, ERROR_INSUFFICIENT_BUFFER},
        {"far too small", ERROR_ACCESS_DENIED, 4, 0, ERROR_INSUFFICIENT_BUFFER},
        {"no such code", 0xFFF0, sizeof full, 0, ERROR_MR_MID_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        char buffer[512];
        SetLastError(0);
        DWORD got = FormatMessageA(flags, nullptr, c.code, 0, buffer, c.room, nullptr);
        EXPECT_EQ(got, c.result);
        if (got == 0) {
            EXPECT_EQ(GetLastError(), c.error);
        } else {
            EXPECT_STREQ(buffer, full);
        }
    }
}

} // namespace
