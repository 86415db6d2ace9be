// Our temporary files beside an INI file: names that carry the program's
// mark and a CRC-32 of the bytes they hold, so that a file is taken for ours
// only when both agree; finding them, and removing the leftovers of a
// write-back that a crash cut short.
#include "ktSafeWriteNames.h"

#include "ktHandle.h"
#include "ktPlatform.h"
#include "ktText.h"
#include "ktFileBytes.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

const char kMark[] = ".~vt";

const char* KindSuffix(TTempKind kind) {
    return kind == kTempNew ? "new" : "old";
}

std::string Hex(uint32_t value, int width) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*lx", width, static_cast<unsigned long>(value));
    return text;
}

bool IsHex(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::string FolderOf(const std::string& fileName) {
    size_t end = fileName.find_last_of("\\/:");
    return fileName.substr(0, end == std::string::npos ? 0 : end + 1);
}

typedef DWORD(WINAPI* TFinalPathCall)(HANDLE, LPSTR, DWORD, DWORD);
typedef BOOL(WINAPI* TReplaceCall)(LPCSTR, LPCSTR, LPCSTR, DWORD, LPVOID, LPVOID);

FARPROC Kernel32Call(const char* name) {
    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    return kernel32 == nullptr ? nullptr : GetProcAddress(kernel32, name);
}

// The existing file's name as its folder spells it, links not followed.
std::string SpelledName(const std::string& fileName) {
    WIN32_FIND_DATAA data;
    TScopedFind find(FindFirstFileA(fileName.c_str(), &data));
    return find ? FolderOf(fileName) + data.cFileName : fileName;
}

} // namespace

std::vector<TTempName> OurNamesBeside(const std::string& fileName) {
    std::vector<TTempName> names;
    if (fileName.find_first_of("*?") != std::string::npos) {
        return names;
    }
    WIN32_FIND_DATAA data;
    TScopedFind find(FindFirstFileA((fileName + kMark + "*").c_str(), &data));
    if (!find) {
        return names;
    }
    do {
        TTempName name;
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            TTempName::Parse(fileName, data.cFileName, name)) {
            names.push_back(name);
        }
    } while (FindNextFileA(find.Get(), &data));
    return names;
}

void RemoveOurs(const TTempName& name) {
    SetFileAttributesA(name.Path().c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(name.Path().c_str());
}

uint32_t Crc32(const std::string& bytes) {
    static const std::vector<uint32_t> table = [] {
        std::vector<uint32_t> entries(256);
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            entries[n] = c;
        }
        return entries;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : bytes) {
        crc = table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
    }
    return crc ^ 0xFFFFFFFFu;
}

TTempName::TTempName(const std::string& fileName, const std::string& id, uint32_t crc,
                     TTempKind kind)
    : fileName_(fileName), id_(id), crc_(crc), kind_(kind),
      path_(fileName + kMark + id + "." + Hex(crc, 8) + "." + KindSuffix(kind)) {}

TTempName TTempName::Fresh(const std::string& fileName, uint32_t crc, TTempKind kind) {
    static uint32_t count = 0;
    return TTempName(fileName, Hex(GetCurrentProcessId(), 1) + "-" + Hex(count++, 1), crc, kind);
}

bool TTempName::Parse(const std::string& fileName, const std::string& found, TTempName& name) {
    // found: "<base>.~vt<ID>.<CRC>.<kind>", ID "<hex>-<hex>".
    // The file's own name as the folder spells it, which may differ in
    // letter case from the name asked for.
    const std::string base = fileName.substr(FolderOf(fileName).size());
    const size_t head = base.size() + sizeof kMark - 1;
    if (found.size() <= head + 13 || UpperCase(found.substr(0, base.size())) != UpperCase(base) ||
        found.compare(base.size(), sizeof kMark - 1, kMark) != 0) {
        return false;
    }
    const std::string rest = found.substr(head);
    const std::string kind = rest.substr(rest.size() - 3);
    if (rest[rest.size() - 4] != '.' || rest[rest.size() - 13] != '.' ||
        (kind != "new" && kind != "old")) {
        return false;
    }
    const std::string crc = rest.substr(rest.size() - 12, 8);
    const std::string id = rest.substr(0, rest.size() - 13);
    size_t dash = id.find('-');
    if (!IsHex(crc) || dash == std::string::npos || !IsHex(id.substr(0, dash)) ||
        !IsHex(id.substr(dash + 1))) {
        return false;
    }
    name = TTempName(FolderOf(fileName) + found.substr(0, base.size()), id,
                     static_cast<uint32_t>(std::strtoul(crc.c_str(), nullptr, 16)),
                     kind == "new" ? kTempNew : kTempOld);
    return true;
}

