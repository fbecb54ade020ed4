#pragma once

#include <memory>
#include <string>

#include "dataaccess/Connection.h"

namespace tarnwell::db {

struct PgSettings {
    std::string host;      // name or address; empty: libpq's default
    std::string port;      // empty: libpq's default
    std::string database;
    std::string user;
    std::string password;
    // libpq's connect_timeout: how long an unreachable server may keep the
    // caller waiting before open fails.
    int connectTimeoutSeconds = 10;
};

// Opens a PostgreSQL connection through libpq. Throws DbError with libpq's
// message (and SQLSTATE where the server gave one).
//
// The session runs with client_encoding UTF8, DateStyle ISO, IntervalStyle
// postgres, bytea_output hex, lc_monetary C and extra_float_digits 3, so the
// server's text output is the canonical cell text (Column.h); these follow
// any options the caller passes, and so win. application_name is "Tarnwell"
// unless the caller names one. Server notices are dropped.
//
// Field kinds by type: int2 Smallint, int4 and oid Integer, int8 LargeInt,
// float4/float8 Float, money Currency (size 2), numeric(p,s) BCD with size s
// and precision p, FMTBcd when p > 18 or unconstrained (size and precision
// 0), char(n) FixedChar n, "char" FixedChar 1, varchar(n) String n, varchar
// without a length String 0, name String 63, text Memo, bytea Blob, date
// Date, time and timetz Time (timetz keeps its offset), timestamp and
// timestamptz DateTime (timestamptz keeps its offset, in the session's time
// zone), bool Boolean, uuid Guid; every other type (json, jsonb, xml,
// interval, arrays, ranges, enums, ...) Memo with its text as the server
// writes it.
//
// Statements stream in libpq's single-row mode. A text holding several
// statements runs as the server's simple query: statements before the first
// one that returns rows run to their end (their row counts add up to
// rowsAffected() when none returns rows); the first result set streams
// through the cursor; once it is read to its end, the statements after it
// run to their end and their rows are dropped, and an error among them is
// thrown by the fetch() that reached the end. Destroying a cursor before its
// end cancels the text on the server (so the statements after it do not run,
// and an implicit transaction around the text rolls back) and reads what is
// still in flight. COPY ... TO STDOUT runs with its data dropped; COPY ...
// FROM STDIN is refused by ending it with an error.
std::unique_ptr<Connection> openPostgres(const PgSettings& settings);
// The same from a libpq connection string ("host=... port=... dbname=..." or
// a postgresql:// URI). Without connect_timeout in it, PgSettings' default
// applies.
std::unique_ptr<Connection> openPostgres(const std::string& conninfo);

}  // namespace tarnwell::db
