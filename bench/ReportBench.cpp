// tarnwell-bench --report: the report engine over a long listing.
//
//   tarnwell-bench --report [--repetitions N]
//
// Offscreen, a text listing in the Ming face (a centred title, a column
// header, one line of about 100 display columns per record, mixing Chinese
// and ASCII, composed in the data request as the report window composes its
// lines) over 100,000 synthetic records, previewed in a preview widget at
// 250 %. Printed, one "name value unit" a line:
//   report.first_page_ms       from starting the preview to page 1 painted in
//                              the preview widget (median of the runs; goal:
//                              under 100, whatever the record count)
//   report.pages_per_s         pages laid out per second by the preview
//                              production, in slices of the event loop
//   report.mb_per_1000_pages   resident memory the produced pages add, per
//                              1,000 pages (goal: under 16)
//   report.pdf_pages_per_s     pages per second from the records into a PDF
//                              file (goal: at least 200)
//   report.pages               pages of the listing, for reference
#include "ReportBench.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFileInfo>
#include <QTemporaryDir>
#include <malloc.h>
#include <memory>
#include <optional>

#include "BenchWindows.h"
#include "printing/ReportEngine.h"
#include "printing/ReportPreview.h"
#include "printing/TextColumns.h"
#include "shell/Application.h"

namespace tarnwell::bench {

namespace {

constexpr int kRecords = 100'000;

QString piece(const QString& text, int width) {
    const QString cut = leadingColumns(text, width).toString();
    return cut + QString(width - displayColumns(cut), u' ') + u' ';
}

// Record `n` as a line of 100 display columns.
QString recordLine(int n) {
    static const QString names[] = {QStringLiteral("王小明"), QStringLiteral("陳美玲"), QStringLiteral("Lee Ann"),
                                    QStringLiteral("歐陽大文")};
    static const QString cities[] = {QStringLiteral("台北市"), QStringLiteral("Kaohsiung"), QStringLiteral("台中市")};
    static const QString notes[] = {QStringLiteral("按月結帳，請於月底前付款"), QStringLiteral("cash on delivery"),
                                    QStringLiteral("VIP 客戶，優先出貨 express")};
    return piece(QString::number(n), 8) + piece(names[n % 4], 12) + piece(cities[n % 3], 10) +
           piece(QString::number(n * 37.25, 'f', 2), 12) + piece(QStringLiteral("2024-03-%1").arg(n % 28 + 1), 10) +
           piece(notes[n % 3], 42);
}

void defineListing(ReportEngine& engine, int records, int& next) {
    ReportDefinition& d = engine.definition();
    QFont title(QStringLiteral("細明體"));
    title.setPointSize(12);
    QFont detail(QStringLiteral("細明體"));
    detail.setPointSize(10);
    d.pageHeader.height = 2 * 12 + 4;
    d.pageHeader.ruleBelow = true;
    ReportLabel& caption = d.pageHeader.addLabel();
    caption.text = QStringLiteral("客戶往來明細");
    caption.font = title;
    caption.alignment = Qt::AlignHCenter;
    d.columnHeader.height = 2 * 10 + 2;
    d.columnHeader.ruleBelow = true;
    ReportLabel& header = d.columnHeader.addLabel();
    header.text = piece(QStringLiteral("編號"), 8) + piece(QStringLiteral("姓名"), 12) + piece(QStringLiteral("城市"), 10) +
                  piece(QStringLiteral("金額"), 12) + piece(QStringLiteral("日期"), 10) + piece(QStringLiteral("備註"), 42);
    header.font = detail;
    d.detail.height = 2 * 10 + 1;
    d.detail.addLabel().font = detail;
    d.summary.height = 25;
    engine.setBeforePrint([&next](ReportEngine&) { next = 0; });
    engine.setDataRequest([&next, records](ReportEngine& report, bool& moreData) {
        if (next < records) {
            moreData = true;
            report.definition().detail.labels[0].text = recordLine(++next);
        }
    });
}

// Tells when the preview has painted its page.
class PaintWatch : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Paint) {
            return false;
        }
        static_cast<QWidget*>(watched)->removeEventFilter(this);
        const bool handled = watched->event(event);  // paint now, then note the time
        paintedAt = clock.nsecsElapsed();
        return handled;
    }
    QElapsedTimer clock;
    qint64 paintedAt = -1;
};

// Starts a preview and gives the milliseconds to page 1 painted.
std::optional<double> firstPage(ReportEngine& engine, ReportPreview& preview) {
    engine.closePreview();
    preview.detach();
    QCoreApplication::processEvents();
    PaintWatch watch;
    preview.widget()->installEventFilter(&watch);
    watch.clock.start();
    engine.preview();
    if (!serveUntil([&] { return watch.paintedAt >= 0; }, 10000)) {
        return std::nullopt;
    }
    return static_cast<double>(watch.paintedAt) / 1e6;
}

int measure(const Options& options) {
    int next = 0;
    ReportEngine engine;
    defineListing(engine, kRecords, next);
    ReportPreview preview;
    preview.resize(1000, 800);
    preview.show();
    engine.setPreviewHook(
        [&preview](ReportEngine&, const std::shared_ptr<ReportDocument>& pages) { preview.attach(pages); });

    // Fonts and glyph caches loaded, as they are after a first preview.
    {
        ReportEngine warm;
        int warmNext = 0;
        defineListing(warm, 100, warmNext);
        warm.setPreviewHook(
            [&preview](ReportEngine&, const std::shared_ptr<ReportDocument>& pages) { preview.attach(pages); });
        warm.preview();
        serveUntil([&] { return !warm.isProducing(); }, 10000);
        preview.widget()->repaint();
        preview.detach();
    }
    malloc_trim(0);

    const double residentBefore = residentMegabytes();
    QElapsedTimer clock;
    clock.start();
    const std::optional<double> first = firstPage(engine, preview);
    if (!first || !serveUntil([&] { return !engine.isProducing(); }, 600000)) {
        note("tarnwell-bench --report: the preview did not finish");
        return 1;
    }
    const double produceSeconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const std::shared_ptr<ReportDocument> pages = engine.document();
    const int pageCount = pages->pageCount();
    const double residentAfter = residentMegabytes();
    note("pages held: " + std::to_string(pages->bytesHeld() / 1000) + " kB by their own count");

    std::vector<double> firsts{*first};
    for (int run = 1; run < options.repetitions; ++run) {
        if (const std::optional<double> again = firstPage(engine, preview)) {
            firsts.push_back(*again);
        }
    }
    engine.closePreview();
    preview.detach();

    QTemporaryDir folder;
    const QString pdf = folder.filePath(QStringLiteral("report.pdf"));
    NoFeedback none;
    clock.restart();
    engine.writePdf(pdf, none);
    const double pdfSeconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    note("PDF file: " + std::to_string(QFileInfo(pdf).size() / 1000) + " kB");

    report("report.first_page_ms", median(firsts), "ms");
    report("report.pages_per_s", pageCount / produceSeconds, "pages/s");
    report("report.mb_per_1000_pages", (residentAfter - residentBefore) * 1000.0 / pageCount, "MB");
    report("report.pdf_pages_per_s", pageCount / pdfSeconds, "pages/s");
    report("report.pages", pageCount, "pages");
    return 0;
}

}  // namespace

int runReportBench(const Options& options) {
    const std::unique_ptr<Application> application = startWindowedApplication();
    return measure(options);
}

}  // namespace tarnwell::bench
