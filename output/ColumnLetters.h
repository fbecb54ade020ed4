#pragma once

#include <QString>

namespace tarnwell {

// The name of column `column` (from 1) in the spreadsheet's A1 style: "A" to
// "Z", then "AA" on; empty below 1.
QString ColumnLetters(int column);

}  // namespace tarnwell
