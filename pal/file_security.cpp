// A file's access rights as a security descriptor (GetFileSecurityA,
// SetFileSecurityA): what stands for them here is the file's owner, group
// and mode. The descriptor is self-relative, as Windows gives it: the owner
// as S-1-22-1-<uid>, the group as S-1-22-2-<gid> (the Unix forms Samba
// uses), and an access list that allows the owner, the group and Everyone
// (S-1-1-0) what the mode's three triplets allow them.
#include "faults.h"
#include "files.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <unistd.h>

namespace pal {

namespace {

constexpr WORD kSelfRelative = 0x8000; // SE_SELF_RELATIVE
constexpr WORD kDaclPresent = 0x0004;  // SE_DACL_PRESENT
constexpr size_t kHeaderSize = 20;     // SECURITY_DESCRIPTOR_RELATIVE
constexpr size_t kAclHeaderSize = 8;
constexpr size_t kAceHeaderSize = 8; // type, flags, size, mask
constexpr BYTE kUnixAuthority = 22;
constexpr BYTE kWorldAuthority = 1;

// What one triplet of the mode grants, as file rights, and back.
DWORD RightsOf(unsigned triplet) {
    DWORD rights = 0;
    rights |= (triplet & 4) ? FILE_GENERIC_READ : 0;
    rights |= (triplet & 2) ? FILE_GENERIC_WRITE : 0;
    rights |= (triplet & 1) ? FILE_GENERIC_EXECUTE : 0;
    return rights;
}

unsigned TripletOf(DWORD rights) {
    rights = FileRights(rights);
    return ((rights & FILE_READ_DATA) ? 4u : 0u) | ((rights & FILE_WRITE_DATA) ? 2u : 0u) |
           ((rights & FILE_EXECUTE) ? 1u : 0u);
}

// A security identifier: S-1-<authority>-<sub authorities>.
struct Sid {
    BYTE authority = 0;
    std::vector<DWORD> parts;
    bool operator==(const Sid& other) const {
        return authority == other.authority && parts == other.parts;
    }
};

void Put16(std::vector<BYTE>& out, size_t at, WORD value) {
    std::memcpy(out.data() + at, &value, sizeof value);
}

void Put32(std::vector<BYTE>& out, size_t at, DWORD value) {
    std::memcpy(out.data() + at, &value, sizeof value);
}

WORD Get16(const BYTE* in) {
    WORD value;
    std::memcpy(&value, in, sizeof value);
    return value;
}

DWORD Get32(const BYTE* in) {
    DWORD value;
    std::memcpy(&value, in, sizeof value);
    return value;
}

void AppendSid(std::vector<BYTE>& out, const Sid& sid) {
    out.push_back(1); // revision
    out.push_back(static_cast<BYTE>(sid.parts.size()));
    for (int i = 0; i < 5; ++i) {
        out.push_back(0);
    }
    out.push_back(sid.authority);
    for (DWORD part : sid.parts) {
        out.resize(out.size() + 4);
        Put32(out, out.size() - 4, part);
    }
}

// The identifier at `at` of a descriptor `size` bytes long; false when it
// does not fit or is not one.
bool ReadSid(const BYTE* descriptor, size_t size, size_t at, Sid& sid) {
    if (at < kHeaderSize || at + 8 > size || descriptor[at] != 1) {
        return false;
    }
    size_t count = descriptor[at + 1];
    if (at + 8 + 4 * count > size) {
        return false;
    }
    for (size_t i = 2; i < 7; ++i) {
        if (descriptor[at + i] != 0) {
            return false; // an authority beyond one byte is no one here
        }
    }
    sid.authority = descriptor[at + 7];
    sid.parts.clear();
    for (size_t i = 0; i < count; ++i) {
        sid.parts.push_back(Get32(descriptor + at + 8 + 4 * i));
    }
    return true;
}

Sid UserSid(uid_t uid) {
    return Sid{kUnixAuthority, {1, static_cast<DWORD>(uid)}};
}

Sid GroupSid(gid_t gid) {
    return Sid{kUnixAuthority, {2, static_cast<DWORD>(gid)}};
}

Sid Everyone() {
    return Sid{kWorldAuthority, {0}};
}

std::vector<BYTE> Describe(const struct stat& st, SECURITY_INFORMATION parts) {
    std::vector<BYTE> out(kHeaderSize, 0);
    out[0] = 1; // revision
    WORD control = kSelfRelative;
    if (parts & OWNER_SECURITY_INFORMATION) {
        Put32(out, 4, static_cast<DWORD>(out.size()));
        AppendSid(out, UserSid(st.st_uid));
    }
    if (parts & GROUP_SECURITY_INFORMATION) {
        Put32(out, 8, static_cast<DWORD>(out.size()));
        AppendSid(out, GroupSid(st.st_gid));
    }
    if (parts & DACL_SECURITY_INFORMATION) {
        control |= kDaclPresent;
        size_t acl = out.size();
        Put32(out, 16, static_cast<DWORD>(acl));
        out.resize(acl + kAclHeaderSize, 0);
        out[acl] = 2; // ACL_REVISION
        const Sid who[] = {UserSid(st.st_uid), GroupSid(st.st_gid), Everyone()};
        for (int i = 0; i < 3; ++i) {
            size_t ace = out.size();
            out.resize(ace + kAceHeaderSize, 0); // ACCESS_ALLOWED_ACE, no flags
            Put32(out, ace + 4, RightsOf((st.st_mode >> (6 - 3 * i)) & 7));
            AppendSid(out, who[i]);
            Put16(out, ace + 2, static_cast<WORD>(out.size() - ace));
        }
        Put16(out, acl + 2, static_cast<WORD>(out.size() - acl));
        Put16(out, acl + 4, 3);
    }
    Put16(out, 2, control);
    return out;
}

// What a descriptor given to SetFileSecurityA asks for, against the file's
// present state `st`; false with the error for one this layer cannot carry
// out.
struct Wanted {
    uid_t uid;
    gid_t gid;
    mode_t mode;
};

DWORD ReadWanted(const BYTE* descriptor, SECURITY_INFORMATION parts, const struct stat& st,
                 Wanted& wanted) {
    wanted = Wanted{st.st_uid, st.st_gid, static_cast<mode_t>(st.st_mode & 07777)};
    if (descriptor[0] != 1 || !(Get16(descriptor + 2) & kSelfRelative)) {
        return ERROR_INVALID_SECURITY_DESCR;
    }
    // A self-relative descriptor ends with its last part; its size is not
    // stored, so each part is read where its offset points.
    const size_t size = 0xFFFF;
    Sid sid;
    if (parts & OWNER_SECURITY_INFORMATION) {
        if (!ReadSid(descriptor, size, Get32(descriptor + 4), sid) ||
            sid.authority != kUnixAuthority || sid.parts.size() != 2 || sid.parts[0] != 1) {
            return ERROR_INVALID_OWNER;
        }
        wanted.uid = static_cast<uid_t>(sid.parts[1]);
    }
    if (parts & GROUP_SECURITY_INFORMATION) {
        if (!ReadSid(descriptor, size, Get32(descriptor + 8), sid) ||
            sid.authority != kUnixAuthority || sid.parts.size() != 2 || sid.parts[0] != 2) {
            return ERROR_INVALID_PRIMARY_GROUP;
        }
        wanted.gid = static_cast<gid_t>(sid.parts[1]);
    }
    if (!(parts & DACL_SECURITY_INFORMATION)) {
        return ERROR_SUCCESS;
    }
    // The special bits stay; no access list at all grants everything.
    mode_t mode = wanted.mode & 07000;
    size_t acl = Get32(descriptor + 16);
    if (!(Get16(descriptor + 2) & kDaclPresent) || acl == 0) {
        wanted.mode = mode | 0777;
        return ERROR_SUCCESS;
    }
    if (acl < kHeaderSize || descriptor[acl] != 2) {
        return ERROR_INVALID_SECURITY_DESCR;
    }
    size_t at = acl + kAclHeaderSize;
    for (WORD i = 0, count = Get16(descriptor + acl + 4); i < count; ++i) {
        WORD aceSize = Get16(descriptor + at + 2);
        if (aceSize < kAceHeaderSize + 8 || !ReadSid(descriptor, size, at + kAceHeaderSize, sid)) {
            return ERROR_INVALID_SECURITY_DESCR;
        }
        // Allowing entries of the owner, the group and Everyone count;
        // denying ones and those of other identifiers have no bits here.
        unsigned triplet = descriptor[at] == 0 ? TripletOf(Get32(descriptor + at + 4)) : 0;
        if (sid == UserSid(wanted.uid)) {
            mode |= triplet << 6;
        } else if (sid == GroupSid(wanted.gid)) {
            mode |= triplet << 3;
        } else if (sid == Everyone()) {
            mode |= triplet;
        }
        at += aceSize;
    }
    wanted.mode = mode;
    return ERROR_SUCCESS;
}

} // namespace

} // namespace pal

