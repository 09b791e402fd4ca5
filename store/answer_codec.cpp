#include "store/answer_codec.h"

#include <zstd.h>

namespace {
// Fast enough to keep up with a harvest's pages; answers are repetitive markup and shrink well.
constexpr int kLevel = 3;
}  // namespace

std::string compress_answer(std::string_view body) {
    std::string frame(ZSTD_compressBound(body.size()), '\0');
    const size_t n = ZSTD_compress(frame.data(), frame.size(), body.data(), body.size(), kLevel);
    if (ZSTD_isError(n) != 0U) return {};
    frame.resize(n);
    return frame;
}

std::optional<std::string> decompress_answer(std::string_view frame, size_t size) {
    std::string body(size, '\0');
    const size_t n = ZSTD_decompress(body.data(), body.size(), frame.data(), frame.size());
    if (ZSTD_isError(n) != 0U || n != size) return std::nullopt;
    return body;
}
