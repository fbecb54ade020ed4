#pragma once

#include "BenchSupport.h"

namespace tarnwell::bench {

// The --catalog figures (see CatalogBench.cpp): loading the catalog of a
// PostgreSQL database of 10,000 tables and of an SQLite file of 2,000, each
// of 20 columns, against psql's \dt on the same database, and the memory a
// loaded catalog holds. Returns the exit code.
int runCatalogBench(const Options& options);

}  // namespace tarnwell::bench
