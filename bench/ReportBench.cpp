// tarnwell-bench --report: a report of 100,000 records made by the real
// print window and report window over a query window's SQLite result.
//
//   tarnwell-bench --report [--repetitions N]
//
// Offscreen, a query window on a SQLite file runs SELECT over a table of
// 100,000 records (Chinese and ASCII text, six fields ticked at widths that
// make lines of 100 display columns) and its print button opens the print
// window; "筆數:" is 0 (every record), the preview at 250 %. Printed, one
// "name value unit" a line:
//   report.first_page_ms       from pressing "預覽" to page 1 painted in the
//                              preview (median of the runs; each press first
//                              closes the preview of all pages before; goal:
//                              under 100, whatever the record count)
//   report.first_page_cold_ms  the same for the first preview after the run,
//                              with only the result's first packet fetched
//   report.pages_per_s         pages made per second by the preview's
//                              production in slices of the event loop, from
//                              the press to the last page
//   report.mb_per_1000_pages   resident memory the produced pages add, per
//                              1,000 pages (goal: under 16)
//   report.pdf_pages_per_s     pages per second from pressing "列印", the print
//                              dialog answered with a PDF file, to the file
//                              written (goal: at least 200)
//   report.pages               pages of the listing, for reference
#include "ReportBench.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <malloc.h>
#include <memory>
#include <optional>

#include "BenchSupport.h"
#include "BenchWindows.h"
#include "dataaccess/ClientDataSet.h"
#include "dataaccess/Database.h"
#include "dataaccess/Query.h"
#include "dataaccess/Session.h"
#include "printing/ReportPreview.h"
#include "printing/UPrint.h"
#include "printing/UReport.h"
#include "query/MemoText.h"
#include "query/UQueryEditor.h"
#include "report/ReportDocument.h"
#include "session/Workspace.h"
#include "shell/Application.h"
#include "shell/UMain.h"
#include "ui/Controls.h"

