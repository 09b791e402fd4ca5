// Files on Windows. Sharing is the system's own there: the share mode of every handle.
#ifdef _WIN32
#include <windows.h>

#include "runtime/files_native.h"

namespace native_file {

namespace {

HANDLE handle_of(Handle file) {
    return reinterpret_cast<HANDLE>(file);
}

DWORD share_mode(int share) {
    switch (share) {
        case 1:
            return FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        case 2:
            return FILE_SHARE_WRITE;
        case 3:
            return FILE_SHARE_READ;
        default:
            return 0;
    }
}

}  // namespace

Handle open(const std::filesystem::path& path, bool read, bool write, bool create, int share) {
    const DWORD access = (read ? GENERIC_READ : 0) | (write ? GENERIC_WRITE : 0);
    // Without FILE_FLAG_BACKUP_SEMANTICS a folder does not open.
    const HANDLE h =
        CreateFileW(path.c_str(), access, share_mode(share), nullptr,
                    create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return kNone;
    return reinterpret_cast<Handle>(h);
}

bool identify(Handle file, Identity& identity, bool& regular) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle_of(file), &info)) {
        // Pipes and consoles have no file information: each handle is its own file.
        if (GetFileType(handle_of(file)) == FILE_TYPE_UNKNOWN) return false;
        identity = {~0ull, static_cast<std::uint64_t>(file)};
        regular = false;
        return true;
    }
    identity = {info.dwVolumeSerialNumber,
                static_cast<std::uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
    regular = GetFileType(handle_of(file)) == FILE_TYPE_DISK;
    return true;
}

bool lock_for_share(Handle, int) {
    return true;  // the share mode given to CreateFileW already holds the file
}

bool truncate(Handle file) {
    LARGE_INTEGER zero{};
    return SetFilePointerEx(handle_of(file), zero, nullptr, FILE_BEGIN) &&
           SetEndOfFile(handle_of(file));
}

bool seek_end(Handle file) {
    LARGE_INTEGER zero{};
    return SetFilePointerEx(handle_of(file), zero, nullptr, FILE_END) != 0;
}

long long size(Handle file) {
    LARGE_INTEGER length{};
    if (GetFileType(handle_of(file)) != FILE_TYPE_DISK || !GetFileSizeEx(handle_of(file), &length))
        return -1;
    return length.QuadPart;
}

long long read_some(Handle file, char* buffer, std::size_t size) {
    const DWORD want = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD got = 0;
    if (!ReadFile(handle_of(file), buffer, want, &got, nullptr))
        return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;  // a pipe's writer left: the end
    return got;
}

bool write_all(Handle file, const char* data, std::size_t size) {
    while (size > 0) {
        const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(handle_of(file), data, chunk, &written, nullptr) || written == 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

void close(Handle file) {
    CloseHandle(handle_of(file));
}

}  // namespace native_file
#endif
