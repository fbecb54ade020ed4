#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnwell::db {

// A connection string of the connection-string engine: "Key=Value;..." pairs.
// Keys compare without regard to ASCII case and keep the spelling they came
// with; blanks around keys and values are dropped. A value may be quoted with
// " or ' (the quote doubled inside stands for itself), so it can hold ";" and
// blanks at its ends. When a key comes twice, the last value counts.
//
// ODBC connection strings read the same way, but their values are quoted in
// braces ("DRIVER={SQLite3}", "}}" inside for "}"), and quotes are text.
class ConnectionString {
public:
    using Entry = std::pair<std::string, std::string>;
    enum class Syntax { OleDb, Odbc };

    ConnectionString() = default;

    // Throws DbError naming the fault: a part without "=", an empty key, an
    // unterminated quote, text after a closing quote.
    static ConnectionString parse(std::string_view text, Syntax syntax = Syntax::OleDb);

    // "Key=Value" pairs joined by ";", values quoted where they need it;
    // parse(text()) gives the same entries back.
    std::string text() const;

    bool contains(std::string_view key) const;
    // The value of the key, or "".
    std::string value(std::string_view key) const;
    // Replaces the value of the key where it stands, or appends the pair.
    void set(std::string_view key, std::string_view value);
    void remove(std::string_view key);

    const std::vector<Entry>& entries() const noexcept { return entries_; }
    bool empty() const noexcept { return entries_.empty(); }

private:
    std::vector<Entry> entries_;
};

// The providers of the connection-string engine. Names differ in their first
// seven characters; they are accepted without regard to case and with or
// without their ".1" version, and reported in the canonical spelling.
struct ConnectionProvider {
    std::string name;         // "SQLite.1", "PostgreSQL.1", "MariaDB.1", "ODBC.1"
    std::string description;  // for a data-link dialog's provider list
};
inline constexpr std::string_view kProviderSqlite = "SQLite.1";
inline constexpr std::string_view kProviderPostgres = "PostgreSQL.1";
inline constexpr std::string_view kProviderMariaDb = "MariaDB.1";
inline constexpr std::string_view kProviderOdbc = "ODBC.1";

const std::vector<ConnectionProvider>& connectionProviders();

// The canonical name of a provider as a connection string gives it
// ("sqlite" -> "SQLite.1"; "MSDASQL.1", the name of the usual ODBC provider
// in data-link files from elsewhere, -> "ODBC.1"; "MySQL" -> "MariaDB.1"), or
// "" when unknown.
std::string canonicalProviderName(std::string_view name);

// The providers' names for a message: "SQLite.1, PostgreSQL.1, ...".
std::string knownProviderNames();

}  // namespace tarnwell::db
