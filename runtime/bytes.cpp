#include <algorithm>
#include <climits>

#include "runtime/text.h"

namespace {

using Size = Bytes::size_type;

// First occurrence of sought in bytes at or after from; size() when none.
Size find_from(const Bytes& bytes, const Bytes& sought, Size from) {
    if (sought.size() > bytes.size() || from > bytes.size() - sought.size()) return bytes.size();
    auto it = std::search(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(),
                          sought.begin(), sought.end());
    return static_cast<Size>(it - bytes.begin());
}

}  // namespace

int bytes_length(const Bytes& bytes) {
    return bytes.size() > static_cast<Size>(INT_MAX) ? INT_MAX : static_cast<int>(bytes.size());
}

Bytes bytes_left(const Bytes& bytes, long long n) {
    if (n <= 0) return {};
    Size take = std::min<unsigned long long>(n, bytes.size());
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
}

int bytes_find(const Bytes& bytes, const Bytes& sought, long long start) {
    if (start < 1) start = 1;
    if (static_cast<unsigned long long>(start - 1) >= bytes.size()) return -1;
    Size from = static_cast<Size>(start - 1);
    Size hit = find_from(bytes, sought, from);
    if (hit >= bytes.size()) return -1;
    return hit >= static_cast<Size>(INT_MAX) ? INT_MAX : static_cast<int>(hit) + 1;
}

Bytes bytes_replace(const Bytes& bytes, const Bytes& sought, const Bytes& replacement,
                    long long start, long long count) {
    if (start < 1) start = 1;
    if (bytes.empty() || sought.empty() || count == 0 ||
        static_cast<unsigned long long>(start - 1) >= bytes.size())
        return bytes;
    Size i = static_cast<Size>(start - 1);
    Bytes out(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(i));
    out.reserve(bytes.size());
    while (count != 0) {
        Size hit = find_from(bytes, sought, i);
        if (hit >= bytes.size()) break;
        out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(i),
                   bytes.begin() + static_cast<std::ptrdiff_t>(hit));
        out.insert(out.end(), replacement.begin(), replacement.end());
        i = hit + sought.size();
        if (count > 0) --count;
    }
    out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(i), bytes.end());
    return out;
}

Bytes bytes_zero(long long n) {
    if (n <= 0 || n > INT_MAX) return {};  // more than a length can count is refused
    return Bytes(static_cast<Size>(n), 0);
}
