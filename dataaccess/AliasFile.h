#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "dataaccess/ParamList.h"

namespace tarnwell::db {

// Driver type names of the alias engine (an alias's TYPE).
inline constexpr std::string_view kDriverSqlite = "SQLITE";
inline constexpr std::string_view kDriverPostgres = "POSTGRESQL";
inline constexpr std::string_view kDriverMariaDb = "MARIADB";
inline constexpr std::string_view kDriverMySql = "MYSQL";  // the same driver as MARIADB
inline constexpr std::string_view kDriverOdbc = "ODBC";
// The driver types, for messages that name them.
inline constexpr std::string_view kKnownDrivers = "SQLITE, POSTGRESQL, MARIADB, MYSQL, ODBC";

// One alias: a name, its driver type and its parameters in configuration
// order (TYPE is not among them).
struct AliasDefinition {
    std::string name;
    std::string driver;
    ParamList params;
    // Listed from unixODBC's data sources rather than from the alias file:
    // the alias name is the data source name.
    bool odbcDataSource = false;
};

// What an alias file gave: the aliases that parse, in file order, and one
// line per problem ("<file>:<line>: <what is wrong>").
struct AliasFileContents {
    std::vector<AliasDefinition> aliases;
    std::vector<std::string> problems;
};

// Reads an alias file: INI style, one section per alias.
//
//   ; comment (also "#")
//   [SALES]
//   TYPE=POSTGRESQL
//   SERVER NAME=db.example.com
//   DATABASE NAME=sales
//
// Section names are alias names; names compare without regard to case. The
// key TYPE is the driver (upper-cased); every other key is a parameter, kept
// in file order with blanks around key and value trimmed and one pair of
// surrounding quotes (" or ') removed from the value. The file is UTF-8 (a
// byte-order mark is skipped).
//
// A bad file never stops the program: a line that is neither a section, a
// KEY=value line nor a comment is skipped; a section with a broken header, a
// repeated alias name or no TYPE is skipped with its keys; each such case is
// reported in `problems`. The rest loads. A file that does not exist gives
// nothing and no problem; one that cannot be read gives a problem.
AliasFileContents readAliasFile(const std::string& path);
AliasFileContents parseAliasText(std::string_view text, const std::string& fileName);

// The alias file the program reads: $TARNWELL_ALIASES when set (even if that
// file is missing), else $XDG_CONFIG_HOME/tarnwell/aliases.conf (default
// ~/.config/tarnwell/aliases.conf) when it exists, else
// /etc/tarnwell/aliases.conf when it exists, else "".
std::string standardAliasFile();

}  // namespace tarnwell::db
