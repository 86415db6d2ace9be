#include "TestSupport.h"
#include "ktLineFile.h"

#include <string>
#include <vector>

namespace {

class LineFileTest : public TempDirTest {
  protected:
    TScopedFileHandle OpenRead(const std::string& path) {
        return OpenFileHandle(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL);
    }
    // Every line of the file through FileReadLine, as the engine's loop
    // reads it: while not at the end.
    std::vector<std::string> ReadAllLines(const std::string& bytes) {
        std::string path = PathOf("lines.txt");
        WriteBytes(path, bytes);
        TScopedFileHandle h = OpenRead(path);
        EXPECT_TRUE(h.IsValid());
        std::vector<std::string> lines;
        while (h.IsValid() && !FileAtEnd(h.Get())) {
            lines.push_back(FileReadLine(h.Get()));
        }
        return lines;
    }
    struct BlockResult {
        std::vector<std::string> lines;
        std::string joinedRaw;
    };
    BlockResult ReadAllBlocks(const std::string& bytes, size_t blockSize,
                              TLineEnds ends = TLineEnds::AtCr) {
        std::string path = PathOf("blocks.txt");
        WriteBytes(path, bytes);
        TScopedFileHandle h = OpenRead(path);
        EXPECT_TRUE(h.IsValid());
        BlockResult result;
        TBlockLineReader reader(h.Get(), blockSize, ends);
        std::string line;
        std::string raw;
        while (reader.Next(line, &raw)) {
            result.lines.push_back(line);
            result.joinedRaw += raw;
        }
        EXPECT_FALSE(reader.ReadFailed());
        return result;
    }
};

using Lines = std::vector<std::string>;

TEST_F(LineFileTest, LineEndsAsTheReaderSeesThem) {
    struct Case {
        std::string bytes;
        Lines expected;
    };
    const std::vector<Case> cases = {
        {"a\nb\nc\n", {"abc"}},
        {"a\r\nb\rc", {"a", "b", "c"}},
        {"a\r\nb\r\n", {"a", "b", ""}},
        {"a\r\rb", {"a", "", "b"}},
        {"a\r", {"a"}},
        {"\n", {""}},
        {"", {}},
        {"x\n\r\ny", {"x", "y"}},
        {std::string("n\0ul\r\n", 6), {std::string("n\0ul", 4), ""}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReadAllLines(c.bytes), c.expected) << "bytes [" << c.bytes << "]";
    }
}

TEST_F(LineFileTest, LongLineIsGatheredFromSeveralReads) {
    std::string longLine(250, 'x');
    longLine[99] = 'A';
    longLine[100] = 'B';
    longLine[249] = 'Z';
    Lines lines = ReadAllLines(longLine + "\r\nnext");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], longLine);
    EXPECT_EQ(lines[1], "next");
}

TEST_F(LineFileTest, PositionStopsRightAfterTheCarriageReturn) {
    std::string path = PathOf("pos.txt");
    WriteBytes(path, "ab\r\ncd\rlast");
    TScopedFileHandle owner = OpenRead(path);
    ASSERT_TRUE(owner.IsValid());
    const TFileHandle h = owner.Get();
    EXPECT_EQ(FilePosition(h), 0);
    EXPECT_EQ(FileReadLine(h), "ab");
    EXPECT_EQ(FilePosition(h), 3);
    EXPECT_EQ(FileReadLine(h), "cd");
    EXPECT_EQ(FilePosition(h), 7);
    EXPECT_FALSE(FileAtEnd(h));
    EXPECT_EQ(FileReadLine(h), "last");
    EXPECT_TRUE(FileAtEnd(h));
    // At the end a read gives an empty line and leaves the position.
    EXPECT_EQ(FileReadLine(h), "");
    EXPECT_EQ(FilePosition(h), 11);
}

