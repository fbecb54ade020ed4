#include "dataaccess/RowStore.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace tarnwell::db {

namespace {

// Blocks start small, so a one-row result costs little, and grow to this.
constexpr std::size_t kFirstBlockSize = 4 * 1024;
constexpr std::size_t kLargestBlockSize = 1024 * 1024;
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
RowStore::RowStore(RowStore&&) noexcept = default;
RowStore& RowStore::operator=(RowStore&&) noexcept = default;
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
