#pragma once
// Answer bodies as the store archives them: zstd frames.
#include <optional>
#include <string>
#include <string_view>

std::string compress_answer(std::string_view body);
// The body again; empty when the bytes are no frame or do not give `size` bytes.
std::optional<std::string> decompress_answer(std::string_view frame, size_t size);
