#include "dataaccess/sqlite/SqliteConnection.h"