TTempName TTempName::Partner(uint32_t crc) const {
    return TTempName(fileName_, id_, crc, kind_ == kTempNew ? kTempOld : kTempNew);
}

bool TTempName::HoldsItsBytes() const {
    std::string bytes;
    return ReadWholeFile(path_, bytes) && Holds(bytes);
}

bool TTempName::Holds(const std::string& bytes) const {
    return Crc32(bytes) == crc_;
}

std::string FinalFileName(const std::string& fileName) {
    if (fileName.find_first_of("*?") != std::string::npos) {
        return fileName;
    }
    auto finalPath = reinterpret_cast<TFinalPathCall>(
        reinterpret_cast<void (*)()>(Kernel32Call("GetFinalPathNameByHandleA")));
    if (finalPath == nullptr) {
        return SpelledName(fileName);
    }
    TScopedHandle file(CreateFileA(fileName.c_str(), 0, ShareAll(), nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    char path[MAX_PATH * 2];
    DWORD length = file ? finalPath(file.Get(), path, sizeof path, 0) : 0;
    if (length == 0 || length >= sizeof path) {
        return SpelledName(fileName);
    }
    std::string result(path, length);
    if (result.compare(0, 8, "\\\\?\\UNC\\") == 0) {
        return "\\" + result.substr(7);
    }
    if (result.compare(0, 4, "\\\\?\\") == 0) {
        return result.substr(4);
    }
    return result;
}

void RemoveOurLeftovers(const std::string& fileName) {
    for (const TTempName& name : OurNamesBeside(fileName)) {
        // An empty file of our form is one that a crash stopped before its
        // first byte: it holds nothing anyone could lose.
        std::string bytes;
        if (ReadWholeFile(name.Path(), bytes) && (bytes.empty() || name.Holds(bytes))) {
            RemoveOurs(name);
        }
    }
}

bool ReplaceWithRights(const std::string& fileName, const std::string& replacement) {
    auto replace =
        reinterpret_cast<TReplaceCall>(reinterpret_cast<void (*)()>(Kernel32Call("ReplaceFileA")));
    if (replace == nullptr) {
        return CarryRights(fileName, replacement) &&
               MoveFileExA(replacement.c_str(), fileName.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    }
    // A file that another program holds open without sharing writing or
    // deletion cannot be replaced: found out first, so that the call is not
    // even tried (Wine's moves the file aside under a name of its own and
    // leaves that file behind when it cannot).
    TScopedHandle probe(CreateFileA(fileName.c_str(), GENERIC_WRITE | DELETE, ShareAll(), nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!probe) {
        return false;
    }
    probe.Close();
    // The replacement was flushed before; REPLACEFILE_WRITE_THROUGH is not
    // supported by the call. Rights that cannot be carried over (a file
    // system without them) do not stop the write-back.
    return replace(fileName.c_str(), replacement.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                   nullptr, nullptr) != FALSE;
}

bool CarryRights(const std::string& from, const std::string& to) {
    const SECURITY_INFORMATION parts =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    std::vector<BYTE> descriptor(512);
    DWORD needed = 0;
    BOOL got = GetFileSecurityA(from.c_str(), parts, descriptor.data(),
                                static_cast<DWORD>(descriptor.size()), &needed);
    if (!got && GetLastError() == ERROR_INSUFFICIENT_BUFFER && needed > descriptor.size()) {
        descriptor.resize(needed);
        got = GetFileSecurityA(from.c_str(), parts, descriptor.data(),
                               static_cast<DWORD>(descriptor.size()), &needed);
    }
    if (!got) {
        DWORD error = GetLastError();
        // The 95 family implements no security calls; a file system without
        // rights (FAT) has none to keep.
        return error == ERROR_CALL_NOT_IMPLEMENTED || error == ERROR_NOT_SUPPORTED ||
               error == ERROR_INVALID_FUNCTION;
    }
    return SetFileSecurityA(to.c_str(), parts, descriptor.data()) != FALSE;
}
