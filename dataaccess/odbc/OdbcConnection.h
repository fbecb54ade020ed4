#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dataaccess/Connection.h"

namespace tarnwell::db {

struct OdbcSettings {
    // A full ODBC connection string: "DSN=name;UID=user;PWD=secret" or
    // "DRIVER={...};Database=...".
    std::string connectionString;
    int loginTimeoutSeconds = 15;
};

// One value of an ODBC connection string as it must be written: in braces
// (a closing brace doubled) when it holds ";", "{", "}" or "=" or has blanks
// at its ends, as is otherwise.
std::string odbcConnectionValue(const std::string& value);

// Connects through the unixODBC driver manager. Throws DbError with the
// driver's diagnostic text and SQLSTATE.
std::unique_ptr<Connection> openOdbc(const OdbcSettings& settings);

// A data source configured in unixODBC (user and system odbc.ini).
struct OdbcDataSource {
    std::string name;
    std::string driver;  // the Driver key
    // Every key of the data source's section in file order, Driver included.
    std::vector<std::pair<std::string, std::string>> keys;
};

// Every configured data source, in the driver manager's order; sections that
// hold no Driver key (such as [ODBC]) are left out.
std::vector<OdbcDataSource> listOdbcDataSources();

}  // namespace tarnwell::db
