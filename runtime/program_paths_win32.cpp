// Program paths on Windows.
#ifdef _WIN32
#include <windows.h>

#include <cstdlib>
#include <string>

#include "runtime/program_paths.h"

std::filesystem::path program_directory() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) {
            buffer.resize(n);
            return std::filesystem::path(buffer).parent_path();
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::filesystem::path user_data_directory() {
    const wchar_t* appdata = _wgetenv(L"APPDATA");
    if (!appdata || !*appdata) return {};
    return std::filesystem::path(appdata) / L"zembra";
}
#endif
