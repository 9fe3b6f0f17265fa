// Fails a server's storage calls on command, for the storage tests: loaded
// into the server with LD_PRELOAD, it fails fdatasync and fsync with EIO
// while the file "sync" is in the directory $GAME501_FAULTS, writes to a
// SQLite log (a file whose name ends in -wal) while "write" is, and the
// server's own opens of the log (read-only) while "open-wal" is and of its
// index (-shm, never created) while "open-shm" is; SQLite's opens create.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool commanded(const char* fault) {
    const char* directory = std::getenv("GAME501_FAULTS");
    if (directory == nullptr) {
        return false;
    }
    char path[PATH_MAX];
    std::snprintf(path, sizeof path, "%s/%s", directory, fault);
    return access(path, F_OK) == 0;
}

bool isLog(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[PATH_MAX];
    const ssize_t length = readlink(link, target, sizeof target - 1);
    return length > 4 && std::memcmp(target + length - 4, "-wal", 4) == 0;
}

bool endsWith(const char* text, const char* end) {
    const std::size_t length = std::strlen(text);
    const std::size_t end_length = std::strlen(end);
    return length >= end_length && std::strcmp(text + length - end_length, end) == 0;
}

template <typename Function>
Function next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

using Sync = int (*)(int);

int syncUnlessFailing(Sync real, int fd) {
    if (commanded("sync")) {
        errno = EIO;
        return -1;
    }
    return real(fd);
}

}  // namespace

extern "C" {

int fdatasync(int fd) {
    static const auto real = next<Sync>("fdatasync");
    return syncUnlessFailing(real, fd);
}

int fsync(int fd) {
    static const auto real = next<Sync>("fsync");
    return syncUnlessFailing(real, fd);
}

ssize_t pwrite64(int fd, const void* buffer, size_t count, off64_t offset) {
    if (commanded("write") && isLog(fd)) {
        errno = EIO;
        return -1;
    }
    static const auto real = next<ssize_t (*)(int, const void*, size_t, off64_t)>("pwrite64");
    return real(fd, buffer, count, offset);
}

int open(const char* path, int flags, ...) {
    int mode = 0;
    if ((flags & O_CREAT) != 0) {
        va_list arguments;
        va_start(arguments, flags);
        mode = va_arg(arguments, int);
        va_end(arguments);
    }
    if ((flags & O_CREAT) == 0 && ((commanded("open-wal") && endsWith(path, "-wal")) ||
                                   (commanded("open-shm") && endsWith(path, "-shm")))) {
        errno = EIO;
        return -1;
    }
    static const auto real = next<int (*)(const char*, int, ...)>("open");
    return real(path, flags, mode);
}

}  // extern "C"
