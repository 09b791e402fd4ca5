// Files on Linux and other POSIX systems.
#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/files_native.h"

namespace native_file {

namespace {

int fd_of(Handle file) {
    return static_cast<int>(file);
}

}  // namespace

Handle open(const std::filesystem::path& path, bool read, bool write, bool create, int /*share*/) {
    int flags = read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
    if (create) flags |= O_CREAT;
    int fd;
    // Non-blocking only while opening, so a FIFO without a writer cannot hang the caller.
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return kNone;
    const int status = ::fcntl(fd, F_GETFL);
    struct stat info {};
    if (status == -1 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) == -1 ||
        ::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        return kNone;
    }
    return fd;
}

bool identify(Handle file, Identity& identity, bool& regular) {
    struct stat info {};
    if (::fstat(fd_of(file), &info) != 0) return false;
    identity = {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
    regular = S_ISREG(info.st_mode);
    return true;
}

bool lock_for_share(Handle file, int share) {
    if (share == 1) return true;
    const int how = (share == 4 ? LOCK_EX : LOCK_SH) | LOCK_NB;
    int rc;
    do {
        rc = ::flock(fd_of(file), how);
    } while (rc != 0 && errno == EINTR);
    // A file system without flock still opens; only a lock held elsewhere refuses.
    return rc == 0 || errno != EWOULDBLOCK;
}

bool truncate(Handle file) {
    return ::ftruncate(fd_of(file), 0) == 0;
}

bool seek_end(Handle file) {
    return ::lseek(fd_of(file), 0, SEEK_END) >= 0;
}

long long size(Handle file) {
    struct stat info {};
    if (::fstat(fd_of(file), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    return static_cast<long long>(info.st_size);
}

long long read_some(Handle file, char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t got = ::read(fd_of(file), buffer, size);
        if (got >= 0) return got;
        if (errno != EINTR) return -1;
    }
}

bool write_all(Handle file, const char* data, std::size_t size) {
    while (size > 0) {
        const std::size_t chunk = size > (1u << 30) ? (1u << 30) : size;
        const ssize_t written = ::write(fd_of(file), data, chunk);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (written == 0) return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

void close(Handle file) {
    ::close(fd_of(file));
}

}  // namespace native_file
#endif
