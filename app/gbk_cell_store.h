#pragma once
// The cells of one list as GBK bytes, small enough for a million rows: each column keeps its bytes
// in a few large chunks and 8 bytes per cell (where and how long). A column is filled only as far
// as it was written, so a column nobody writes costs nothing.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

class GbkCellStore {
public:
    explicit GbkCellStore(int columns);
    GbkCellStore(const GbkCellStore&) = delete;
    GbkCellStore& operator=(const GbkCellStore&) = delete;

    int columns() const { return static_cast<int>(columns_.size()); }
    int rows() const { return rows_; }

    // Adds an empty row; returns its index, or -1 when the list cannot grow.
    int append_row();
    // False for a row or column that does not exist (nothing changes then).
    bool set(int row, int column, std::string_view bytes);
    // Valid until the next write to the same column.
    std::string_view get(int row, int column) const;
    void clear();

    std::size_t memory_bytes() const;  // what the cells hold on to, bytes

private:
    struct Cell {
        std::uint32_t where = 0;  // chunk index << kPosBits | position in the chunk
        std::uint32_t length = 0;
    };
    struct Chunk {
        std::unique_ptr<char[]> data;
        std::uint32_t size = 0;
        std::uint32_t used = 0;
    };
    struct Column {
        std::vector<Cell> cells;
        std::vector<Chunk> chunks;
        std::size_t live = 0;     // bytes cells point at
        std::size_t garbage = 0;  // bytes no cell points at any more
    };

    static constexpr int kPosBits = 20;
    static constexpr std::uint32_t kMaxChunk = 1u << kPosBits;
    static constexpr std::size_t kMaxChunks = std::size_t{1} << (32 - kPosBits);

    static bool place(Column& column, std::string_view bytes, Cell& cell);
    static void compact(Column& column);

    std::vector<Column> columns_;
    int rows_ = 0;
};