using namespace pal;

BOOL WINAPI GetFileSecurityA(LPCSTR lpFileName, SECURITY_INFORMATION RequestedInformation,
                             PSECURITY_DESCRIPTOR pSecurityDescriptor, DWORD nLength,
                             LPDWORD lpnLengthNeeded) {
    if (lpnLengthNeeded == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::string path;
    struct stat st;
    if (!ResolveExisting(lpFileName, path, st)) {
        return FALSE;
    }
    std::vector<BYTE> descriptor = Describe(st, RequestedInformation);
    *lpnLengthNeeded = static_cast<DWORD>(descriptor.size());
    if (pSecurityDescriptor == nullptr || nLength < descriptor.size()) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::memcpy(pSecurityDescriptor, descriptor.data(), descriptor.size());
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL WINAPI SetFileSecurityA(LPCSTR lpFileName, SECURITY_INFORMATION SecurityInformation,
                             PSECURITY_DESCRIPTOR pSecurityDescriptor) {
    if (pal::InjectedFault("SetFileSecurityA")) {
        return FALSE;
    }
    if (pSecurityDescriptor == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    std::string path;
    struct stat st;
    if (!ResolveExisting(lpFileName, path, st)) {
        return FALSE;
    }
    Wanted wanted;
    DWORD error =
        ReadWanted(static_cast<const BYTE*>(pSecurityDescriptor), SecurityInformation, st, wanted);
    if (error != ERROR_SUCCESS) {
        return Fail(error);
    }
    // The owner first: a change of owner may clear the mode's special bits.
    if ((wanted.uid != st.st_uid || wanted.gid != st.st_gid) &&
        chown(path.c_str(), wanted.uid, wanted.gid) != 0) {
        return Fail(wanted.uid != st.st_uid ? ERROR_INVALID_OWNER : ERROR_INVALID_PRIMARY_GROUP);
    }
    if (wanted.mode != (st.st_mode & 07777) && chmod(path.c_str(), wanted.mode) != 0) {
        return Fail(ErrorFromErrno(errno));
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}
