#pragma once

// Inside the alias engine only: what a Query shares with the Database it
// runs on, so that closing the database can close the query safely from
// another thread, and a query destroyed meanwhile leaves nothing dangling.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "dataaccess/Column.h"
#include "dataaccess/Connection.h"

namespace tarnwell::db {

class Database;

namespace detail {

struct QueryState {
    // Held for the whole of a run, a fetch or a close.
    std::mutex run;

    // Guarded by `run`.
    Database* database = nullptr;
    std::unique_ptr<Cursor> cursor;
    std::vector<Column> columns;

    // The connection of the statement in progress, for cancel() from any
    // thread; guarded by `cancelGuard`.
    std::mutex cancelGuard;
    std::shared_ptr<Connection> connection;

    std::atomic<bool> active{false};
    std::atomic<bool> atEnd{true};
    std::atomic<std::int64_t> rowsAffected{-1};
    std::atomic<std::uint64_t> runId{0};

    // Drops the result and the connection; `run` must be held. The database
    // is told unless it is the one doing the closing.
    void release(const Database* closingDatabase) noexcept;
};

}  // namespace detail
}  // namespace tarnwell::db
