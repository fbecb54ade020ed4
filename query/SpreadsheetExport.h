#pragma once

namespace tarnwell {

class Feedback;

namespace db {
class ClientDataSet;
}

// Copies a result into a new sheet of the spreadsheet application, as the
// query window's "轉存DBF" button does: an empty merged title row, the field
// names, one row per record (at most 65535, after a question), borders, fonts,
// text format for the fields that are not numbers, fitted widths. Errors and
// the closing "存檔完成" are shown through the prompt; a cancel through
// `feedback` throws the workbook away and shows nothing. The last record is
// the current one afterwards.
void exportToSpreadsheet(db::ClientDataSet& dataSet, Feedback& feedback);

}  // namespace tarnwell
