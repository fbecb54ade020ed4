#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace tarnwell::db {

// Rows of a result held compactly: every cell of every row lies in a few large
// byte blocks, each cell a varint header (length, or the null mark) followed
// by its bytes, with one 8-byte index entry per row. No heap object per row or
// cell, so a million rows cost little more than their text.
//
// Rows are built one at a time: beginRow(), one append per column, endRow().
// A row that cannot be finished (the engine failed in the middle of it) is
// dropped with discardRow(). Reading is safe from any thread while nobody
// appends; appending and reading at once needs outside locking.
class RowStore {
public:
    struct Cell {
        bool isNull = true;
        std::string_view bytes;  // empty for a null cell
    };

    explicit RowStore(std::size_t columnCount = 0);
    RowStore(RowStore&&) noexcept;
    RowStore& operator=(RowStore&&) noexcept;
    RowStore(const RowStore&) = delete;
    RowStore& operator=(const RowStore&) = delete;
    ~RowStore();

    std::size_t columnCount() const noexcept { return columnCount_; }
    std::size_t rowCount() const noexcept { return rowIndex_.size(); }

    void beginRow();
    void appendNull();
    void append(std::string_view bytes) {
        // Most cells are short and fit the last block: a one-byte header.
        if (bytes.size() < kOneByteHeaderLimit && !blocks_.empty()) {
            Block& last = blocks_.back();
            if (last.capacity - last.used > bytes.size()) {
                char* out = last.data.get() + last.used;
                *out = static_cast<char>(bytes.size() << 1);
                if (!bytes.empty()) {  // an empty view may hold no pointer at all
                    std::memcpy(out + 1, bytes.data(), bytes.size());
                }
                last.used += 1 + bytes.size();
                ++cellsInRow_;
                return;
            }
        }
        appendInNewRoom(bytes);
    }
    void endRow();  // throws std::logic_error unless exactly columnCount() cells came
    void discardRow() noexcept;

    // Appends every row of `rows` (a store of the same column count, as a
    // packet fetched elsewhere is) after the rows held and leaves `rows`
    // empty. A store without rows takes the other's memory over; otherwise
    // the rows' bytes are copied a block's run at a time, never cell by cell,
    // into blocks that grow as appended rows make them, so many small
    // packets cost no more memory than rows fetched into one store.
    void append(RowStore&& rows);

    Cell cell(std::size_t row, std::size_t column) const;
    // Every cell of row `row` at once, into `out` (columnCount() of them):
    // for whoever reads whole rows, one pass instead of one per cell.
    void cells(std::size_t row, Cell* out) const;

    // Drops every row; keeps the column count and one block for reuse.
    void clear() noexcept;
    // Drops every row and starts over with another column count.
    void reset(std::size_t columnCount) noexcept;

    // Memory this store holds: allocated blocks plus the row index.
    std::size_t bytesHeld() const noexcept;

private:
    struct Block {
        std::unique_ptr<char[]> data;
        std::size_t capacity = 0;
        std::size_t used = 0;
    };

    // Lengths below this take one byte of header (a varint of length << 1).
    static constexpr std::size_t kOneByteHeaderLimit = 64;

    char* reserve(std::size_t bytes);
    void appendInNewRoom(std::string_view bytes);

    std::size_t columnCount_ = 0;
    std::vector<Block> blocks_;
    // Where each row starts (block number << 40 | offset), in chunks that
    // never move, so that growing the index copies nothing and touches no
    // memory twice.
    class RowIndex {
    public:
        static constexpr unsigned kChunkBits = 12;
        static constexpr std::size_t kChunkEntries = std::size_t{1} << kChunkBits;

        RowIndex() = default;
        // A moved-from index is empty, not one that counts rows it lost.
        RowIndex(RowIndex&& other) noexcept;
        RowIndex& operator=(RowIndex&& other) noexcept;

        std::size_t size() const noexcept { return size_; }
        bool empty() const noexcept { return size_ == 0; }
        std::uint64_t operator[](std::size_t row) const noexcept {
            return chunks_[row >> kChunkBits][row & (kChunkEntries - 1)];
        }
        std::uint64_t back() const noexcept { return (*this)[size_ - 1]; }
        void push_back(std::uint64_t entry);
        void clear() noexcept;
        std::size_t bytesHeld() const noexcept;

    private:
        std::vector<std::unique_ptr<std::uint64_t[]>> chunks_;
        std::size_t size_ = 0;
    };
    RowIndex rowIndex_;
    bool building_ = false;
    std::size_t cellsInRow_ = 0;
    std::size_t rowStart_ = 0;  // offset of the row being built in the last block
};

}  // namespace tarnwell::db
