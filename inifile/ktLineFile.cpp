// Reading and writing an INI-style file line by line through the Win32 file
// calls, and making the folders of one before it is written.
#include "ktLineFile.h"

#include "ktStrUtils.h"

#include <algorithm>
#include <cstring>

namespace {
bool IsLineFeed(char c) {
    return c == '\n';
}
} // namespace

TScopedFileHandle OpenFileHandle(const std::string& fileName, DWORD desiredAccess, DWORD shareMode,
                                 DWORD creationDisposition, DWORD flagsAndAttributes) {
    HANDLE handle = CreateFileA(fileName.c_str(), desiredAccess, shareMode, nullptr,
                                creationDisposition, flagsAndAttributes, nullptr);
    return TScopedFileHandle(reinterpret_cast<TFileHandle>(handle));
}

int32_t FilePosition(TFileHandle handle) {
    return static_cast<int32_t>(SetFilePointer(ToHandle(handle), 0, nullptr, FILE_CURRENT));
}

bool FileAtEnd(TFileHandle handle) {
    int32_t size = static_cast<int32_t>(GetFileSize(ToHandle(handle), nullptr));
    return FilePosition(handle) >= size;
}

std::string FileReadLine(TFileHandle handle) {
    std::string line;
    char buffer[100];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(ToHandle(handle), buffer, sizeof buffer, &got, nullptr)) {
            // A read error ends the line. The position goes to the end of the
            // file, so that a caller looping until FileAtEnd does not ask
            // again for ever.
            SetFilePointer(ToHandle(handle), 0, nullptr, FILE_END);
            return line;
        }
        if (got == 0) {
            return line;
        }
        std::string chunk(buffer, got);
        std::string part = TextBefore(chunk, '\r');
        line += RemoveChar(part, '\n');
        if (part.size() < got) {
            LONG back = static_cast<LONG>(part.size()) - static_cast<LONG>(got) + 1;
            SetFilePointer(ToHandle(handle), back, nullptr, FILE_CURRENT);
            return line;
        }
    }
}

void FileWriteLine(TFileHandle handle, const std::string& text) {
    std::string bytes = text + "\r\n";
    DWORD written = 0;
    WriteFile(ToHandle(handle), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void ForceDirectories(std::string path) {
    if (path.empty()) {
        return;
    }
    // Walk the characters once: where the last one starts, and the end of the
    // parent (after the last backslash or colon), so that trail bytes of a
    // double-byte code page count for neither.
    size_t lastStart = 0;
    for (size_t i = 0; i < path.size(); ++i) {
        lastStart = i;
        if (IsDBCSLeadByte(static_cast<BYTE>(path[i])) && i + 1 < path.size()) {
            ++i;
        }
    }
    if (lastStart == path.size() - 1 && path[lastStart] == '\\') {
        path.pop_back();
    }
    if (path.size() < 3 || DirectoryExists(path)) {
        return;
    }
    size_t parentEnd = 0;
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '\\' || path[i] == ':') {
            parentEnd = i + 1;
        } else if (IsDBCSLeadByte(static_cast<BYTE>(path[i])) && i + 1 < path.size()) {
            ++i;
        }
    }
    std::string parent = path.substr(0, parentEnd);
    if (parent == path) {
        return;
    }
    ForceDirectories(parent);
    CreateDirectoryA(path.c_str(), nullptr);
}

namespace {
// A small file gets a buffer of its own size, not a whole block: loading many
// small INI files then costs no large allocation each. The size is only a
// hint; a file that grows is still read to its end, block by block.
size_t BufferSizeFor(TFileHandle handle, size_t blockSize) {
    const size_t kSmallest = 4096;
    DWORD size = GetFileSize(ToHandle(handle), nullptr);
    if (size != INVALID_FILE_SIZE && static_cast<size_t>(size) < blockSize) {
        blockSize = std::max(kSmallest, static_cast<size_t>(size) + 1);
    }
    return blockSize == 0 ? 1 : blockSize;
}
} // namespace

TBlockLineReader::TBlockLineReader(TFileHandle handle, size_t blockSize, TLineEnds ends)
    : handle_(handle), ends_(ends), buffer_(BufferSizeFor(handle, blockSize), '\0') {}

bool TBlockLineReader::Fill() {
    pos_ = 0;
    len_ = 0;
    if (eof_) {
        return false;
    }
    DWORD got = 0;
    if (!ReadFile(ToHandle(handle_), &buffer_[0], static_cast<DWORD>(buffer_.size()), &got,
                  nullptr)) {
        // Taken as the end of the file, once: never retried.
        failed_ = true;
        eof_ = true;
        return false;
    }
    if (got == 0) {
        eof_ = true;
        return false;
    }
    len_ = got;
    return true;
}

bool TBlockLineReader::Next(std::string& line, std::string* raw) {
    line.clear();
    if (raw) {
        raw->clear();
    }
    if (ends_ == TLineEnds::AtCrOrLf) {
        return NextAtAnyEnd(line, raw);
    }
    // FileReadLine is called while a byte is left, and every byte up to the
    // next CR belongs to that line, LF or not.
    bool any = tookLineFeed_;
    tookLineFeed_ = false;
    for (;;) {
        if (pos_ == len_ && !Fill()) {
            return any;
        }
        const char* start = buffer_.data() + pos_;
        size_t avail = len_ - pos_;
        const char* cr = static_cast<const char*>(memchr(start, '\r', avail));
        size_t take = cr ? static_cast<size_t>(cr - start) : avail;
        if (take > 0) {
            any = true;
            if (raw) {
                raw->append(start, take);
            }
            const char* lf = static_cast<const char*>(memchr(start, '\n', take));
            if (!lf) {
                line.append(start, take);
            } else {
                for (size_t i = 0; i < take; ++i) {
                    if (!IsLineFeed(start[i])) {
                        line += start[i];
                    }
                }
            }
        }
        pos_ += take;
        if (!cr) {
            continue;
        }
        ++pos_;
        if (raw) {
            *raw += '\r';
        }
        if (pos_ == len_) {
            Fill();
        }
        if (pos_ < len_ && buffer_[pos_] == '\n') {
            ++pos_;
            tookLineFeed_ = true;
            if (raw) {
                *raw += '\n';
            }
        }
        return true;
    }
}

bool TBlockLineReader::NextAtAnyEnd(std::string& line, std::string* raw) {
    // One pass over the bytes: a search for CR and another for LF would each
    // run on past the line that the other ends.
    for (;;) {
        if (pos_ == len_ && !Fill()) {
            return !line.empty();
        }
        const char* start = buffer_.data() + pos_;
        const size_t avail = len_ - pos_;
        size_t take = 0;
        while (take < avail && start[take] != '\r' && start[take] != '\n') {
            ++take;
        }
        line.append(start, take);
        if (raw) {
            raw->append(start, take);
        }
        pos_ += take;
        if (take == avail) {
            continue;
        }
        const char end = buffer_[pos_++];
        if (raw) {
            *raw += end;
        }
        if (end == '\r') {
            if (pos_ == len_) {
                Fill();
            }
            if (pos_ < len_ && buffer_[pos_] == '\n') {
                ++pos_;
                if (raw) {
                    *raw += '\n';
                }
            }
        }
        return true;
    }
}
