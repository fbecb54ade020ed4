// The report of the print window over real SQLite results of a query window:
// the lines it composes, what the record limit, title, fonts and paper do to
// its pages, zoom and paging in the preview, printing through the print
// dialog (answered with a PDF file that poppler's readers check), and what a
// long report, a bad width or a window going away do.
#include "PrintWindowFixture.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <algorithm>
#include <map>

#include "ReportTestSupport.h"
#include "printing/ReportPreview.h"
#include "printing/UReport.h"
#include "report/ReportDocument.h"

namespace tarnwell::test {
namespace {

using Col = TfrmPrint::FieldColumn;

// 120 records: 編號 1 to 120, 名稱 "客戶1" ..., 城市 in turn.
const QString kCustomers = QStringLiteral(
    "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1)\n"
    "SELECT i AS 編號, '客戶' || i AS 名稱, CASE i % 3 WHEN 0 THEN '台北市' WHEN 1 THEN 'Kaohsiung' "
    "ELSE '台中' END AS 城市 FROM n");

// The sheet's top margin in report pixels, where the first band starts.
constexpr double kTop = 10 * 96 / 25.4;

class ReportWindowTest : public PrintWindowFixture {
protected:
    void runCustomers(int records = 120) { run(*window, kCustomers.arg(records)); }

    // Ticks the fields given with their widths; the others are cleared.
    static void tick(TfrmPrint& print, const std::vector<std::pair<int, QString>>& widths) {
        print.SbtnDisCheckAllClick();
        for (const auto& [field, width] : widths) {
            print.setCell(Col::ColPrint, field + 1, QStringLiteral("1"));
            print.setCell(Col::ColWidth, field + 1, width);
        }
    }

    // "預覽", then the event loop until the pages are all there.
    static std::shared_ptr<ReportDocument> preview(TfrmPrint& print) {
        child<QAbstractButton>(print, "SBtnPreView")->click();
        std::shared_ptr<ReportDocument> pages = child<ReportPreview>(print, "QRPreview1")->document();
        if (pages) {
            EXPECT_TRUE(waitUntil([&] { return !pages->isProducing(); }));
        }
        return pages;
    }

    // The texts of every page's runs, page after page.
    static QStringList texts(const ReportDocument& pages) {
        QStringList all;
        for (int i = 0; i < pages.pageCount(); ++i) {
            all += textsOf(pages.page(i));
        }
        return all;
    }

    static qsizetype recordLines(const ReportDocument& pages, const QString& header) {
        const QStringList all = texts(pages);
        return std::count_if(all.begin(), all.end(), [&](const QString& text) { return text != header; });
    }

    // The tops of page 1's runs.
    static std::vector<double> tops(const ReportDocument& pages) {
        std::vector<double> result;
        for (const ReportTextRun& run : pages.page(0).runs()) {
            result.push_back(run.y);
        }
        return result;
    }

    QString pdf(const QString& name) const { return folder.filePath(name); }

