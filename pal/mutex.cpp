// Named mutexes across the processes of one machine folder: CreateMutexA,
// ReleaseMutex and waits on them. A name is a file in the folder's
// "mutexes" folder; every handle holds a shared lock on its first byte (the
// object exists while one does), the owner an exclusive lock on the second.
// The locks are open-file-description locks, so they hold between handles of
// one process too, and go with the last descriptor of a process that ends.
#include "internal.h"

#include <cerrno>
#include <ctime>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

namespace pal {

namespace {

constexpr off_t kExistsByte = 0;
constexpr off_t kOwnerByte = 1;

struct MutexObject : Object {
    UniqueFd fd;
    int owned = 0; // recursion count of this handle's ownership
};

// "Global\" and "Local\" name one namespace: the machine's.
std::string FileOfName(const std::string& name) {
    std::string bare = name;
    for (const char* prefix : {"Global\\", "Local\\"}) {
        size_t length = std::strlen(prefix);
        if (bare.compare(0, length, prefix) == 0) {
            bare = bare.substr(length);
            break;
        }
    }
    static const char kHex[] = "0123456789abcdef";
    std::string file;
    for (unsigned char c : bare) {
        file += kHex[c >> 4];
        file += kHex[c & 15];
    }
    return MachineRoot() + "/mutexes/" + file;
}

bool TryOwn(MutexObject& mutex, bool wait) {
    if (mutex.owned == 0 && !LockByte(mutex.fd.get(), F_WRLCK, kOwnerByte, wait)) {
        return false;
    }
    ++mutex.owned;
    return true;
}

} // namespace

bool WaitForMutex(HANDLE handle, DWORD milliseconds, DWORD& result) {
    auto* mutex = LookupHandleAs<MutexObject>(handle);
    if (mutex == nullptr) {
        return false;
    }
    if (milliseconds == INFINITE) {
        result = TryOwn(*mutex, true) ? WAIT_OBJECT_0 : WAIT_FAILED;
        return true;
    }
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    while (!TryOwn(*mutex, false)) {
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        long long elapsed =
            (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000LL;
        if (elapsed >= static_cast<long long>(milliseconds)) {
            result = WAIT_TIMEOUT;
            return true;
        }
        struct timespec pause = {0, 1000000};
        nanosleep(&pause, nullptr);
    }
    result = WAIT_OBJECT_0;
    return true;
}

} // namespace pal

using namespace pal;

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL bInitialOwner, LPCSTR lpName) {
    auto mutex = std::make_unique<MutexObject>();
    bool existed = false;
    if (lpName == nullptr || *lpName == '\0') {
        // Unnamed: known to this process only; any descriptor carries the locks.
        mutex->fd.Reset(memfd_create("mutex", MFD_CLOEXEC));
    } else {
        std::string path = FileOfName(lpName);
        mkdir((MachineRoot() + "/mutexes").c_str(), 0777);
        mutex->fd.Reset(open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
        if (mutex->fd) {
            existed = OthersHold(mutex->fd.get(), kExistsByte);
        }
    }
    if (!mutex->fd) {
        SetLastError(ErrorFromErrno(errno));
        return nullptr;
    }
    LockByte(mutex->fd.get(), F_RDLCK, kExistsByte, false);
    // An existing mutex is opened, not taken: the initial owner counts only
    // for a new one.
    if (bInitialOwner && !existed) {
        TryOwn(*mutex, false);
    }
    HANDLE handle = AddHandle(std::move(mutex));
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return handle;
}

BOOL WINAPI ReleaseMutex(HANDLE hMutex) {
    auto* mutex = LookupHandleAs<MutexObject>(hMutex);
    if (mutex == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (mutex->owned == 0) {
        SetLastError(ERROR_NOT_OWNER);
        return FALSE;
    }
    if (--mutex->owned == 0) {
        struct flock lock = {};
        lock.l_type = F_UNLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = kOwnerByte;
        lock.l_len = 1;
        fcntl(mutex->fd.get(), F_OFD_SETLK, &lock);
    }
    return TRUE;
}
