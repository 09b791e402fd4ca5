#pragma once
// Whole-file and numbered-file operations. Paths are native paths (UTF-8 on Linux).
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string_view>

#include "runtime/convert.h"

Bytes file_read_all(const std::filesystem::path& path);
bool file_write_all(const std::filesystem::path& path, std::initializer_list<Bytes> parts);

// A file read for import: only a regular file of at most max_bytes is read, so a device (endless
// /dev/zero) or a pipe (a writer that never ends) can neither grow memory nor block the reader.
enum class FileReadStatus { ok, unreadable, not_regular, too_large };
struct FileRead {
    Bytes bytes;
    FileReadStatus status = FileReadStatus::ok;
};
FileRead file_read_regular(const std::filesystem::path& path, std::uint64_t max_bytes);

// mode 1 read, 2 write, 3 read+write, 4 create/truncate, 5 write (create), 6 read+write (create);
// share 1 deny none, 2 deny read, 3 deny write, 4 exclusive. Returns 0 on failure.
int file_open(const std::filesystem::path& path, int mode = 3, int share = 1);
bool file_close(int file);
bool file_seek_end(int file);
// Unbuffered: the bytes are with the system when the call returns.
bool file_write_raw(int file, std::string_view bytes);

// Each value becomes one line ended by CR LF, written in one piece so lines written from two
// threads never interleave.
template <class... Values>
bool file_write_lines(int file, const Values&... values) {
    bool ok = true;
    ((ok = file_write_raw(file, to_text(values) + "\r\n") && ok), ...);
    return ok;
}

template <class... Values>
bool file_write_data(int file, const Values&... values) {
    bool ok = true;
    auto put = [&](const Bytes& b) {
        return file_write_raw(file,
                              std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
    };
    ((ok = put(to_bytes(values)) && ok), ...);
    return ok;
}
