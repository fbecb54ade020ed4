#include "dataaccess/RowStore.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace tarnwell::db {

namespace {

// Blocks start small, so a one-row result costs little, and grow to this.
constexpr std::size_t kFirstBlockSize = 4 * 1024;
constexpr std::size_t kLargestBlockSize = 1024 * 1024;
// Appended rows whose block holds at least this much keep their block.
constexpr std::size_t kAdoptedBlockBytes = 64 * 1024;
constexpr std::size_t kMaxVarintBytes = 10;
constexpr unsigned kOffsetBits = 40;
constexpr std::uint64_t kOffsetMask = (std::uint64_t{1} << kOffsetBits) - 1;

std::size_t writeVarint(char* out, std::uint64_t value) {
    std::size_t n = 0;
    while (value >= 0x80) {
        out[n++] = static_cast<char>((value & 0x7f) | 0x80);
        value >>= 7;
    }
    out[n++] = static_cast<char>(value);
    return n;
}

std::uint64_t readVarint(const char*& in) {
    std::uint64_t value = 0;
    unsigned shift = 0;
    for (;;) {
        const auto byte = static_cast<unsigned char>(*in++);
        value |= std::uint64_t{byte & 0x7fu} << shift;
        if ((byte & 0x80u) == 0) {
            return value;
        }
        shift += 7;
    }
}

}  // namespace

RowStore::RowIndex::RowIndex(RowIndex&& other) noexcept
    : chunks_(std::exchange(other.chunks_, {})), size_(std::exchange(other.size_, 0)) {}

RowStore::RowIndex& RowStore::RowIndex::operator=(RowIndex&& other) noexcept {
    chunks_ = std::exchange(other.chunks_, {});
    size_ = std::exchange(other.size_, 0);
    return *this;
}

void RowStore::RowIndex::push_back(std::uint64_t entry) {
    const std::size_t chunk = size_ >> kChunkBits;
    if (chunk == chunks_.size()) {
        chunks_.push_back(std::make_unique_for_overwrite<std::uint64_t[]>(kChunkEntries));
    }
    chunks_[chunk][size_ & (kChunkEntries - 1)] = entry;
    ++size_;
}

void RowStore::RowIndex::clear() noexcept {
    chunks_.clear();
    chunks_.shrink_to_fit();
    size_ = 0;
}

std::size_t RowStore::RowIndex::bytesHeld() const noexcept {
    return chunks_.size() * kChunkEntries * sizeof(std::uint64_t) +
           chunks_.capacity() * sizeof(std::unique_ptr<std::uint64_t[]>);
}

RowStore::RowStore(std::size_t columnCount) : columnCount_(columnCount) {}
RowStore::RowStore(RowStore&& other) noexcept
    : columnCount_(other.columnCount_),
      blocks_(std::exchange(other.blocks_, {})),
      rowIndex_(std::move(other.rowIndex_)),
      building_(std::exchange(other.building_, false)),
      cellsInRow_(std::exchange(other.cellsInRow_, 0)),
      rowStart_(std::exchange(other.rowStart_, 0)) {}

RowStore& RowStore::operator=(RowStore&& other) noexcept {
    columnCount_ = other.columnCount_;
    blocks_ = std::exchange(other.blocks_, {});
    rowIndex_ = std::move(other.rowIndex_);
    building_ = std::exchange(other.building_, false);
    cellsInRow_ = std::exchange(other.cellsInRow_, 0);
    rowStart_ = std::exchange(other.rowStart_, 0);
    return *this;
}
RowStore::~RowStore() = default;

char* RowStore::reserve(std::size_t bytes) {
    if (!blocks_.empty()) {
        Block& last = blocks_.back();
        if (last.capacity - last.used >= bytes) {
            return last.data.get() + last.used;
        }
    }
    // A row never spans blocks: the part of the row built so far moves along.
    const std::size_t partial = blocks_.empty() ? 0 : blocks_.back().used - rowStart_;
    const std::size_t grown =
        blocks_.empty() ? kFirstBlockSize
                        : std::min(kLargestBlockSize, blocks_.back().capacity * 2);
    Block block;
    block.capacity = std::max(grown, partial + bytes);
    block.data = std::make_unique_for_overwrite<char[]>(block.capacity);
    if (partial > 0) {
        Block& last = blocks_.back();
        std::memcpy(block.data.get(), last.data.get() + rowStart_, partial);
        last.used = rowStart_;
    }
    block.used = partial;
    rowStart_ = 0;
    // An empty block left behind by the move is of no further use.
    if (!blocks_.empty() && blocks_.back().used == 0 &&
        (rowIndex_.empty() || (rowIndex_.back() >> kOffsetBits) < blocks_.size() - 1)) {
        blocks_.pop_back();
    }
    blocks_.push_back(std::move(block));
    return blocks_.back().data.get() + blocks_.back().used;
}

void RowStore::beginRow() {
    if (building_) {
        discardRow();
    }
    building_ = true;
    cellsInRow_ = 0;
    rowStart_ = blocks_.empty() ? 0 : blocks_.back().used;
}

void RowStore::appendNull() {
    char* out = reserve(1);
    *out = 1;
    blocks_.back().used += 1;
    ++cellsInRow_;
}

void RowStore::appendInNewRoom(std::string_view bytes) {
    char* out = reserve(kMaxVarintBytes + bytes.size());
    const std::size_t header = writeVarint(out, std::uint64_t{bytes.size()} << 1);
    if (!bytes.empty()) {
        std::memcpy(out + header, bytes.data(), bytes.size());
    }
    blocks_.back().used += header + bytes.size();
    ++cellsInRow_;
}

