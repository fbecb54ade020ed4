#pragma once

#include <QString>
#include <functional>

#include "output/Feedback.h"

class QPrinter;

namespace tarnwell {

class ReportDocument;
class ReportPage;
class ReportPageFormat;

// The next page of a production, or null after the last; a page stays valid
// until the next call.
using NextReportPage = std::function<const ReportPage*()>;

// Prints every page on `printer` as the print dialog left it (printer, copies,
// file), on the report's own sheet and orientation. Feedback counts pages; a
// cancel aborts the print job. Throws ReportError when the printer refuses
// the sheet or fails, OperationCanceled on a cancel.
void printReport(const ReportDocument& pages, QPrinter& printer, Feedback& feedback);
void printReportPages(const ReportPageFormat& format, const NextReportPage& next, QPrinter& printer,
                      Feedback& feedback);

// Writes every page into a PDF file at `path`, text as text with its fonts
// embedded. The file is replaced in one step: a failure or a cancel leaves no
// file behind and an existing one as it was. Throws ReportError (the file
// named, with the system's reason) or OperationCanceled.
void writeReportPdf(const ReportDocument& pages, const QString& path, Feedback& feedback);
void writeReportPdfPages(const ReportPageFormat& format, const NextReportPage& next, const QString& path,
                         Feedback& feedback);

}  // namespace tarnwell
