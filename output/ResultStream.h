#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "dataaccess/Column.h"
#include "dataaccess/RowSource.h"
#include "dataaccess/RowStore.h"

namespace tarnwell {

class Feedback;

// The records of an open result, read once from the first to the last for a
// writer that takes them as they come, packet by packet: only the packet
// being written and the next one are held, so memory does not grow with the
// result. The next packet is fetched on a thread of its own while the one
// held is written, so that the engine's reading and the file's writing
// overlap; the source is only ever in one thread's hands, handed over under
// the lock.
//
// A stream left before its end stops the fetch under way (the result is
// being left, so it is not waited for), cutting the connection of an engine
// that does not answer its cancel within db::kCancelGrace.
class ResultStream {
public:
    // Rows fetched at a time: enough that a fetch costs little per row, few
    // enough that the packet is nothing beside the process itself.
    static constexpr std::size_t kPacketRows = 2000;

    // `feedback` counts the records fetched and is asked, at each packet,
    // whether to stop (OperationCanceled). `cancel` stops a fetch under way;
    // `cut` cuts the connection of an engine that does not answer it.
    ResultStream(db::RowSource& source, Feedback& feedback, std::function<void()> cancel, std::function<void()> cut);
    ~ResultStream();
    ResultStream(const ResultStream&) = delete;
    ResultStream& operator=(const ResultStream&) = delete;

    const std::vector<db::Column>& columns() const { return source_.columns(); }

    // True once every record has been handed out; takes the next packet
    // when the one held is used up. Throws what the fetch threw.
    bool atEnd();
    // The current record: row row() of rows().
    const db::RowStore& rows() const { return rows_; }
    std::size_t row() const { return row_; }
    void next() {
        ++row_;
        ++delivered_;
    }
    // Records handed out so far.
    std::int64_t delivered() const { return delivered_; }

private:
    // False at the end of the result; throws what the fetch threw.
    bool takeNextPacket();
    void fetchWhenAsked();

    db::RowSource& source_;
    Feedback& feedback_;
    std::function<void()> cancel_;
    std::function<void()> cut_;
    db::RowStore rows_;
    std::size_t row_ = 0;
    std::int64_t fetched_ = 0;
    std::int64_t delivered_ = 0;

    // What the fetching thread works on, and the lock it is handed over by.
    std::mutex mutex_;
    std::condition_variable changed_;
    db::RowStore next_;
    bool fetching_ = false;
    bool packetReady_ = false;
    bool finished_ = false;
    bool stopping_ = false;
    std::exception_ptr failure_;
    std::thread fetcher_;
};

}  // namespace tarnwell
