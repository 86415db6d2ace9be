// Open-file-description locks on single bytes, the means by which share
// modes (file_share.cpp) and named mutexes (mutex.cpp) hold across handles
// and processes: a lock belongs to the open file description, so two
// handles of one process see each other's locks as another process's.
#include "internal.h"

#include <cerrno>

#include <fcntl.h>

namespace pal {

bool LockByte(int fd, short type, off_t offset, bool wait) {
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = offset;
    lock.l_len = 1;
    int result;
    do {
        result = fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock);
    } while (result != 0 && wait && errno == EINTR);
    return result == 0;
}

bool OthersHold(int fd, off_t offset) {
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = offset;
    lock.l_len = 1;
    if (fcntl(fd, F_OFD_GETLK, &lock) != 0) {
        return false; // no locks on this file system: nothing to enforce
    }
    return lock.l_type != F_UNLCK;
}

} // namespace pal
