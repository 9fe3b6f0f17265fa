// Fails a server's storage calls on command, for the storage tests: loaded
// into the server with LD_PRELOAD, it fails fdatasync and fsync with EIO
// while the file "sync" is in the directory $GAME501_FAULTS, and writes to a
// SQLite log (a file whose name ends in -wal) while "write" is.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
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

}  // extern "C"
