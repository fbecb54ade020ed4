#pragma once

#include "BenchSupport.h"

namespace tarnwell::bench {

// The spreadsheet export's figures, on 65,535 rows of 10 columns of a
// fetched SQLite result:
//   export.xlsx_rows_per_s          the query window's export into an .xlsx
//                                   file (the export's steps, the writer,
//                                   the file written whole)
//   export.xlsx_library_rows_per_s  libxlsxwriter alone writing the same
//                                   values with the same formats in its
//                                   constant-memory mode: the ceiling
//   export.xlsx_extra_rss_mb_at_N   resident memory the export adds at its
//                                   peak above the fetched result, N = 10000
//                                   and 65535 rows, each in a fresh process
// Goals: at least 0.6 of the library's rate; under 64 MB, flat in N.
// Returns the process exit code.
int runXlsxExportBench(const Options& options);

}  // namespace tarnwell::bench
