#include "runtime/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

enum Access : unsigned { kRead = 1, kWrite = 2 };

// Share values: 1 deny none, 2 deny read, 3 deny write, 4 exclusive -> what others may still do.
unsigned allowed_by_share(int share) {
    switch (share) {
        case 1:
            return kRead | kWrite;
        case 2:
            return kWrite;
        case 3:
            return kRead;
        default:
            return 0;
    }
}

struct FileKey {
    dev_t device;
    ino_t inode;
    bool operator<(const FileKey& other) const {
        return device != other.device ? device < other.device : inode < other.inode;
    }
};

// One open file. Closing the descriptor waits until no writer holds it, so a number closed on
// one thread never lets a late write on another land in whatever file reuses the descriptor.
class OpenFile {
public:
    OpenFile(int fd, FileKey key, unsigned access, unsigned allowed)
        : fd_(fd), key_(key), access_(access), allowed_(allowed) {}
    ~OpenFile();
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    int fd() const { return fd_; }
    FileKey key() const { return key_; }
    unsigned access() const { return access_; }
    unsigned allowed() const { return allowed_; }

private:
    int fd_;
    FileKey key_;
    unsigned access_;
    unsigned allowed_;
};

// Every open descriptor by file number, plus who holds which file with which sharing. Sharing is
// checked here the way Windows checks it between handles; flock carries the stricter sharing to
// other processes as far as advisory locks can.
struct FileTable {
    std::mutex mutex;
    std::map<int, std::shared_ptr<OpenFile>> by_number;
    std::multimap<FileKey, OpenFile*> by_file;
    int next_number = 1;
};

// Never destroyed: workers still running while the process exits may touch their files.
FileTable& table() {
    static FileTable* instance = new FileTable;
    return *instance;
}

OpenFile::~OpenFile() {
    {
        std::lock_guard lock(table().mutex);
        auto [first, last] = table().by_file.equal_range(key_);
        for (auto it = first; it != last; ++it) {
            if (it->second == this) {
                table().by_file.erase(it);
                break;
            }
        }
    }
    ::close(fd_);
}

void close_quietly(int fd) {
    ::close(fd);
}

// Opens fd's file under the sharing rules; nullptr when an open handle's sharing forbids it.
std::shared_ptr<OpenFile> admit(int fd, unsigned access, int share) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        close_quietly(fd);
        return nullptr;
    }
    const unsigned allowed = allowed_by_share(share);
    const FileKey key{info.st_dev, info.st_ino};
    std::lock_guard lock(table().mutex);
    auto [first, last] = table().by_file.equal_range(key);
    for (auto it = first; it != last; ++it) {
        const OpenFile& other = *it->second;
        if ((access & ~other.allowed()) != 0 || (other.access() & ~allowed) != 0) {
            close_quietly(fd);
            return nullptr;
        }
    }
    if (share != 1) {
        const int how = (share == 4 ? LOCK_EX : LOCK_SH) | LOCK_NB;
        int rc;
        do {
            rc = ::flock(fd, how);
        } while (rc != 0 && errno == EINTR);
        // A file system without flock still opens; only a lock held elsewhere refuses.
        if (rc != 0 && errno == EWOULDBLOCK) {
            close_quietly(fd);
            return nullptr;
        }
    }
    auto file = std::make_shared<OpenFile>(fd, key, access, allowed);
    table().by_file.emplace(key, file.get());
    return file;
}

std::shared_ptr<OpenFile> open_shared(const std::filesystem::path& path, int flags, bool truncate,
                                      unsigned access, int share) {
    if (path.empty()) return nullptr;
    int fd;
    // Non-blocking only while opening, so a FIFO without a writer cannot hang the caller.
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return nullptr;
    const int status = ::fcntl(fd, F_GETFL);
    if (status == -1 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) == -1) {
        close_quietly(fd);
        return nullptr;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        close_quietly(fd);
        return nullptr;
    }
    auto file = admit(fd, access, share);
    // Truncate only once the sharing check passed: a refused open must not destroy the content.
    // Devices and pipes have nothing to truncate.
    if (file && truncate && S_ISREG(info.st_mode) && ::ftruncate(file->fd(), 0) != 0)
        return nullptr;
    return file;
}

std::shared_ptr<OpenFile> lookup(int number) {
    std::lock_guard lock(table().mutex);
    auto it = table().by_number.find(number);
    return it == table().by_number.end() ? nullptr : it->second;
}

bool write_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const std::size_t chunk = size > (1u << 30) ? (1u << 30) : size;
        const ssize_t written = ::write(fd, data, chunk);
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