TEST_F(LineFileTest, WriteLineAppendsCrLf) {
    std::string path = PathOf("out.txt");
    TScopedFileHandle h =
        OpenFileHandle(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(h.IsValid());
    FileWriteLine(h.Get(), "12345678");
    EXPECT_EQ(FilePosition(h.Get()), 10);
    FileWriteLine(h.Get(), "");
    h.Close();
    EXPECT_EQ(ReadBytes(path), "12345678\r\n\r\n");
}

TEST_F(LineFileTest, ReadErrorEndsTheLineAndTheFile) {
    std::string path = PathOf("wo.txt");
    WriteBytes(path, "some text\r\nmore\r\n");
    // A handle without read access: every read fails.
    TScopedFileHandle owner =
        OpenFileHandle(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(owner.IsValid());
    const TFileHandle h = owner.Get();
    EXPECT_FALSE(FileAtEnd(h));
    EXPECT_EQ(FileReadLine(h), "");
    EXPECT_TRUE(FileAtEnd(h));

    SetFilePointer(ToHandle(h), 0, nullptr, FILE_BEGIN);
    TBlockLineReader reader(h, 4);
    std::string line;
    EXPECT_FALSE(reader.Next(line));
    EXPECT_TRUE(reader.ReadFailed());
    EXPECT_FALSE(reader.Next(line));
}

TEST_F(LineFileTest, OpenOfMissingFileGivesInvalidHandle) {
    TScopedFileHandle h = OpenRead(PathOf("missing.txt"));
    EXPECT_EQ(h.Get(), -1);
    EXPECT_FALSE(h.IsValid());
}

TEST_F(LineFileTest, BlockReaderYieldsTheLinesOfFileReadLine) {
    std::string junk;
    for (int i = 0; i < 600; ++i) {
        junk += static_cast<char>((i * 37 + 11) % 256);
    }
    const std::vector<std::string> inputs = {
        "",
        "\r",
        "\n",
        "\r\n",
        "\r\n\r\n",
        "\n\r\n\r",
        "a\r\nb\rc\nd",
        "ab\r\n",
        "abc\rdef\r",
        "[S]\r\nA=1\r\n\r\nB=2",
        "x\n\n\ny\r\n\nz\r\r\n\n",
        std::string(1000, 'q') + "\r\n" + std::string(333, 'r'),
        std::string("\0\0\r\0\n", 5),
        junk,
    };
    // Small blocks put a CR, an LF or a CR LF pair on every block boundary.
    for (size_t blockSize : {1u, 2u, 3u, 4u, 7u, 100u, 1u << 20}) {
        for (const auto& bytes : inputs) {
            BlockResult blocks = ReadAllBlocks(bytes, blockSize);
            EXPECT_EQ(blocks.lines, ReadAllLines(bytes))
                << "block " << blockSize << " bytes [" << bytes << "]";
            EXPECT_EQ(blocks.joinedRaw, bytes) << "block " << blockSize;
        }
    }
}

TEST_F(LineFileTest, BlockReaderEndsLinesAtCrLfCrOrLfForProfiles) {
    struct Case {
        std::string bytes;
        Lines lines;
    };
    const std::vector<Case> cases = {
        {"a\r\nb\rc\nd", {"a", "b", "c", "d"}},
        {"a\n\rb\n", {"a", "", "b"}},
        {"\r\n\r\n", {"", ""}},
        {"\n\n", {"", ""}},
        {"ab\r", {"ab"}},
        {"", {}},
        {std::string("n\0l\n", 4), {std::string("n\0l", 3)}},
    };
    // Small blocks put a CR, an LF or a CR LF pair on every block boundary.
    for (size_t blockSize : {1u, 2u, 3u, 100u}) {
        for (const auto& c : cases) {
            BlockResult blocks = ReadAllBlocks(c.bytes, blockSize, TLineEnds::AtCrOrLf);
            EXPECT_EQ(blocks.lines, c.lines)
                << "block " << blockSize << " bytes [" << c.bytes << "]";
            EXPECT_EQ(blocks.joinedRaw, c.bytes) << "block " << blockSize;
        }
    }
}

TEST_F(LineFileTest, BlockReaderKeepsCrLfWithTheLine) {
    std::string path = PathOf("raw.txt");
    WriteBytes(path, "a\r\nb\rc\n\r\n");
    TScopedFileHandle h = OpenRead(path);
    ASSERT_TRUE(h.IsValid());
    TBlockLineReader reader(h.Get(), 2);
    std::string line;
    std::string raw;
    Lines lines;
    Lines raws;
    while (reader.Next(line, &raw)) {
        lines.push_back(line);
        raws.push_back(raw);
    }
    EXPECT_EQ(lines, (Lines{"a", "b", "c", ""}));
    EXPECT_EQ(raws, (Lines{"a\r\n", "b\r", "c\n\r\n", ""}));
}

TEST_F(LineFileTest, ForceDirectoriesCreatesFromTheOutsideIn) {
    std::string a = PathOf("A");
    std::string b = a + "\\B";
    ForceDirectories(b + "\\");
    EXPECT_TRUE(DirectoryExists(a));
    EXPECT_TRUE(DirectoryExists(b));
    // Existing directories are left as they are.
    WriteBytes(b + "\\keep.txt", "k");
    ForceDirectories(b);
    EXPECT_EQ(ReadBytes(b + "\\keep.txt"), "k");
    // A drive on its own is never created; nothing to fail on.
    ForceDirectories("C:\\");
    ForceDirectories("C:");
    ForceDirectories("");
    EXPECT_TRUE(DirectoryExists("C:\\"));
}

TEST_F(LineFileTest, ForceDirectoriesUnderAFileCreatesNothing) {
    std::string file = PathOf("f");
    WriteBytes(file, "x");
    ForceDirectories(file + "\\sub\\deeper");
    EXPECT_FALSE(DirectoryExists(file + "\\sub"));
    EXPECT_EQ(ReadBytes(file), "x");
}

} // namespace
