#pragma once

#include <memory>
#include <string>

#include "dataaccess/Connection.h"

namespace tarnwell::db {

struct MariaDbSettings {
    // Name or address of the server. Empty (or "localhost", as MariaDB's own
    // clients take it): the local server's Unix socket, where the client
    // library looks for it ($MYSQL_UNIX_PORT, else its built-in path). A path
    // beginning with "/": that Unix socket.
    std::string host;
    std::string port;  // empty: 3306
    std::string database;
    std::string user;
    std::string password;
    // A statement every session runs first ("SET sql_mode = ..."); empty:
    // none.
    std::string initCommand;
    // How long an unreachable or silent server may keep the caller waiting
    // before open fails.
    int connectTimeoutSeconds = 10;
};

// Opens a MariaDB (or MySQL) session through MariaDB's client library.
// Throws DbError with the library's message and the server's SQLSTATE.
//
// The session speaks utf8mb4 whatever the server's default, counts the rows
// an UPDATE matched (as the other engines do) rather than those it changed,
// and refuses LOAD DATA LOCAL INFILE: a server may otherwise ask for any file
// the user can read.
//
// Field kinds by column type (the size of text columns is their declared
// length in characters):
//   TINYINT (TINYINT(1) and BOOLEAN too: they hold any small number), SMALLINT,
//   YEAR Smallint; SMALLINT UNSIGNED Word; MEDIUMINT, INT Integer; INT
//   UNSIGNED, BIGINT (UNSIGNED too, values above 2^63 as their digits)
//   LargeInt; FLOAT, DOUBLE Float (FLOAT with the six digits the server
//   sends); DECIMAL(p,s) BCD with size s and precision p, FMTBcd when p > 18;
//   CHAR(n) FixedChar n (the server drops trailing blanks); VARCHAR(n), ENUM,
//   SET, INET4/INET6 String n (ENUM and SET sized by their longest value, SET
//   values as the server joins them, "a,b"); TEXT types and JSON Memo;
//   BINARY(n) Bytes n; VARBINARY(n) VarBytes n; BLOB types and spatial types
//   Blob (the server's own form: a 4-byte SRID, then the WKB); DATE Date;
//   TIME Time; DATETIME and TIMESTAMP DateTime; BIT(1) Boolean; BIT(n) LargeInt
//   with the bits' value; UUID Guid. Zero dates ("0000-00-00") and the
//   invalid dates a server in non-strict mode keeps ("2024-02-30") come as
//   the server writes them, as do times beyond a day ("838:59:59").
//
// Results stream (mysql_use_result): rows are read from the server as fetch()
// asks for them. A text of several statements runs as the server runs it:
// statements before the first one that returns rows run to their end (their
// row counts add up to rowsAffected() when none returns rows); the first
// result set streams through the cursor; once it is read to its end, the
// statements after it run and their rows are dropped, and an error among
// them is thrown by the fetch() that reached the end. Destroying a cursor
// before its end stops the statement on the server (KILL QUERY through a
// second session, opened the first time it is needed and kept), so the rest
// of a large result never crosses the network, and the statements after it
// do not run. cancel() stops the running statement the same way.
std::unique_ptr<Connection> openMariaDb(const MariaDbSettings& settings);

}  // namespace tarnwell::db
