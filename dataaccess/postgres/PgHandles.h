#pragma once

// Owners of libpq's handles. Each frees its handle exactly once and can only
// be moved, so a handle never outlives or escapes the object that holds it.

#include <libpq-fe.h>

#include <memory>

namespace tarnwell::db::pg {

struct ConnectionCloser {
    void operator()(PGconn* conn) const noexcept { PQfinish(conn); }
};
struct ResultClearer {
    void operator()(PGresult* result) const noexcept { PQclear(result); }
};
struct CancelFreer {
    void operator()(PGcancel* cancel) const noexcept { PQfreeCancel(cancel); }
};

using ConnectionHandle = std::unique_ptr<PGconn, ConnectionCloser>;
using ResultHandle = std::unique_ptr<PGresult, ResultClearer>;
using CancelHandle = std::unique_ptr<PGcancel, CancelFreer>;

}  // namespace tarnwell::db::pg