void RowStore::endRow() {
    if (!building_ || cellsInRow_ != columnCount_) {
        discardRow();
        throw std::logic_error("RowStore: a row must have one cell per column");
    }
    building_ = false;
    const std::uint64_t blockNumber = blocks_.empty() ? 0 : blocks_.size() - 1;
    if (blocks_.empty()) {
        // A row of no columns still counts as a row; it needs no bytes.
        reserve(0);
    }
    rowIndex_.push_back((blockNumber << kOffsetBits) | rowStart_);
}

void RowStore::discardRow() noexcept {
    if (building_ && !blocks_.empty()) {
        blocks_.back().used = rowStart_;
    }
    building_ = false;
    cellsInRow_ = 0;
}

void RowStore::append(RowStore&& rows) {
    if (rows.columnCount_ != columnCount_) {
        throw std::logic_error("RowStore: appended rows have another column count");
    }
    discardRow();
    rows.discardRow();
    if (rows.rowIndex_.empty()) {
        rows.clear();
        return;
    }
    if (rowIndex_.empty()) {
        *this = std::move(rows);
        return;
    }
    const std::size_t count = rows.rowIndex_.size();
    const auto offsetOf = [&rows](std::size_t row) { return rows.rowIndex_[row] & kOffsetMask; };
    std::size_t row = 0;
    while (row < count) {
        // The rows of one block lie one after the other and end where the
        // block's used part ends.
        const std::uint64_t blockNumber = rows.rowIndex_[row] >> kOffsetBits;
        const Block& from = rows.blocks_[blockNumber];
        std::size_t end = row + 1;
        while (end < count && (rows.rowIndex_[end] >> kOffsetBits) == blockNumber) {
            ++end;
        }
        const auto endOf = [&](std::size_t last) { return last < end ? offsetOf(last) : from.used; };
        // A well-filled large block is taken over as it is: copying it
        // would touch as much fresh memory again as filling it did.
        if (from.used >= kAdoptedBlockBytes && offsetOf(row) == 0) {
            const std::uint64_t target = std::uint64_t{blocks_.size()} << kOffsetBits;
            for (; row < end; ++row) {
                rowIndex_.push_back(target | offsetOf(row));
            }
            blocks_.push_back(std::move(rows.blocks_[blockNumber]));
            continue;
        }
        while (row < end) {
            const std::size_t room = blocks_.back().capacity - blocks_.back().used;
            // The most rows from `row` on whose bytes fit the room left.
            std::size_t low = row;
            std::size_t high = end;
            while (low < high) {
                const std::size_t middle = (low + high + 1) / 2;
                if (endOf(middle) - offsetOf(row) <= room) {
                    low = middle;
                } else {
                    high = middle - 1;
                }
            }
            if (low == row) {
                rowStart_ = blocks_.back().used;  // nothing of a row to carry over
                reserve(endOf(row + 1) - offsetOf(row));
                continue;
            }
            Block& to = blocks_.back();
            const std::uint64_t first = offsetOf(row);
            const std::size_t bytes = endOf(low) - first;
            if (bytes > 0) {
                std::memcpy(to.data.get() + to.used, from.data.get() + first, bytes);
            }
            const std::uint64_t target = (std::uint64_t{blocks_.size() - 1} << kOffsetBits) | to.used;
            for (; row < low; ++row) {
                rowIndex_.push_back(target + (offsetOf(row) - first));
            }
            to.used += bytes;
        }
    }
    rowStart_ = blocks_.back().used;
    rows = RowStore(columnCount_);  // some of its blocks are this store's now
}

RowStore::Cell RowStore::cell(std::size_t row, std::size_t column) const {
    if (row >= rowIndex_.size() || column >= columnCount_) {
        throw std::out_of_range("RowStore: no such cell");
    }
    const std::uint64_t entry = rowIndex_[row];
    const char* p = blocks_[entry >> kOffsetBits].data.get() + (entry & kOffsetMask);
    for (std::size_t c = 0;; ++c) {
        const std::uint64_t header = readVarint(p);
        if (header & 1u) {
            if (c == column) {
                return Cell{};
            }
            continue;
        }
        const auto length = static_cast<std::size_t>(header >> 1);
        if (c == column) {
            return Cell{false, std::string_view(p, length)};
        }
        p += length;
    }
}

void RowStore::cells(std::size_t row, Cell* out) const {
    if (row >= rowIndex_.size()) {
        throw std::out_of_range("RowStore: no such row");
    }
    const std::uint64_t entry = rowIndex_[row];
    const char* p = blocks_[entry >> kOffsetBits].data.get() + (entry & kOffsetMask);
    for (std::size_t c = 0; c < columnCount_; ++c) {
        const std::uint64_t header = readVarint(p);
        if (header & 1u) {
            out[c] = Cell{};
            continue;
        }
        const auto length = static_cast<std::size_t>(header >> 1);
        out[c] = Cell{false, std::string_view(p, length)};
        p += length;
    }
}

void RowStore::clear() noexcept {
    rowIndex_.clear();
    if (blocks_.size() > 1) {
        blocks_.erase(blocks_.begin() + 1, blocks_.end());
    }
    if (!blocks_.empty()) {
        blocks_.front().used = 0;
    }
    building_ = false;
    cellsInRow_ = 0;
    rowStart_ = 0;
}

void RowStore::reset(std::size_t columnCount) noexcept {
    clear();
    columnCount_ = columnCount;
}

std::size_t RowStore::bytesHeld() const noexcept {
    std::size_t total = rowIndex_.bytesHeld();
    for (const Block& block : blocks_) {
        total += block.capacity;
    }
    return total;
}

}  // namespace tarnwell::db
