#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "dataaccess/Column.h"
#include "dataaccess/DbError.h"
#include "dataaccess/RowStore.h"

namespace tarnwell::db {

// Why rows of a result can no longer be fetched once its source moved on.
inline constexpr const char* kResultClosedOrRunAgain =
    "The query of this result was closed or run again; run it again to fetch further rows";

// An opened statement whose rows a provider hands on: the alias engine's
// Query and the connection-string engine's AdoQuery.
//
// A source is driven from one thread at a time. While a run (a close, a new
// statement, an open) uses it on one thread, nothing may fetch from it on
// another: the query window keeps its previous result away from the source
// until the new result is handed over.
class RowSource {
public:
    virtual ~RowSource() = default;

    // True while the source holds an open result set.
    virtual bool active() const = 0;
    // The columns of the open result; empty when not active. The reference
    // stays valid until the source is closed or run again.
    virtual const std::vector<Column>& columns() const = 0;
    // Appends at most maxRows further rows to `rows`; fewer means the end was
    // reached. Throws DbError (the engine's message, or the source is no
    // longer open); rows appended before a failure stay, and a later fetch
    // throws again rather than report the end.
    virtual std::size_t fetch(RowStore& rows, std::size_t maxRows) = 0;
    // fetch(), from the result of run `run` (runId()) only: a source closed
    // or run again since throws DbError(kResultClosedOrRunAgain) and hands
    // out no row of its new result. A source that runs statements on one
    // thread while another fetches checks the run where no run can slip in
    // between the check and the fetch.
    virtual std::size_t fetchFromRun(RowStore& rows, std::size_t maxRows, std::uint64_t run) {
        if (!active() || runId() != run) {
            throw DbError(kResultClosedOrRunAgain);
        }
        return fetch(rows, maxRows);
    }
    // True once every row of the open result has been handed out.
    virtual bool atEnd() const = 0;
    // Runs the same statement again from its first row (a refresh).
    virtual void rerun() = 0;
    // Changes with every open, close and run, so that a dataset can tell
    // whether the result it started reading is still the one the source holds.
    virtual std::uint64_t runId() const = 0;
};

}  // namespace tarnwell::db
