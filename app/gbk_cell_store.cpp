#include "app/gbk_cell_store.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {
constexpr std::uint32_t kFirstChunk = 4096;
// Rewrite a column once most of its bytes are dead and there is enough to be worth it.
constexpr std::size_t kCompactAbove = 64 * 1024;
}  // namespace

GbkCellStore::GbkCellStore(int columns)
    : columns_(static_cast<std::size_t>(std::max(columns, 0))) {}

int GbkCellStore::append_row() {
    if (rows_ == INT_MAX) return -1;
    return rows_++;
}

bool GbkCellStore::place(Column& column, std::string_view bytes, Cell& cell) {
    const std::size_t length = bytes.size();
    if (length == 0) {
        cell = {};
        return true;
    }
    if (length > UINT32_MAX) return false;
    if (!column.chunks.empty()) {
        Chunk& last = column.chunks.back();
        if (last.size - last.used >= length) {
            std::memcpy(last.data.get() + last.used, bytes.data(), length);
            cell.where =
                static_cast<std::uint32_t>((column.chunks.size() - 1) << kPosBits) | last.used;
            cell.length = static_cast<std::uint32_t>(length);
            last.used += static_cast<std::uint32_t>(length);
            return true;
        }
    }
    if (column.chunks.size() >= kMaxChunks) return false;
    // Chunks double up to the largest size; a cell bigger than that gets a chunk of its own.
    std::uint32_t size =
        column.chunks.empty() ? kFirstChunk : std::min(kMaxChunk, column.chunks.back().size * 2);
    size = std::max(size, static_cast<std::uint32_t>(length));
    Chunk chunk;
    chunk.data = std::make_unique_for_overwrite<char[]>(size);
    chunk.size = size;
    chunk.used = static_cast<std::uint32_t>(length);
    std::memcpy(chunk.data.get(), bytes.data(), length);
    column.chunks.push_back(std::move(chunk));
    cell.where = static_cast<std::uint32_t>((column.chunks.size() - 1) << kPosBits);
    cell.length = static_cast<std::uint32_t>(length);
    return true;
}

void GbkCellStore::compact(Column& column) {
    Column fresh;
    fresh.cells.resize(column.cells.size());
    for (std::size_t i = 0; i < column.cells.size(); ++i) {
        const Cell& old = column.cells[i];
        if (old.length == 0) continue;
        const Chunk& chunk = column.chunks[old.where >> kPosBits];
        const std::string_view bytes(chunk.data.get() + (old.where & (kMaxChunk - 1)), old.length);
        place(fresh, bytes, fresh.cells[i]);  // fits: the live bytes fitted before
        fresh.live += old.length;
    }
    column = std::move(fresh);
}

bool GbkCellStore::set(int row, int column_index, std::string_view bytes) {
    if (row < 0 || row >= rows_ || column_index < 0 || column_index >= columns()) return false;
    Column& column = columns_[static_cast<std::size_t>(column_index)];
    const auto at = static_cast<std::size_t>(row);
    if (at >= column.cells.size()) {
        if (bytes.empty()) return true;  // unwritten cells are empty already
        column.cells.resize(at + 1);
    }
    Cell& cell = column.cells[at];
    if (!bytes.empty() && bytes.size() <= cell.length) {
        // Shorter or equal: overwrite in place, the tail becomes garbage.
        Chunk& chunk = column.chunks[cell.where >> kPosBits];
        std::memcpy(chunk.data.get() + (cell.where & (kMaxChunk - 1)), bytes.data(), bytes.size());
        column.garbage += cell.length - bytes.size();
        column.live -= cell.length - bytes.size();
        cell.length = static_cast<std::uint32_t>(bytes.size());
    } else {
        Cell placed;
        if (!place(column, bytes, placed)) {
            compact(column);
            if (!place(column, bytes, placed)) return false;
        }
        Cell& target = column.cells[at];  // compact() replaced the cell array
        column.garbage += target.length;
        column.live -= target.length;
        column.live += placed.length;
        target = placed;
    }
    if (column.garbage > kCompactAbove && column.garbage > column.live) compact(column);
    return true;
}

std::string_view GbkCellStore::get(int row, int column_index) const {
    if (row < 0 || row >= rows_ || column_index < 0 || column_index >= columns()) return {};
    const Column& column = columns_[static_cast<std::size_t>(column_index)];
    const auto at = static_cast<std::size_t>(row);
    if (at >= column.cells.size()) return {};
    const Cell& cell = column.cells[at];
    if (cell.length == 0) return {};
    const Chunk& chunk = column.chunks[cell.where >> kPosBits];
    return {chunk.data.get() + (cell.where & (kMaxChunk - 1)), cell.length};
}

void GbkCellStore::clear() {
    for (Column& column : columns_)
        column = Column{};
    rows_ = 0;
}

std::size_t GbkCellStore::memory_bytes() const {
    std::size_t total = 0;
    for (const Column& column : columns_) {
        total += column.cells.capacity() * sizeof(Cell) + column.chunks.capacity() * sizeof(Chunk);
        for (const Chunk& chunk : column.chunks)
            total += chunk.size;
    }
    return total;
}