namespace tarnwell::bench {

namespace {

constexpr int kRecords = 100'000;
const char* const kAlias = "BENCH";

const char* const kTable =
    "CREATE TABLE 往來 (編號 INTEGER, 姓名 VARCHAR(12), 城市 VARCHAR(10), 金額 NUMERIC(10,2), "
    "日期 VARCHAR(10), 備註 VARCHAR(42))";
const char* const kRows =
    "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000) "
    "INSERT INTO 往來 SELECT i, "
    "CASE i % 4 WHEN 0 THEN '王小明' WHEN 1 THEN '陳美玲' WHEN 2 THEN 'Lee Ann' ELSE '歐陽大文' END, "
    "CASE i % 3 WHEN 0 THEN '台北市' WHEN 1 THEN 'Kaohsiung' ELSE '台中市' END, i * 37.25, "
    "'2024-03-' || printf('%02d', i % 28 + 1), "
    "CASE i % 3 WHEN 0 THEN '按月結帳，請於月底前付款' WHEN 1 THEN 'cash on delivery' "
    "ELSE 'VIP 客戶，優先出貨 express' END FROM n";
// 8 + 12 + 10 + 12 + 10 + 42 display columns and a blank after each.
const char* const kWidths[] = {"8", "12", "10", "12", "10", "42"};

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

// Presses "預覽" and gives the milliseconds to page 1 painted.
std::optional<double> pressPreview(TfrmPrint& print) {
    PaintWatch watch;
    child<ReportPreview>(print, "QRPreview1")->widget()->installEventFilter(&watch);
    watch.clock.start();
    child<QAbstractButton>(print, "SBtnPreView")->click();
    if (!serveUntil([&] { return watch.paintedAt >= 0; }, 10000)) {
        child<ReportPreview>(print, "QRPreview1")->widget()->removeEventFilter(&watch);
        return std::nullopt;
    }
    return static_cast<double>(watch.paintedAt) / 1e6;
}

bool waitForPages(const TfrmPrint& print) {
    const std::shared_ptr<ReportDocument> pages = child<ReportPreview>(print, "QRPreview1")->document();
    return pages && serveUntil([&] { return !pages->isProducing(); }, 600000);
}

struct Figures {
    double firstPageColdMs = -1;
    std::vector<double> firstPageMs;
    double pagesPerSecond = -1;
    double megabytesPer1000Pages = -1;
    double pdfPagesPerSecond = -1;
    int pages = 0;
};

bool measureInPrintWindow(TfrmPrint& print, BenchPrompt& prompter, const Options& options, Figures& figures) {
    for (int field = 0; field < 6; ++field) {
        print.setCell(TfrmPrint::ColPrint, field + 1, QStringLiteral("1"));
        print.setCell(TfrmPrint::ColWidth, field + 1, QString::fromLatin1(kWidths[field]));
    }
    child<SpinEdit>(print, "SedtRecordCount")->setValue(0);

    // The first preview fetches the rest of the result as it goes.
    const std::optional<double> cold = pressPreview(print);
    if (!cold || !waitForPages(print)) {
        return false;
    }
    figures.firstPageColdMs = *cold;

    // The pages alone: from a preview of none, every record held already.
    child<SpinEdit>(print, "SedtRecordCount")->setValue(-1);
    if (!pressPreview(print) || !waitForPages(print)) {
        return false;
    }
    child<SpinEdit>(print, "SedtRecordCount")->setValue(0);
    malloc_trim(0);
    const double residentBefore = residentMegabytes();
    QElapsedTimer clock;
    clock.start();
    const std::optional<double> first = pressPreview(print);
    if (!first || !waitForPages(print)) {
        return false;
    }
    const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    const std::shared_ptr<ReportDocument> pages = child<ReportPreview>(print, "QRPreview1")->document();
    figures.pages = pages->pageCount();
    figures.pagesPerSecond = figures.pages / seconds;
    figures.megabytesPer1000Pages = (residentMegabytes() - residentBefore) * 1000.0 / figures.pages;
    figures.firstPageMs.push_back(*first);
    note("pages held: " + std::to_string(pages->bytesHeld() / 1000) + " kB by their own count");

    for (int run = 1; run < options.repetitions; ++run) {
        if (const std::optional<double> again = pressPreview(print)) {
            figures.firstPageMs.push_back(*again);
        }
    }

    // "列印", the print dialog answered with a PDF file.
    QTemporaryDir folder;
    const QString pdf = folder.filePath(QStringLiteral("report.pdf"));
    prompter.setPdfFile(pdf);
    clock.restart();
    child<QAbstractButton>(print, "SBtnPrint")->click();
    const double pdfSeconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    if (!QFile::exists(pdf) || TfrmReport::instance() != nullptr) {
        return false;
    }
    figures.pdfPagesPerSecond = figures.pages / pdfSeconds;
    note("PDF file: " + std::to_string(QFileInfo(pdf).size() / 1000) + " kB");
    return true;
}

void execute(db::Session& session, const char* sql) {
    db::Database database(session, "BENCH_SETUP");
    database.setAliasName(kAlias);
    database.open();
    db::Query query(session);
    query.setDatabaseName(database.databaseName());
    query.setSql(sql);
    query.execSql();
}

int measure(const Options& options) {
    QTemporaryDir folder;
    const QString databaseFile = folder.filePath(QStringLiteral("bench.db"));
    const QString aliasFile = folder.filePath(QStringLiteral("aliases.conf"));
    {
        QFile(databaseFile).open(QIODevice::WriteOnly);
        QFile file(aliasFile);
        if (!file.open(QIODevice::WriteOnly)) {
            note("cannot write " + aliasFile.toStdString());
            return 1;
        }
        file.write(QByteArray("[") + kAlias + "]\nTYPE=SQLITE\nPATH=" + databaseFile.toUtf8() + "\n");
    }
    BenchPrompt prompter;
    Workspace workspace(std::make_unique<db::Session>(db::SessionConfig{aliasFile.toStdString(), {}, false}));
    TfrmMain mainWindow(workspace);
    execute(workspace.Session1(), kTable);
    execute(workspace.Session1(), kRows);
    mainWindow.AddConnectedBDE(QString::fromLatin1(kAlias), {}, {}, {}, {});
    TfrmQueryEditor* window = mainWindow.OpenQueryWindow(QueryWindowForm::QueryWindow);
    if (window == nullptr) {
        note("no query window");
        return 1;
    }
    auto* linkType = child<QComboBox>(*window, "CbxLinkType");
    linkType->setCurrentIndex(linkType->findText(QStringLiteral("BDE")));
    window->CbxLinkTypeChange();
    auto* connectAlias = child<QComboBox>(*window, "CbxConnectAlias");
    connectAlias->setCurrentIndex(connectAlias->findText(QString::fromLatin1(kAlias)));
    window->CbxConnectAliasChange();
    setMemoText(*child<QPlainTextEdit>(*window, "MemSQL"), QStringLiteral("SELECT * FROM 往來 ORDER BY 編號"));
    child<QAbstractButton>(*window, "SBtnQuery")->click();
    serveUntil([&] { return !window->runInProgress() && window->queryThread() == nullptr; }, 120000);
    if (!window->CDS1().active() || window->CDS1().isEmpty()) {
        note("the query window has no result");
        return 1;
    }

    Figures figures;
    bool measured = false;
    // The print window is modal: the measurement runs inside its loop.
    QTimer::singleShot(0, [&] {
        if (TfrmPrint* print = TfrmPrint::instance()) {
            measured = measureInPrintWindow(*print, prompter, options, figures);
            print->SpeedButton4Click();
        }
    });
    window->ToolButton5Click();
    if (!measured || figures.pages == 0 || prompter.failed()) {
        note("tarnwell-bench --report: the report did not come out");
        return 1;
    }
    if (window->CDS1().recordCount() != static_cast<std::size_t>(kRecords)) {
        note("the report did not read every record");
    }

    report("report.first_page_ms", median(figures.firstPageMs), "ms");
    report("report.first_page_cold_ms", figures.firstPageColdMs, "ms");
    report("report.pages_per_s", figures.pagesPerSecond, "pages/s");
    report("report.mb_per_1000_pages", figures.megabytesPer1000Pages, "MB");
    report("report.pdf_pages_per_s", figures.pdfPagesPerSecond, "pages/s");
    report("report.pages", figures.pages, "pages");
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}

}  // namespace

int runReportBench(const Options& options) {
    const std::unique_ptr<Application> application = startWindowedApplication();
    return measure(options);
}

}  // namespace tarnwell::bench
