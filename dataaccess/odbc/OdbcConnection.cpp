#include "dataaccess/odbc/OdbcConnection.h"

#include "dataaccess/DbError.h"

namespace tarnwell::db {

std::unique_ptr<Connection> openOdbc(const OdbcSettings&) {
    throw DbError("the ODBC backend is not built yet");
}

std::vector<OdbcDataSource> listOdbcDataSources() { return {}; }

}  // namespace tarnwell::db
