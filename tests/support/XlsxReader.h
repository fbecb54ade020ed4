#pragma once

#include <QJsonObject>
#include <QString>

namespace tarnwell::test {

// What an independent reader (Debian's python3-openpyxl) finds in an .xlsx
// file: "sheets", "orientation", "merged", "max_row", "max_column", "cells"
// (by A1 name: "value", "type" ("s" text, "n" number), "font", "size",
// "format", "align", "borders" [left, right, top, bottom]) and "widths" (by
// column letter). Fails the test and gives an empty object when the file does
// not read.
QJsonObject readXlsx(const QString& path);

}  // namespace tarnwell::test
