#include "dataaccess/postgres/PgConnection.h"