    // "列印" with the print dialog answered by a PDF file.
    void printTo(TfrmPrint& print, const QString& file) {
        prompter.answerPrinter(file);
        child<QAbstractButton>(print, "SBtnPrint")->click();
    }
};

TEST_F(ReportWindowTest, linesAreCutAndPaddedInDisplayColumnsFromTheTickedRows) {
    run(*window,
        "SELECT 'abc' AS a, 'abcdefg' AS b, 'ab ' AS c, '中文' AS d, 'xyz' AS e, NULL AS f, '王小明' AS g, "
        "'x' || char(10) || 'y' AS h, 'skipped' AS i");
    EXPECT_TRUE(whilePrinting([&](TfrmPrint& print) {
        tick(print, {{0, "5"}, {1, "5"}, {2, "5"}, {3, "4"}, {4, "0"}, {5, "3"}, {6, "5"}, {7, "4"}});
        print.setCell(Col::ColWidth, 9, QStringLiteral("not read"));  // not ticked
        print.setCell(Col::ColCaption, 1, QStringLiteral("code "));
        print.setCell(Col::ColCaption, 4, QStringLiteral("名稱欄位"));
        // A width still being typed counts as typed.
        QTableWidget& grid = *child<QTableWidget>(print, "SGridField");
        print.setCell(Col::ColWidth, 2, QStringLiteral("9"));
        grid.setCurrentCell(1, Col::ColWidth - 1);
        grid.edit(grid.currentIndex());
        QLineEdit* typing = grid.viewport()->findChild<QLineEdit*>();
        ASSERT_NE(typing, nullptr);
        typing->setText(QStringLiteral("5"));
        const std::shared_ptr<ReportDocument> pages = preview(print);
        ASSERT_TRUE(pages);
        EXPECT_TRUE(prompter.calls().empty());
        const QStringList lines = texts(*pages);
        ASSERT_EQ(lines.size(), 2);
        // Header: a caption's blank at its end is kept beyond its width; a
        // cut keeps whole characters.
        EXPECT_EQ(lines.at(0), QStringLiteral("code   b     c     名稱  f   g     h    "));
        EXPECT_EQ(lines.at(1), QStringLiteral("abc   abcde ab     中文      王小  x y  "))
            << "three letters in 5, seven cut to 5, a trailing blank kept beyond 5, two Chinese characters "
               "filling 4, width 0, null, a cut Chinese character padded, a line break as a blank";
    }));

    // The piece's own rules, for fills and sides the lines do not use.
    EXPECT_EQ(TfrmReport::PadColumn(QStringLiteral("ab"), QStringLiteral("*-"), u'L', 5), QStringLiteral("*-*-*-ab"));
    EXPECT_EQ(TfrmReport::PadColumn(QStringLiteral(" 中 "), QStringLiteral("."), u'R', 4), QStringLiteral(" 中 .."));
    EXPECT_EQ(TfrmReport::PadColumn(QStringLiteral("abc"), QStringLiteral(" "), u'R', 0), QStringLiteral("abc"));
}

TEST_F(ReportWindowTest, recordLimitHoldsInEveryPreviewAndPrintAndNoTickStillGivesABandPerRecord) {
    runCustomers();
    EXPECT_TRUE(whilePrinting([&](TfrmPrint& print) {
        tick(print, {{0, "4"}});
        const QString header = QStringLiteral("編號 ");
        for (const int limit : {50, 50, 0, 200, -1, 50}) {
            child<SpinEdit>(print, "SedtRecordCount")->setValue(limit);
            const std::shared_ptr<ReportDocument> pages = preview(print);
            ASSERT_TRUE(pages);
            EXPECT_EQ(recordLines(*pages, header), limit < 0 ? 0 : limit == 0 ? 120 : std::min(limit, 120))
                << "limit " << limit;
            EXPECT_EQ(TfrmReport::instance()->deliveredRecords(), 0);
        }
        EXPECT_EQ(texts(*child<ReportPreview>(print, "QRPreview1")->document()).mid(0, 3),
                  QStringList({header, "1    ", "2    "}))
            << "a later preview starts from the first record too";

        // Printed: the same records.
        printTo(print, pdf("fifty.pdf"));
        const QStringList printed = nonBlankLines(outputOf("pdftotext", {"-layout", pdf("fifty.pdf"), "-"}));
        ASSERT_EQ(printed.size(), 1 + 50) << "one page: the header and 50 records";
        EXPECT_EQ(printed.last().trimmed(), QStringLiteral("50"));

        // No field ticked: empty lines, but still a band per record, so the
        // pages are those of the ticked listing.
        child<SpinEdit>(print, "SedtRecordCount")->setValue(0);
        const int ticked = preview(print)->pageCount();
        EXPECT_EQ(ticked, 3);
        print.SbtnDisCheckAllClick();
        const std::shared_ptr<ReportDocument> blank = preview(print);
        EXPECT_EQ(blank->pageCount(), ticked);
        EXPECT_TRUE(texts(*blank).isEmpty());
    }));
}

TEST_F(ReportWindowTest, bandsAreAsHighAsTheFontsInPointsAndTheTitleOnlyWhenAsked) {
    runCustomers();
    EXPECT_TRUE(whilePrinting([&](TfrmPrint& print) {
        tick(print, {{1, "8"}});
        // The window's 13-pixel font is 9.75 points: bands of 21.5 and 20.5.
        std::shared_ptr<ReportDocument> pages = preview(print);
        std::vector<double> y = tops(*pages);
        ASSERT_EQ(y.size(), 51U);
        EXPECT_NEAR(y.at(0), kTop + 2, 0.01) << "no title: the column header at the top margin";
        EXPECT_NEAR(y.at(1), kTop + 21.5 + 2, 0.01);
        EXPECT_NEAR(y.at(2) - y.at(1), 20.5, 0.01);
        EXPECT_EQ(pages->page(0).rules().size(), 1U);

        // Fonts picked as points in the font dialog count as those points.
        QFont detail(QStringLiteral("細明體"));
        detail.setPointSize(12);
        QFont title(QStringLiteral("標楷體"));
        title.setPointSize(16);
        prompter.answerFont(detail);
        child<QAbstractButton>(print, "SpeedButton5")->click();
        child<QCheckBox>(print, "ChkTitle")->click();
        prompter.answerFont(title);
        child<QAbstractButton>(print, "SpeedButton1")->click();
        child<QLineEdit>(print, "EdtTitle")->setText(QStringLiteral("客戶清單"));
        pages = preview(print);
        y = tops(*pages);
        ASSERT_GE(y.size(), 3U);
        const ReportPage& first = pages->page(0);
        EXPECT_EQ(first.textOf(first.runs().at(0)), QStringLiteral("客戶清單"));
        EXPECT_EQ(first.runs().at(0).alignment, ReportTextRun::kCentre);
        EXPECT_EQ(pages->format().font(first.runs().at(0).font), title);
        EXPECT_EQ(pages->format().font(first.runs().at(1).font), detail);
        EXPECT_NEAR(y.at(0), kTop + 2, 0.01);
        EXPECT_NEAR(y.at(1), kTop + 2 * 16 + 4 + 2, 0.01);
        EXPECT_NEAR(y.at(2), kTop + 2 * 16 + 4 + 2 * 12 + 2 + 2, 0.01);
        EXPECT_NEAR(y.at(3) - y.at(2), 2 * 12 + 1, 0.01);
        EXPECT_EQ(first.rules().size(), 2U);
        EXPECT_EQ(textsOf(pages->page(1)).at(0), QStringLiteral("客戶清單")) << "on every page";
    }));
}

TEST_F(ReportWindowTest, zoomAndPagingFollowTheirRulesAndTheLabelCountsPages) {
    runCustomers();
    EXPECT_TRUE(whilePrinting([&](TfrmPrint& print) {
        ReportPreview& area = *child<ReportPreview>(print, "QRPreview1");
        QLabel& label = *child<QLabel>(print, "LabPage");
        // Without a report: paging does nothing, zoom still has its rules.
        child<QAbstractButton>(print, "SBtnNextPage")->click();
        child<QAbstractButton>(print, "SBtnPriorPage")->click();
        EXPECT_TRUE(label.text().isEmpty());
        EXPECT_EQ(area.zoom(), 250);
        for (int i = 0; i < 30; ++i) {
            child<QAbstractButton>(print, "SBtnZoomIn")->click();
        }
        EXPECT_EQ(area.zoom(), 510);
        for (int i = 0; i < 40; ++i) {
            child<QAbstractButton>(print, "SBtnZoomOut")->click();
        }
        EXPECT_EQ(area.zoom(), 10);
        child<QAbstractButton>(print, "SBtnZoom")->click();
        EXPECT_EQ(area.zoom(), 100);
        for (int i = 0; i < 30; ++i) {
            child<QAbstractButton>(print, "SBtnZoomIn")->click();
        }
        EXPECT_EQ(area.zoom(), 500);
        child<QAbstractButton>(print, "SBtnZoom")->click();
        for (int i = 0; i < 10; ++i) {
            child<QAbstractButton>(print, "SBtnZoomOut")->click();
        }
        EXPECT_EQ(area.zoom(), 20);

        tick(print, {{0, "4"}});
        child<SpinEdit>(print, "SedtRecordCount")->setValue(0);
        preview(print);
        EXPECT_EQ(area.zoom(), 20) << "kept between previews";
        EXPECT_EQ(label.text(), QStringLiteral("頁數: 1/3"));
        child<QAbstractButton>(print, "SBtnPriorPage")->click();
        EXPECT_EQ(area.currentPage(), 1);
        EXPECT_EQ(label.text(), QStringLiteral("頁數: 1/3"));

        child<QAbstractButton>(print, "SBtnZoom")->click();
        area.horizontalScrollBar()->setValue(area.horizontalScrollBar()->maximum());
        area.verticalScrollBar()->setValue(area.verticalScrollBar()->maximum());
        ASSERT_GT(area.verticalScrollBar()->value(), 0);
        child<QAbstractButton>(print, "SBtnNextPage")->click();
        EXPECT_EQ(label.text(), QStringLiteral("頁數: 2/3"));
        EXPECT_EQ(area.horizontalScrollBar()->value(), 0);
        EXPECT_EQ(area.verticalScrollBar()->value(), 0) << "a new page shows from its top left";
        child<QAbstractButton>(print, "SBtnNextPage")->click();
        child<QAbstractButton>(print, "SBtnNextPage")->click();
        EXPECT_EQ(area.currentPage(), 3);
        EXPECT_EQ(label.text(), QStringLiteral("頁數: 3/3"));

        // A preview closed by a print leaves the label as it was.
        printTo(print, pdf("report.pdf"));
        EXPECT_EQ(area.document(), nullptr);
        EXPECT_EQ(label.text(), QStringLiteral("頁數: 3/3"));
        child<QAbstractButton>(print, "SBtnNextPage")->click();
        EXPECT_EQ(label.text(), QStringLiteral("頁數: 3/3"));
    }));
}

TEST_F(ReportWindowTest, printingGoesThroughTheDialogFreesTheReportWindowAndKeepsTheRecord) {
    runCustomers();
    window->CDS1().moveTo(2);
    EXPECT_TRUE(whilePrinting([&](TfrmPrint& print) {
        tick(print, {{1, "8"}});
        ASSERT_TRUE(preview(print));
        QPointer<TfrmReport> first = TfrmReport::instance();
        ASSERT_TRUE(first);
        EXPECT_EQ(window->CDS1().currentRow(), 2U) << "while a preview is shown";
        preview(print);
        EXPECT_EQ(TfrmReport::instance(), first.data()) << "kept for later previews";

        child<QRadioButton>(print, "RbP2")->click();
        printTo(print, pdf("printed.pdf"));
        ASSERT_EQ(prompter.calls().size(), 1U);
        EXPECT_EQ(prompter.calls().at(0).texts.mid(1), QStringList({"210x297", "landscape"}))
            << "the dialog starts on the report's sheet";
        EXPECT_EQ(print.printFlag(), 0);
        EXPECT_EQ(child<ReportPreview>(print, "QRPreview1")->document(), nullptr);
        EXPECT_TRUE(first.isNull());
        EXPECT_EQ(TfrmReport::instance(), nullptr);
        EXPECT_EQ(window->CDS1().currentRow(), 2U);
        EXPECT_TRUE(outputOf("pdftotext", {pdf("printed.pdf"), "-"}).contains(QStringLiteral("客戶50")));

        ASSERT_TRUE(preview(print));
        EXPECT_NE(TfrmReport::instance(), nullptr) << "a fresh report window";

        // A cancelled dialog prints nothing and ends as a print does.
        prompter.answerPrinter(std::nullopt);
        child<QAbstractButton>(print, "SBtnPrint")->click();
        EXPECT_FALSE(QFile::exists(pdf("cancelled.pdf")));
        EXPECT_EQ(child<ReportPreview>(print, "QRPreview1")->document(), nullptr);
        EXPECT_EQ(TfrmReport::instance(), nullptr);
        EXPECT_EQ(print.printFlag(), 0);
        EXPECT_EQ(window->CDS1().currentRow(), 2U);
        EXPECT_TRUE(prompter.messages().isEmpty());
    }));
    EXPECT_EQ(window->CDS1().currentRow(), 2U);
}

TEST_F(ReportWindowTest, aBadWidthStopsTheBuildWithTheConversionMessage) {
    runCustomers();
    EXPECT_TRUE(whilePrinting([&](TfrmPrint& print) {
        tick(print, {{0, "4"}, {1, "8"}});
        ASSERT_TRUE(preview(print));
        const struct {
            QString width;
            QString message;
        } cases[] = {
            {"", "'' is not a valid integer value"},
            {"12a", "'12a' is not a valid integer value"},
            {"99999999999", "'99999999999' is not a valid integer value"},
            {"1001", "欄位「名稱」的長度 1001 不在 0 到 1000 之間"},
        };
        for (const auto& bad : cases) {
            print.setCell(Col::ColWidth, 2, bad.width);
            prompter.expectMessage(bad.message);
            child<QAbstractButton>(print, "SBtnPreView")->click();
            EXPECT_EQ(child<ReportPreview>(print, "QRPreview1")->document(), nullptr)
                << "the preview shown was closed first";
            // Printing stops there too, before the print dialog.
            prompter.expectMessage(bad.message);
            child<QAbstractButton>(print, "SBtnPrint")->click();
            EXPECT_EQ(print.printFlag(), 0);
        }
        print.setCell(Col::ColWidth, 2, QStringLiteral("1000"));
        ASSERT_TRUE(preview(print));
        EXPECT_EQ(texts(*child<ReportPreview>(print, "QRPreview1")->document()).at(0),
                  QStringLiteral("編號 名稱") + QString(1000 - 4 + 1, u' '));

        // A sheet with no room is the engine's to refuse, before any dialog.
        child<SpinEdit>(print, "SEdtPWidth")->setValue(0);
        prompter.expectMessage();
        child<QAbstractButton>(print, "SBtnPrint")->click();
        EXPECT_TRUE(prompter.scriptUsedUp());
    }));
}

TEST_F(ReportWindowTest, thePdfOfAChineseResultHasItsColumnsSheetsAndFonts) {
    execute(kLocal,
            "CREATE TABLE 客戶 (編號 INTEGER, 姓名 VARCHAR(8), 城市 VARCHAR(10), 金額 INTEGER);"
            "INSERT INTO 客戶 VALUES (1, '王小明', '台北市', 1200), (22, 'Lee Ann', '高雄', 35),"
            " (333, '歐陽大文先生', 'Taichung', 0)");
    run(*window, "SELECT * FROM 客戶");
    EXPECT_TRUE(whilePrinting([&](TfrmPrint& print) {
        tick(print, {{0, "4"}, {1, "8"}, {2, "8"}, {3, "6"}});
        child<QCheckBox>(print, "ChkTitle")->click();
        child<QLineEdit>(print, "EdtTitle")->setText(QStringLiteral("客戶清單"));
        printTo(print, pdf("list.pdf"));

        const QStringList text = nonBlankLines(outputOf("pdftotext", {"-layout", pdf("list.pdf"), "-"}));
        ASSERT_EQ(text.size(), 5) << text.join(u'\n').toStdString();
        EXPECT_EQ(text.at(0).trimmed(), QStringLiteral("客戶清單"));
        EXPECT_EQ(text.at(1).split(u' ', Qt::SkipEmptyParts), QStringList({"編號", "姓名", "城市", "金額"}));
        EXPECT_EQ(text.at(2).split(u' ', Qt::SkipEmptyParts), QStringList({"1", "王小明", "台北市", "1200"}));
        EXPECT_EQ(text.at(3).split(u' ', Qt::SkipEmptyParts), QStringList({"22", "Lee", "Ann", "高雄", "35"}));
        EXPECT_EQ(text.at(4).split(u' ', Qt::SkipEmptyParts), QStringList({"333", "歐陽大文", "Taichung", "0"}));

        // Columns where the widths put them (4, 8, 8, 6 and a blank each), a
        // column being half of the 9.75-point window font.
        const QList<QList<Word>> boxes = wordsByLine(outputOf("pdftotext", {"-bbox", pdf("list.pdf"), "-"}));
        ASSERT_EQ(boxes.size(), 5);
        const double left = boxes.at(1).at(0).x;
        EXPECT_NEAR(left, millimetresToPoints(10), 0.5);
        const double pitch = 9.75 / 2;
        const std::map<QString, int> columns = {{"編號", 0}, {"姓名", 5}, {"城市", 14}, {"金額", 23},
                                                {"1", 0},    {"王小明", 5}, {"台北市", 14}, {"1200", 23},
                                                {"22", 0},   {"Lee", 5}, {"Ann", 9}, {"高雄", 14}, {"35", 23},
                                                {"333", 0},  {"歐陽大文", 5}, {"Taichung", 14}, {"0", 23}};
        for (int line = 1; line < 5; ++line) {
            for (const Word& word : boxes.at(line)) {
                ASSERT_TRUE(columns.count(word.text)) << word.text.toStdString();
                EXPECT_NEAR(word.x, left + columns.at(word.text) * pitch, 0.1) << word.text.toStdString();
            }
        }

        const QStringList fonts = outputOf("pdffonts", {pdf("list.pdf")}).split(u'\n', Qt::SkipEmptyParts);
        ASSERT_GE(fonts.size(), 3) << fonts.join(u'\n').toStdString();
        for (const QString& font : fonts.mid(2)) {
            const QStringList fields = font.split(u' ', Qt::SkipEmptyParts);
            ASSERT_GE(fields.size(), 7);
            EXPECT_EQ(fields.at(fields.size() - 5), QStringLiteral("yes")) << "embedded: " << font.toStdString();
        }

        // Sheets: A4 turned, then sizes entered, upright and turned.
        child<QRadioButton>(print, "RbP2")->click();
        printTo(print, pdf("landscape.pdf"));
        QSizeF size = pageSizeInPoints(pdf("landscape.pdf"));
        EXPECT_NEAR(size.width(), millimetresToPoints(297), 0.5);
        EXPECT_NEAR(size.height(), millimetresToPoints(210), 0.5);
        child<SpinEdit>(print, "SEdtPLength")->setValue(150);
        child<SpinEdit>(print, "SEdtPWidth")->setValue(100);
        printTo(print, pdf("custom-landscape.pdf"));
        size = pageSizeInPoints(pdf("custom-landscape.pdf"));
        EXPECT_NEAR(size.width(), millimetresToPoints(150), 0.5);
        EXPECT_NEAR(size.height(), millimetresToPoints(100), 0.5);
        child<QRadioButton>(print, "RbP1")->click();
        printTo(print, pdf("custom.pdf"));
        size = pageSizeInPoints(pdf("custom.pdf"));
        EXPECT_NEAR(size.width(), millimetresToPoints(100), 0.5);
        EXPECT_NEAR(size.height(), millimetresToPoints(150), 0.5);
    }));
}

TEST_F(ReportWindowTest, theSqlTextPrintsInTheSummaryBandInItsFontWhenAsked) {
    run(*window, "SELECT id, name\n\tFROM t\nORDER BY id");
    EXPECT_TRUE(whilePrinting([&](TfrmPrint& print) {
        tick(print, {{0, "3"}});
        std::shared_ptr<ReportDocument> pages = preview(print);
        EXPECT_EQ(texts(*pages), QStringList({"id  ", "1   ", "2   ", "3   ", "4   "})) << "no SQL unless asked";

        QFont kai(QStringLiteral("標楷體"));
        kai.setPointSize(11);
        prompter.answerFont(kai);
        child<QAbstractButton>(print, "SpeedButton2")->click();
        child<QCheckBox>(print, "ChkSQL")->click();
        pages = preview(print);
        const ReportPage& page = pages->page(pages->pageCount() - 1);
        const QStringList all = textsOf(page);
        ASSERT_EQ(all.size(), 8);
        EXPECT_EQ(all.mid(5), QStringList({"SELECT id, name", "    FROM t", "ORDER BY id"}))
            << "every line of it, tabs as blanks";
        EXPECT_EQ(pages->format().font(page.runs().back().font), kai);
    }));
}

TEST_F(ReportWindowTest, aLongReportIsMadeWhilePageOneIsShownAndStopsWhenReplacedOrEnded) {
    runCustomers(3000);
    std::shared_ptr<ReportDocument> ended;
    EXPECT_TRUE(whilePrinting([&](TfrmPrint& print) {
        tick(print, {{0, "5"}, {1, "10"}});
        child<SpinEdit>(print, "SedtRecordCount")->setValue(0);
        child<QAbstractButton>(print, "SBtnPreView")->click();
        // The button returned with page 1 shown; the rest is to come.
        const std::shared_ptr<ReportDocument> first = child<ReportPreview>(print, "QRPreview1")->document();
        ASSERT_TRUE(first);
        EXPECT_EQ(first->pageCount(), 1);
        EXPECT_TRUE(first->isProducing());
        EXPECT_EQ(child<ReportPreview>(print, "QRPreview1")->currentPage(), 1);
        EXPECT_EQ(child<QLabel>(print, "LabPage")->text(), QStringLiteral("頁數: 1/1"));
        child<QAbstractButton>(print, "SBtnZoomIn")->click();
        EXPECT_EQ(child<ReportPreview>(print, "QRPreview1")->zoom(), 270);

        // A new preview stops the production in progress and starts afresh.
        child<QAbstractButton>(print, "SBtnPreView")->click();
        EXPECT_EQ(first->state(), ReportDocument::State::Stopped);
        const std::shared_ptr<ReportDocument> second = child<ReportPreview>(print, "QRPreview1")->document();
        ASSERT_NE(second, first);
        ASSERT_TRUE(waitUntil([&] { return second->pageCount() >= 2; }));
        child<QAbstractButton>(print, "SBtnNextPage")->click();
        EXPECT_EQ(child<ReportPreview>(print, "QRPreview1")->currentPage(), 2);
        ASSERT_TRUE(waitUntil([&] { return !second->isProducing(); }));
        EXPECT_EQ(second->state(), ReportDocument::State::Complete);
        EXPECT_EQ(second->pageCount(), 60);
        EXPECT_EQ(child<QLabel>(print, "LabPage")->text(), QStringLiteral("頁數: 2/60"));
        EXPECT_EQ(textsOf(second->page(59)).last(), QStringLiteral("3000  客戶3000   "));

        // "結束" in the middle of a production stops it.
        child<QAbstractButton>(print, "SBtnPreView")->click();
        ended = child<ReportPreview>(print, "QRPreview1")->document();
        ASSERT_TRUE(ended && ended->isProducing());
    }));
    EXPECT_EQ(ended->state(), ReportDocument::State::Stopped);
    EXPECT_EQ(TfrmReport::instance(), nullptr);

    // The query window going away mid-production takes the print window and
    // the report with it, and nothing reads the dataset after.
    EXPECT_TRUE(whilePrinting([&](TfrmPrint& print) {
        tick(print, {{0, "5"}});
        child<SpinEdit>(print, "SedtRecordCount")->setValue(0);
        child<QAbstractButton>(print, "SBtnPreView")->click();
        ended = child<ReportPreview>(print, "QRPreview1")->document();
        ASSERT_TRUE(ended && ended->isProducing());
        delete std::exchange(window, nullptr);
    }));
    EXPECT_EQ(ended->state(), ReportDocument::State::Stopped);
    EXPECT_EQ(TfrmPrint::instance(), nullptr);
    EXPECT_EQ(TfrmReport::instance(), nullptr);
}

TEST_F(ReportWindowTest, theQueryWindowGoingAwayWhilePagesPrintStopsThePrintAndLeavesNoFile) {
    runCustomers(20000);
    EXPECT_TRUE(whilePrinting([&](TfrmPrint& print) {
        tick(print, {{0, "5"}, {1, "10"}});
        child<SpinEdit>(print, "SedtRecordCount")->setValue(0);
        // Due at the first events the print lets through, well before its
        // 400 pages are out.
        QTimer::singleShot(0, [&] { delete std::exchange(window, nullptr); });
        printTo(print, pdf("gone.pdf"));
        EXPECT_EQ(window, nullptr) << "the query window went while the pages printed";
    }));
    EXPECT_EQ(TfrmPrint::instance(), nullptr);
    EXPECT_EQ(TfrmReport::instance(), nullptr);
    EXPECT_FALSE(QFile::exists(pdf("gone.pdf")));
    EXPECT_TRUE(prompter.messages().isEmpty());
}

}  // namespace
}  // namespace tarnwell::test
