#pragma once
// What the file layer needs from the system, one implementation per platform
// (runtime/files_posix.cpp, runtime/files_win32.cpp). Only runtime/files.cpp uses it.
#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace native_file {

using Handle = std::intptr_t;  // a descriptor, or a HANDLE's value
constexpr Handle kNone = -1;

// Which file a handle reaches, however it was named.
struct Identity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator<(const Identity& other) const {
        return volume != other.volume ? volume < other.volume : index < other.index;
    }
};

// Opens an existing file, or creates it when `create`; never a folder, and a pipe without a writer
// does not block. share (1 deny none, 2 deny read, 3 deny write, 4 exclusive) is what other
// processes may still do, as far as the system can enforce it. kNone on failure.
Handle open(const std::filesystem::path& path, bool read, bool write, bool create, int share);
// The file's identity, and whether it is a regular file (devices and pipes have no length).
bool identify(Handle file, Identity& identity, bool& regular);
// Carries the sharing to other processes where the system needs a lock for it; false only when
// another process holds the file against it.
bool lock_for_share(Handle file, int share);
bool truncate(Handle file);
bool seek_end(Handle file);
// The file's length, -1 when it has none.
long long size(Handle file);
// Bytes read into buffer, 0 at the end, -1 on failure.
long long read_some(Handle file, char* buffer, std::size_t size);
// Everything written, or false.
bool write_all(Handle file, const char* data, std::size_t size);
void close(Handle file);

}  // namespace native_file
