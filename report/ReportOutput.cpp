#include "report/ReportOutput.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QPdfWriter>
#include <QPrinter>

#include "output/FileReplacement.h"
#include "output/TextFile.h"
#include "report/ReportDocument.h"

namespace tarnwell {

namespace {

// Fine enough for any printer; PDF coordinates are in points whatever it is.
constexpr int kPdfResolution = 1200;

ReportError reportSaveError(const QString& path, const QString& reason) {
    return ReportError(
        QStringLiteral("無法儲存檔案 \"%1\": %2").arg(QDir::toNativeSeparators(path), reason));
}

NextReportPage pagesOf(const ReportDocument& document) {
    return [&document, index = 0]() mutable -> const ReportPage* {
        return index < document.pageCount() ? &document.page(index++) : nullptr;
    };
}

// Paints page after page onto a device whose page layout is the report's,
// origin at the sheet's corner.
void paintPages(QPagedPaintDevice& device, QPainter& painter, const ReportPageFormat& format,
                const NextReportPage& next, Feedback& feedback) {
    const double scaleX = device.logicalDpiX() / kReportPixelsPerInch;
    const double scaleY = device.logicalDpiY() / kReportPixelsPerInch;
    int done = 0;
    while (const ReportPage* page = next()) {
        feedback.throwIfCanceled();
        if (done > 0 && !device.newPage()) {
            throw ReportError(QStringLiteral("無法開始第 %1 頁").arg(done + 1));
        }
        painter.save();
        painter.scale(scaleX, scaleY);
        format.paint(painter, *page);
        painter.restore();
        feedback.setProgress(++done);
    }
}

}  // namespace

void printReportPages(const ReportPageFormat& format, const NextReportPage& next, QPrinter& printer,
                      Feedback& feedback) {
    const QString name = printer.outputFormat() == QPrinter::PdfFormat ? printer.outputFileName()
                                                                        : printer.printerName();
    printer.setFullPage(true);
    if (!printer.setPageLayout(format.pageLayout())) {
        throw ReportError(QStringLiteral("印表機 %1 不接受這個紙張設定").arg(name));
    }
    if (!format.documentTitle().isEmpty()) {
        printer.setDocName(format.documentTitle());
    }
    QPainter painter;
    if (!painter.begin(&printer)) {
        throw ReportError(QStringLiteral("無法開始列印: %1").arg(name));
    }
    try {
        paintPages(printer, painter, format, next, feedback);
    } catch (...) {
        printer.abort();
        throw;
    }
    if (!painter.end() || printer.printerState() == QPrinter::Error) {
        throw ReportError(QStringLiteral("列印失敗: %1").arg(name));
    }
}

void printReport(const ReportDocument& pages, QPrinter& printer, Feedback& feedback) {
    printReportPages(pages.format(), pagesOf(pages), printer, feedback);
}

void writeReportPdfPages(const ReportPageFormat& format, const NextReportPage& next, const QString& path,
                         Feedback& feedback) {
    if (path.isEmpty()) {
        throw reportSaveError(path, QStringLiteral("沒有檔名"));
    }
    try {
        FileReplacement target(path);
        QFile file;
        if (!file.open(target.descriptor(), QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) {
            throw reportSaveError(path, file.errorString());
        }
        {
            QPdfWriter writer(&file);
            writer.setCreator(QStringLiteral("Tarnwell"));
            writer.setTitle(format.documentTitle());
            writer.setResolution(kPdfResolution);
            if (!writer.setPageLayout(format.pageLayout())) {
                throw reportSaveError(path, QStringLiteral("紙張設定不正確"));
            }
            QPainter painter;
            if (!painter.begin(&writer)) {
                throw reportSaveError(path, QStringLiteral("無法產生 PDF"));
            }
            try {
                paintPages(writer, painter, format, next, feedback);
            } catch (const ReportError&) {
                // A page the writer could not start is a file that could
                // not be written: the file's reason is the one to give.
                if (file.error() != QFileDevice::NoError) {
                    throw reportSaveError(path, file.errorString());
                }
                throw;
            }
            painter.end();
        }
        file.close();
        if (file.error() != QFileDevice::NoError) {
            throw reportSaveError(path, file.errorString());
        }
        target.commit(feedback);
    } catch (const TextFileError& error) {
        throw ReportError(QString::fromUtf8(error.what()));
    }
}

void writeReportPdf(const ReportDocument& pages, const QString& path, Feedback& feedback) {
    writeReportPdfPages(pages.format(), pagesOf(pages), path, feedback);
}

}  // namespace tarnwell
