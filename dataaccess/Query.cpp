#include "dataaccess/Query.h"

#include "dataaccess/Database.h"
#include "dataaccess/DbError.h"
#include "dataaccess/SqlText.h"
#include "dataaccess/QueryState.h"
#include "dataaccess/Session.h"

namespace tarnwell::db {

void detail::QueryState::release(const Database* closingDatabase) noexcept {
    // The cursor goes before the connection it belongs to.
    cursor.reset();
    {
        std::lock_guard lock(cancelGuard);
        connection.reset();
    }
    if (database != nullptr && database != closingDatabase) {
        database->detach(this);
    }
    database = nullptr;
    columns.clear();
    active = false;
    atEnd = true;
    ++runId;
}

Query::Query(Session& session) : session_(session), state_(std::make_shared<detail::QueryState>()) {}

Query::~Query() { close(); }

bool Query::openResult() { return runSql(true); }

void Query::execSql() { runSql(false); }

bool Query::runSql(bool wantRows) {
    detail::QueryState& state = *state_;
    std::unique_lock lock(state.run);
    state.release(nullptr);
    state.rowsAffected = -1;
    refuseNulCharacter(sql_);

    std::shared_ptr<Connection> connection = session_.withDatabase(databaseName_, [this](Database& database) {
        std::shared_ptr<Connection> attached = database.attach(state_);
        state_->database = &database;
        return attached;
    });
    {
        std::lock_guard cancelLock(state.cancelGuard);
        state.connection = connection;
    }

    std::unique_ptr<Cursor> cursor;
    try {
        cursor = connection->execute(sql_);
    } catch (...) {
        state.release(nullptr);
        throw;
    }

    if (!cursor->hasResultSet()) {
        const std::int64_t affected = cursor->rowsAffected();
        cursor.reset();
        state.release(nullptr);
        state.rowsAffected = affected;
        return false;
    }

    if (!wantRows) {
        std::int64_t returned = 0;
        try {
            returned = readToEnd(*cursor);
        } catch (...) {
            cursor.reset();
            state.release(nullptr);
            throw;
        }
        cursor.reset();
        state.release(nullptr);
        state.rowsAffected = returned;
        return false;
    }

    state.columns = cursor->columns();
    state.atEnd = cursor->atEnd();
    state.cursor = std::move(cursor);
    state.active = true;
    ++state.runId;
    return true;
}

void Query::close() {
    std::unique_lock lock(state_->run);
    if (state_->database != nullptr || state_->cursor) {
        state_->release(nullptr);
    }
}

std::int64_t Query::rowsAffected() const noexcept { return state_->rowsAffected; }

void Query::cancel() noexcept {
    std::shared_ptr<Connection> connection;
    {
        std::lock_guard lock(state_->cancelGuard);
        connection = state_->connection;
    }
    if (connection) {
        connection->cancel();
    }
}

bool Query::active() const { return state_->active; }

const std::vector<Column>& Query::columns() const { return state_->columns; }

namespace {

std::unique_lock<std::mutex> lockForFetch(detail::QueryState& state) {
    std::unique_lock lock(state.run, std::try_to_lock);
    if (!lock.owns_lock()) {
        throw DbError("The query is running a statement; rows of its earlier result cannot be read now");
    }
    return lock;
}

}  // namespace

std::size_t Query::fetch(RowStore& rows, std::size_t maxRows) {
    const auto lock = lockForFetch(*state_);
    return fetchHoldingRun(rows, maxRows);
}

std::size_t Query::fetchFromRun(RowStore& rows, std::size_t maxRows, std::uint64_t run) {
    const auto lock = lockForFetch(*state_);
    if (!state_->active || state_->runId != run) {
        throw DbError(kResultClosedOrRunAgain);
    }
    return fetchHoldingRun(rows, maxRows);
}

std::size_t Query::fetchHoldingRun(RowStore& rows, std::size_t maxRows) {
    detail::QueryState& state = *state_;
    if (!state.cursor) {
        throw DbError("Cannot perform this operation on a closed dataset");
    }
    try {
        const std::size_t fetched = state.cursor->fetch(rows, maxRows);
        state.atEnd = state.cursor->atEnd();
        return fetched;
    } catch (...) {
        state.atEnd = state.cursor->atEnd();
        throw;
    }
}

bool Query::atEnd() const { return state_->atEnd; }

std::uint64_t Query::runId() const { return state_->runId; }

}  // namespace tarnwell::db
