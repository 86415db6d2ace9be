// Share modes across handles and processes. Every open that asks for data
// access takes shared locks on bytes far beyond any real file offset: one
// byte per access it holds and one per access it denies others. A lock held
// by another open file description (in this process or any other) on the
// opposite byte is a sharing violation. Linux's open-file-description locks
// (F_OFD_SETLK) make this work between handles of one process too.
#include "files.h"

#include <fcntl.h>

namespace pal {

namespace {

constexpr off_t kLockBase = static_cast<off_t>(0x7fffffff00000000LL);
constexpr off_t kAccessByte = kLockBase;    // + bit: "I hold this access"
constexpr off_t kDenyByte = kLockBase + 16; // + bit: "I deny this access"
// Right after the byte that denies deletion: "a process runs this file as its
// program or has it loaded as a library". One query over both bytes tells a
// delete whether it is refused, and why.
constexpr off_t kImageByte = kDenyByte + 3;

// Every lock of a share mode is a shared one, taken without waiting.
bool LockByte(int fd, off_t offset) {
    return pal::LockByte(fd, F_RDLCK, offset, false);
}

} // namespace

DWORD FileRights(DWORD desired) {
    DWORD rights =
        desired & ~static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    if (desired & GENERIC_READ) {
        rights |= FILE_GENERIC_READ;
    }
    if (desired & GENERIC_WRITE) {
        rights |= FILE_GENERIC_WRITE;
    }
    if (desired & GENERIC_EXECUTE) {
        rights |= FILE_GENERIC_EXECUTE;
    }
    if (desired & GENERIC_ALL) {
        rights |= FILE_ALL_ACCESS;
    }
    return rights;
}

// Only data access takes part in sharing: reading is FILE_READ_DATA or
// FILE_EXECUTE, writing FILE_WRITE_DATA or FILE_APPEND_DATA.
unsigned AccessBits(DWORD desired) {
    DWORD rights = FileRights(desired);
    unsigned bits = 0;
    if (rights & (FILE_READ_DATA | FILE_EXECUTE)) {
        bits |= 1u << kRead;
    }
    if (rights & (FILE_WRITE_DATA | FILE_APPEND_DATA)) {
        bits |= 1u << kWrite;
    }
    if (rights & DELETE) {
        bits |= 1u << kDelete;
    }
    return bits;
}

unsigned ShareBits(DWORD share) {
    unsigned bits = 0;
    if (share & FILE_SHARE_READ) {
        bits |= 1u << kRead;
    }
    if (share & FILE_SHARE_WRITE) {
        bits |= 1u << kWrite;
    }
    if (share & FILE_SHARE_DELETE) {
        bits |= 1u << kDelete;
    }
    return bits;
}

// Takes the share locks of an open on fd and reports whether it conflicts
// with an open that exists already. The locks are taken before the check,
// so of two racing conflicting opens at least one fails.
bool AcquireShare(int fd, unsigned access, unsigned share) {
    if (access == 0) {
        return true; // opens without data access neither conflict nor deny
    }
    for (unsigned bit = 0; bit < 3; ++bit) {
        if (access & (1u << bit)) {
            LockByte(fd, kAccessByte + bit);
        }
        if (!(share & (1u << bit))) {
            LockByte(fd, kDenyByte + bit);
        }
    }
    for (unsigned bit = 0; bit < 3; ++bit) {
        if ((access & (1u << bit)) && OthersHold(fd, kDenyByte + bit)) {
            return false;
        }
        if (!(share & (1u << bit)) && OthersHold(fd, kAccessByte + bit)) {
            return false;
        }
    }
    return true;
}

BorrowedAccess::BorrowedAccess(int fd, unsigned access) : fd_(fd) {
    for (unsigned bit = 0; bit < 3; ++bit) {
        if ((access & (1u << bit)) && LockByte(fd, kAccessByte + bit)) {
            taken_ |= 1u << bit;
        }
    }
    for (unsigned bit = 0; bit < 3; ++bit) {
        if ((access & (1u << bit)) && OthersHold(fd, kDenyByte + bit)) {
            granted_ = false;
        }
    }
}

BorrowedAccess::~BorrowedAccess() {
    for (unsigned bit = 0; bit < 3; ++bit) {
        if (taken_ & (1u << bit)) {
            struct flock lock = {};
            lock.l_type = F_UNLCK;
            lock.l_whence = SEEK_SET;
            lock.l_start = kAccessByte + bit;
            lock.l_len = 1;
            fcntl(fd_, F_OFD_SETLK, &lock);
        }
    }
}

bool HoldImage(int fd) {
    // Data is read from an image and nobody may write it; deleting and
    // renaming stay shared, but the image byte refuses deletes.
    return LockByte(fd, kAccessByte + kRead) && LockByte(fd, kDenyByte + kWrite) &&
           LockByte(fd, kImageByte);
}

TransientAccess::TransientAccess(const std::string& nativePath, ShareBit right)
    : fd_(open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK)), right_(right) {
}

bool TransientAccess::Granted() {
    if (!fd_) {
        return true; // not a regular file we can open: nothing holds it
    }
    return AcquireShare(fd_.get(), 1u << right_, (1u << kRead) | (1u << kWrite) | (1u << kDelete));
}

DWORD TransientAccess::DeleteRefusal() {
    if (!fd_) {
        return ERROR_SUCCESS;
    }
    LockByte(fd_.get(), kAccessByte + kDelete);
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = kDenyByte + kDelete;
    lock.l_len = 2; // the byte that denies deletion and the image byte
    if (fcntl(fd_.get(), F_OFD_GETLK, &lock) != 0 || lock.l_type == F_UNLCK) {
        return ERROR_SUCCESS;
    }
    // A lock reaching the image byte: a running program or a loaded library.
    return lock.l_start + lock.l_len > kImageByte && lock.l_start <= kImageByte
               ? ERROR_ACCESS_DENIED
               : ERROR_SHARING_VIOLATION;
}

} // namespace pal
