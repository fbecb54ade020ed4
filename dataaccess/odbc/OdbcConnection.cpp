#include "dataaccess/odbc/OdbcConnection.h"
