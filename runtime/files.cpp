#include "runtime/files.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/files_native.h"

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

using native_file::Handle;
using FileKey = native_file::Identity;

// One open file. Closing the handle waits until no writer holds it, so a number closed on one
// thread never lets a late write on another land in whatever file reuses the handle.
class OpenFile {
public:
    OpenFile(Handle handle, FileKey key, unsigned access, unsigned allowed)
        : handle_(handle), key_(key), access_(access), allowed_(allowed) {}
    ~OpenFile();
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    Handle handle() const { return handle_; }
    FileKey key() const { return key_; }
    unsigned access() const { return access_; }
    unsigned allowed() const { return allowed_; }

private:
    Handle handle_;
    FileKey key_;
    unsigned access_;
    unsigned allowed_;
};

// Every open handle by file number, plus who holds which file with which sharing. Sharing is
// checked here the way Windows checks it between handles; the platform carries it to other
// processes as far as it can.
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
    native_file::close(handle_);
}

// Admits an open handle under the sharing rules; nullptr (and the handle closed) when an open
// handle's sharing forbids it. Truncates only once admitted: a refused open must not destroy the
// content. Devices and pipes have nothing to truncate.
std::shared_ptr<OpenFile> admit(Handle handle, unsigned access, int share, bool truncate) {
    FileKey key;
    bool regular = false;
    if (!native_file::identify(handle, key, regular)) {
        native_file::close(handle);
        return nullptr;
    }
    const unsigned allowed = allowed_by_share(share);
    std::shared_ptr<OpenFile> file;
    {
        std::lock_guard lock(table().mutex);
        auto [first, last] = table().by_file.equal_range(key);
        for (auto it = first; it != last; ++it) {
            const OpenFile& other = *it->second;
            if ((access & ~other.allowed()) != 0 || (other.access() & ~allowed) != 0) {
                native_file::close(handle);
                return nullptr;
            }
        }
        if (!native_file::lock_for_share(handle, share)) {
            native_file::close(handle);
            return nullptr;
        }
        file = std::make_shared<OpenFile>(handle, key, access, allowed);
        table().by_file.emplace(key, file.get());
    }
    if (truncate && regular && !native_file::truncate(file->handle())) return nullptr;
    return file;
}

std::shared_ptr<OpenFile> open_shared(const std::filesystem::path& path, bool create, bool truncate,
                                      unsigned access, int share) {
    if (path.empty()) return nullptr;
    const Handle handle =
        native_file::open(path, (access & kRead) != 0, (access & kWrite) != 0, create, share);
    if (handle == native_file::kNone) return nullptr;
    return admit(handle, access, share, truncate);
}

std::shared_ptr<OpenFile> lookup(int number) {
    std::lock_guard lock(table().mutex);
    auto it = table().by_number.find(number);
    return it == table().by_number.end() ? nullptr : it->second;
}

// Reads the file to its end into out; false on a read error or once more than max bytes came.
bool read_to_end(Handle file, std::uint64_t max, Bytes& out) {
    std::vector<char> buffer(1 << 16);
    while (true) {
        const long long got = native_file::read_some(file, buffer.data(), buffer.size());
        if (got < 0) return false;  // a half-read file would pass for a whole one
        if (got == 0) return true;
        if (static_cast<std::uint64_t>(got) > max - std::min<std::uint64_t>(max, out.size()))
            return false;
        out.insert(out.end(), buffer.begin(), buffer.begin() + got);
    }
}

}  // namespace

Bytes file_read_all(const std::filesystem::path& path) {
    auto file = open_shared(path, false, false, kRead, 3);
    if (!file) return {};
    Bytes out;
    const long long length = native_file::size(file->handle());
    if (length > 0) out.reserve(static_cast<std::size_t>(length));
    if (!read_to_end(file->handle(), UINT64_MAX, out)) return {};
    return out;
}

FileRead file_read_regular(const std::filesystem::path& path, std::uint64_t max_bytes) {
    FileRead result;
    auto file = open_shared(path, false, false, kRead, 3);
    const long long length = file ? native_file::size(file->handle()) : -1;
    if (!file) {
        std::error_code error;  // a directory is refused by the open itself
        result.status = std::filesystem::is_directory(path, error) ? FileReadStatus::not_regular
                                                                   : FileReadStatus::unreadable;
        return result;
    }
    if (length < 0) {  // a device or a pipe has no length
        result.status = FileReadStatus::not_regular;
        return result;
    }
    if (static_cast<std::uint64_t>(length) > max_bytes) {
        result.status = FileReadStatus::too_large;
        return result;
    }
    result.bytes.reserve(static_cast<std::size_t>(length));
    // The file may still grow while it is read: the bound holds for what is read too.
    if (!read_to_end(file->handle(), max_bytes, result.bytes)) {
        const long long now = native_file::size(file->handle());
        result.bytes = {};
        result.status = now >= 0 && static_cast<std::uint64_t>(now) > max_bytes
                            ? FileReadStatus::too_large
                            : FileReadStatus::unreadable;
    }
    return result;
}

bool file_write_all(const std::filesystem::path& path, std::initializer_list<Bytes> parts) {
    auto file = open_shared(path, true, true, kWrite, 4);
    if (!file) return false;
    bool ok = true;
    for (const Bytes& part : parts)
        ok = native_file::write_all(file->handle(), reinterpret_cast<const char*>(part.data()),
                                    part.size()) &&
             ok;
    return ok;
}

int file_open(const std::filesystem::path& path, int mode, int share) {
    if (share < 1 || share > 4) return 0;
    unsigned access;
    bool create = false;
    switch (mode) {
        case 1:
            access = kRead;
            break;
        case 2:
            access = kWrite;
            break;
        case 3:
            access = kRead | kWrite;
            break;
        case 4:
        case 5:
            access = kWrite, create = true;
            break;
        case 6:
            access = kRead | kWrite, create = true;
            break;
        default:
            return 0;
    }
    auto file = open_shared(path, create, mode == 4, access, share);
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
    return true;  // the handle closes when the last writer lets go of it
}

bool file_seek_end(int file) {
    auto open = lookup(file);
    return open && native_file::seek_end(open->handle());
}

bool file_write_raw(int file, std::string_view bytes) {
    auto open = lookup(file);
    if (!open) return false;
    return native_file::write_all(open->handle(), bytes.data(), bytes.size());
}