// Reads fd to its end into out; false on a read error or once more than max bytes came.
bool read_to_end(int fd, std::uint64_t max, Bytes& out) {
    std::vector<std::uint8_t> buffer(1 << 16);
    while (true) {
        const ssize_t got = ::read(fd, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;  // a half-read file would pass for a whole one
        }
        if (got == 0) return true;
        if (static_cast<std::uint64_t>(got) > max - std::min<std::uint64_t>(max, out.size()))
            return false;
        out.insert(out.end(), buffer.begin(), buffer.begin() + got);
    }
}

}  // namespace

Bytes file_read_all(const std::filesystem::path& path) {
    auto file = open_shared(path, O_RDONLY, false, kRead, 3);
    if (!file) return {};
    Bytes out;
    struct stat info {};
    if (::fstat(file->fd(), &info) == 0 && info.st_size > 0)
        out.reserve(static_cast<std::size_t>(info.st_size));
    if (!read_to_end(file->fd(), UINT64_MAX, out)) return {};
    return out;
}

FileRead file_read_regular(const std::filesystem::path& path, std::uint64_t max_bytes) {
    FileRead result;
    auto file = open_shared(path, O_RDONLY, false, kRead, 3);
    struct stat info {};
    if (!file || ::fstat(file->fd(), &info) != 0) {
        std::error_code error;  // a directory is refused by the open itself
        result.status = std::filesystem::is_directory(path, error) ? FileReadStatus::not_regular
                                                                   : FileReadStatus::unreadable;
        return result;
    }
    if (!S_ISREG(info.st_mode)) {
        result.status = FileReadStatus::not_regular;
        return result;
    }
    if (info.st_size < 0 || static_cast<std::uint64_t>(info.st_size) > max_bytes) {
        result.status = FileReadStatus::too_large;
        return result;
    }
    result.bytes.reserve(static_cast<std::size_t>(info.st_size));
    // The file may still grow while it is read: the bound holds for what is read too.
    if (!read_to_end(file->fd(), max_bytes, result.bytes)) {
        struct stat now {};
        const bool grew =
            ::fstat(file->fd(), &now) == 0 && static_cast<std::uint64_t>(now.st_size) > max_bytes;
        result.bytes = {};
        result.status = grew ? FileReadStatus::too_large : FileReadStatus::unreadable;
    }
    return result;
}

bool file_write_all(const std::filesystem::path& path, std::initializer_list<Bytes> parts) {
    auto file = open_shared(path, O_WRONLY | O_CREAT, true, kWrite, 4);
    if (!file) return false;
    bool ok = true;
    for (const Bytes& part : parts)
        ok = write_all(file->fd(), reinterpret_cast<const char*>(part.data()), part.size()) && ok;
    return ok;
}

int file_open(const std::filesystem::path& path, int mode, int share) {
    if (share < 1 || share > 4) return 0;
    int flags;
    unsigned access;
    switch (mode) {
        case 1:
            flags = O_RDONLY, access = kRead;
            break;
        case 2:
            flags = O_WRONLY, access = kWrite;
            break;
        case 3:
            flags = O_RDWR, access = kRead | kWrite;
            break;
        case 4:
            flags = O_WRONLY | O_CREAT, access = kWrite;
            break;
        case 5:
            flags = O_WRONLY | O_CREAT, access = kWrite;
            break;
        case 6:
            flags = O_RDWR | O_CREAT, access = kRead | kWrite;
            break;
        default:
            return 0;
    }
    auto file = open_shared(path, flags, mode == 4, access, share);
    if (!file) return 0;
    std::lock_guard lock(table().mutex);
    // Numbers are never handed out twice, so a write through a closed number cannot reach a file
    // opened later.
    if (table().next_number == INT_MAX) return 0;
    const int number = table().next_number++;
    table().by_number.emplace(number, std::move(file));
    return number;
}

bool file_close(int file) {
    std::shared_ptr<OpenFile> closing;
    {
        std::lock_guard lock(table().mutex);
        auto it = table().by_number.find(file);
        if (it == table().by_number.end()) return false;
        closing = std::move(it->second);
        table().by_number.erase(it);
    }
    return true;  // the descriptor closes when the last writer lets go of it
}

bool file_seek_end(int file) {
    auto open = lookup(file);
    return open && ::lseek(open->fd(), 0, SEEK_END) >= 0;
}

bool file_write_raw(int file, std::string_view bytes) {
    auto open = lookup(file);
    if (!open) return false;
    return write_all(open->fd(), bytes.data(), bytes.size());
}
