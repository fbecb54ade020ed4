// The result grid with its packets and navigation, the field list, and the
// SQL text tools and SQL files as the window uses them.
#include "QueryWindowFixture.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QImage>
#include <QHeaderView>
#include <QLabel>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSplitterHandle>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QTreeWidget>
#include <csignal>
#include <vector>

#include "dataaccess/FieldKind.h"
#include "dataaccess/postgres/PgConnection.h"

#include "query/ResultGrid.h"
#include "query/ResultGridModel.h"
#include "query/SqlFileBrowser.h"
#include "query/UReplaceString.h"

namespace tarnwell::test {
namespace {

const QString kTwoHundredFifty = QStringLiteral(
    "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 250) SELECT n FROM c");

class ResultGridTest : public LocalWindowTest {
protected:
    // A navigation button, and the packets it asked for.
    void press(const char* button) {
        child<QToolButton>(*window, button)->click();
        ASSERT_TRUE(waitForFetch(*window));
    }
    int count() const { return static_cast<int>(window->CDS1().recordCount()); }
    // Waits until the grid asks for no further rows: it shows its last row
    // no more, or holds the whole result.
    bool waitForFilledGrid() {
        QTableView& grid = *child<QTableView>(*window, "DBGrid");
        ResultGridModel& model = *gridModel(*window);
        return waitUntil([&] {
            const QRect last = grid.visualRect(model.index(model.rowCount() - 1, 0));
            return !window->fetchInProgress() &&
                   (!model.canFetchMore({}) || !grid.viewport()->rect().intersects(last));
        });
    }
    // Closes the window, which must go at once, whatever its fetch waits for.
    void closeWindowAtOnce() {
        QPointer<TfrmQueryEditor> closed = window;
        window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(closed.isNull()) << "the window went without waiting for the server";
        window = nullptr;
    }
    // Moves with the next button until the dataset has to fetch.
    void nextUntilFetched() {
        const int before = count();
        while (count() == before) {
            press("SpeedButton4");
        }
    }
};

TEST_F(ResultGridTest, packetsOfAHundredGiveCountsOf100Then200Then250) {
    run(*window, kTwoHundredFifty);
    EXPECT_EQ(count(), 100);
    EXPECT_EQ(status(*window, 1), "目前資料筆數: 100");
    EXPECT_EQ(gridModel(*window)->rowCount(), 100);
    EXPECT_TRUE(gridModel(*window)->canFetchMore({}));

    // Moving down to row 100 fetches the second packet (the grid asks for
    // it once the last row it holds comes into view).
    for (int row = 0; row < 100; ++row) {
        press("SpeedButton4");
    }
    EXPECT_EQ(window->CDS1().currentRow(), 100u);
    EXPECT_EQ(count(), 200);
    EXPECT_EQ(status(*window, 1), "目前資料筆數: 200");
    EXPECT_EQ(child<QTableView>(*window, "DBGrid")->currentIndex().row(), 100) << "the grid follows the dataset";

    press("SpeedButton5");
    EXPECT_EQ(count(), 250);
    EXPECT_EQ(status(*window, 1), "目前資料筆數: 250");
    EXPECT_EQ(child<QTableView>(*window, "DBGrid")->currentIndex().row(), 249);
    EXPECT_FALSE(gridModel(*window)->canFetchMore({}));

    // Next on the last row of a whole result stays there.
    press("SpeedButton4");
    EXPECT_EQ(window->CDS1().currentRow(), 249u);
    press("SpeedButton2");
    EXPECT_EQ(window->CDS1().currentRow(), 0u);
    press("SpeedButton3");
    EXPECT_EQ(window->CDS1().currentRow(), 0u);
    press("SpeedButton4");
    press("SpeedButton4");
    press("SpeedButton3");
    EXPECT_EQ(window->CDS1().currentRow(), 1u);

    // The grid moves the dataset too.
    child<QTableView>(*window, "DBGrid")->setCurrentIndex(gridModel(*window)->index(42, 0));
    EXPECT_EQ(window->CDS1().currentRow(), 42u);

    // Refresh brings back as many rows, all of them here, at the same place.
    press("SpeedButton6");
    EXPECT_EQ(count(), 250);
    EXPECT_EQ(window->CDS1().currentRow(), 42u);

    // Ctrl+End in the grid goes to the last record, not to the last row held.
    run(*window, kTwoHundredFifty);
    ASSERT_EQ(count(), 100);
    QTableView& grid = *child<QTableView>(*window, "DBGrid");
    grid.setFocus();
    QTest::keyClick(&grid, Qt::Key_End, Qt::ControlModifier);
    ASSERT_TRUE(waitForFetch(*window));
    EXPECT_EQ(count(), 250);
    EXPECT_EQ(window->CDS1().currentRow(), 249u);
    EXPECT_EQ(grid.currentIndex().row(), 249);
}

TEST_F(ResultGridTest, thePacketSizeCountsPerFetchAndChangesWhileAResultIsShown) {
    child<SpinEdit>(*window, "SEdt_PacketRecords")->setValue(1);
    run(*window, kTwoHundredFifty);
    // The grid holds as many rows as it shows, one fetch per row.
    ASSERT_TRUE(waitForFilledGrid());
    EXPECT_GE(count(), 1);
    EXPECT_LT(count(), 100);
    EXPECT_EQ(status(*window, 1), QStringLiteral("目前資料筆數: %1").arg(count()));
    // What each fetch brought (the grid asks for rows as well, once a move
    // shows its last row).
    std::vector<int> fetched;
    QObject::connect(gridModel(*window), &QAbstractItemModel::rowsInserted, window,
            [&](const QModelIndex&, int first, int last) { fetched.push_back(last - first + 1); });
    for (int i = 0; i < 3; ++i) {
        nextUntilFetched();
    }
    ASSERT_FALSE(fetched.empty());
    EXPECT_EQ(fetched, std::vector<int>(fetched.size(), 1)) << "one row per fetch";

    child<SpinEdit>(*window, "SEdt_PacketRecords")->setValue(30);
    fetched.clear();
    nextUntilFetched();
    ASSERT_FALSE(fetched.empty());
    EXPECT_EQ(fetched, std::vector<int>(fetched.size(), 30)) << "the following fetches of the same result";

    // The view asks for more at the end of its rows.
    const int shown = gridModel(*window)->rowCount();
    fetched.clear();
    gridModel(*window)->fetchMore({});
    ASSERT_TRUE(waitForFetch(*window));
    EXPECT_GE(gridModel(*window)->rowCount(), shown + 30);
    EXPECT_EQ(fetched.front(), 30);
    EXPECT_EQ(count(), gridModel(*window)->rowCount());
}

TEST_F(ResultGridTest, anEmptyResultKeepsTheCountAndTheGridNeverEdits) {
    run(*window, "select id, name from t");
    EXPECT_EQ(status(*window, 1), "目前資料筆數: 4");
    run(*window, "select id from t where id > 100");
    EXPECT_TRUE(window->CDS1().active());
    EXPECT_EQ(gridModel(*window)->rowCount(), 0);
    EXPECT_EQ(status(*window, 1), "目前資料筆數: 4") << "an empty result does not touch the count";

    run(*window, "select id, name from t order by id");
    ResultGridModel& model = *gridModel(*window);
    const QModelIndex cell = model.index(0, 1);
    EXPECT_FALSE(model.flags(cell).testFlag(Qt::ItemIsEditable));
    EXPECT_FALSE(model.setData(cell, "changed"));
    EXPECT_FALSE(model.insertRows(0, 1));
    EXPECT_FALSE(model.removeRows(0, 1));
    child<QTableView>(*window, "DBGrid")->setFocus();
    child<QTableView>(*window, "DBGrid")->setCurrentIndex(cell);
    QTest::keyClicks(child<QTableView>(*window, "DBGrid"), "zz");
    QTest::keyClick(child<QTableView>(*window, "DBGrid"), Qt::Key_F2);
    QTest::keyClick(child<QTableView>(*window, "DBGrid"), Qt::Key_Delete);
    EXPECT_EQ(model.data(cell).toString(), "a");
    EXPECT_EQ(model.rowCount(), 4);
}

TEST_F(ResultGridTest, navigationWithoutAResultShowsTheClosedDatasetError) {
    const char* buttons[] = {"SpeedButton6", "SpeedButton2", "SpeedButton3", "SpeedButton4", "SpeedButton5"};
    for (const char* button : buttons) {
        prompter.expectMessage(QStringLiteral("Cannot perform this operation on a closed dataset"));
        press(button);
    }
    EXPECT_TRUE(prompter.scriptUsedUp());
    EXPECT_EQ(status(*window, 1), "");
}

TEST_F(ResultGridTest, headersAndCellsComeFromTheFieldsAndTheirValueText) {
    run(*window, "select id, name, amount, null as empty_value from t order by id");
    ResultGridModel& model = *gridModel(*window);
    ASSERT_EQ(model.columnCount(), 4) << child<QPlainTextEdit>(*window, "QueryMessage")->toPlainText().toStdString();
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "id");
    EXPECT_EQ(model.headerData(2, Qt::Horizontal).toString(), "amount");
    const QString decimal = QLocale::system().decimalPoint();
    EXPECT_EQ(model.data(model.index(0, 2)).toString(), "1" + decimal + "50");
    EXPECT_EQ(model.data(model.index(0, 3)).toString(), "");
    EXPECT_EQ(model.headerData(0, Qt::Vertical).toString(), "▸") << "the current row is marked";
    EXPECT_EQ(model.headerData(1, Qt::Vertical).toString(), "");
}

TEST_F(ResultGridTest, aServerGoneMidScrollIsReportedOnceWhateverMovesTheGrid) {
    TARNWELL_REQUIRE_PG(server);
    registerPg(server);
    const QString dataSource = connectAdo(pgConnectionString(server));
    const std::pair<QString, QString> connections[] = {{"BDE", kPg}, {"ADO", dataSource}};
    for (const auto& [kind, connection] : connections) {
        SCOPED_TRACE(kind.toStdString());
        TfrmQueryEditor* pg = openWindowOn(kind, connection);
        ASSERT_NE(pg, nullptr);
        window = pg;
        child<SpinEdit>(*window, "SEdt_PacketRecords")->setValue(10);
        const QString marker = QStringLiteral("gone mid-scroll %1").arg(kind);
        setMemoText(*child<QPlainTextEdit>(*window, "MemSQL"),
                    QStringLiteral("SELECT generate_series(1, 5000000) AS n /* %1 */").arg(marker));
        child<QAbstractButton>(*window, "SBtnQuery")->click();
        ASSERT_TRUE(waitForRun(*window));
        ASSERT_EQ(count(), 10) << child<QPlainTextEdit>(*window, "QueryMessage")->toPlainText().toStdString();

        auto other = db::openPostgres(server.conninfo);
        other->execute("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE query LIKE '%" +
                       marker.toStdString() + "%' AND pid <> pg_backend_pid()");
        // The next packet asks for more than the server had sent.
        child<SpinEdit>(*window, "SEdt_PacketRecords")->setValue(999999);

        QTableView& grid = *child<QTableView>(*window, "DBGrid");
        QScrollBar& rows = *grid.verticalScrollBar();
        const qsizetype before = prompter.messages().size();
        prompter.expectMessage();
        for (int round = 0; round < 3; ++round) {
            rows.setValue(rows.maximum());
            QWheelEvent wheel(QPointF(5, 5), grid.viewport()->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(grid.viewport(), &wheel);
            grid.setFocus();
            QTest::keyClick(&grid, Qt::Key_End, Qt::ControlModifier);
            QTest::keyClick(&grid, Qt::Key_PageDown);
            grid.scrollToBottom();
            child<QToolButton>(*window, "SpeedButton4")->click();
            child<QToolButton>(*window, "SpeedButton5")->click();
            gridModel(*window)->fetchMore({});
            ASSERT_TRUE(waitForFetch(*window));
            // After the failure the last-record button goes to the last row
            // held.
            press("SpeedButton5");
        }
        ASSERT_EQ(prompter.messages().size(), before + 1) << prompter.messages().join(" | ").toStdString();
        const QString message = prompter.messages().last();
        EXPECT_TRUE(message.contains("terminating connection") || message.contains("server closed the connection"))
            << message.toStdString();
        EXPECT_TRUE(window->CDS1().fetchFailed());
        EXPECT_GT(count(), 10) << "the rows that came are kept";
        EXPECT_EQ(gridModel(*window)->rowCount(), count());
        EXPECT_EQ(window->CDS1().currentRow(), static_cast<std::size_t>(count() - 1)) << "the last row held";
        EXPECT_EQ(status(*window, 1), QStringLiteral("目前資料筆數: %1").arg(count()));

        // The next run fetches again.
        run(*window, "select 1 as again");
        EXPECT_FALSE(window->CDS1().fetchFailed());
    }
}

// Rows of nine kilobytes, more than the server buffers, so it sends each
// once it makes the next; the 32nd takes a minute to make, so thirty come
// (and the 31st once the statement is stopped).
const QString kThirtyRowsThenAMinute = QStringLiteral(
    "SELECT g, repeat('x', 9000) AS filler, CASE WHEN g > 31 THEN pg_sleep(60)::text END AS pause "
    "FROM generate_series(1, 100) g");

TEST_F(ResultGridTest, aFetchTheServerIsSlowToFeedLeavesTheWindowLiveAndEscEndsItKeepingTheRows) {
    TARNWELL_REQUIRE_PG(server);
    registerPg(server);
    auto observer = db::openPostgres(server.conninfo);
    const auto serverStillSleeping = [&] {
        const auto cursor = observer->execute(
            "SELECT count(*) FROM pg_stat_activity WHERE state = 'active' AND query LIKE '%slow to feed%' "
            "AND pid <> pg_backend_pid()");
        db::RowStore rows(1);
        cursor->fetch(rows, 1);
        return rows.cell(0, 0).bytes != "0";
    };
    for (const bool closing : {false, true}) {
        SCOPED_TRACE(closing ? "closed" : "Esc");
        window = openWindowOn("BDE", kPg);
        ASSERT_NE(window, nullptr);
        child<SpinEdit>(*window, "SEdt_PacketRecords")->setValue(10);
        run(*window, kThirtyRowsThenAMinute + QStringLiteral(" /* slow to feed */"));
        ASSERT_EQ(gridModel(*window)->rowCount(), 10);

        child<QToolButton>(*window, "SpeedButton5")->click();
        ASSERT_TRUE(waitUntil([&] { return count() == 30; }));
        // The server is busy over the next row; the window goes on.
        EXPECT_TRUE(window->fetchInProgress());
        EXPECT_EQ(status(*window, 2), QStringLiteral("讀取資料中....."));
        EXPECT_EQ(status(*window, 1), QStringLiteral("目前資料筆數: 30"));
        EXPECT_EQ(gridModel(*window)->rowCount(), 30);
        child<QToolButton>(*window, "SpeedButton2")->click();
        EXPECT_EQ(window->CDS1().currentRow(), 0u) << "the rows held stay usable";
        QApplication::setActiveWindow(window);
        QPlainTextEdit& memo = *child<QPlainTextEdit>(*window, "MemSQL");
        memo.setFocus();
        QTest::keyClicks(&memo, "--");
        EXPECT_TRUE(memo.toPlainText().contains("--"));

        if (closing) {
            closeWindowAtOnce();
            // The statement was stopped in the engine, long before its
            // minute was up.
            EXPECT_TRUE(waitUntil([&] { return !serverStillSleeping(); }));
            continue;
        }

        // Walks that read every record wait for the fetch: each is refused
        // with one message and asks nothing.
        const QString refusal = QStringLiteral("資料讀取中，請待讀取完成(或按Esc停止)後再轉存或列印");
        for (const char* walk : {"ToolButton2", "ToolButton4", "ToolButton3", "ToolButton5"}) {
            prompter.expectMessage(refusal);
            child<QToolButton>(*window, walk)->click();
            EXPECT_EQ(prompter.calls().back().kind, ScriptedPrompt::Kind::Message) << walk;
        }
        EXPECT_TRUE(prompter.scriptUsedUp());

        // Esc ends the fetch: the statement is stopped in the engine, said
        // once, and the rows stay.
        prompter.expectMessage();
        QApplication::setActiveWindow(window);
        memo.setFocus();
        QTest::keyClick(&memo, Qt::Key_Escape);
        ASSERT_TRUE(waitForFetch(*window));
        ASSERT_TRUE(prompter.scriptUsedUp());
        EXPECT_TRUE(prompter.messages().last().contains("canceling statement due to user request"))
            << prompter.messages().last().toStdString();
        EXPECT_GE(count(), 30);
        EXPECT_EQ(gridModel(*window)->rowCount(), count());
        EXPECT_EQ(window->CDS1().currentRow(), 0u) << "the move to the last record was given up";
        EXPECT_EQ(status(*window, 2), QString());
        EXPECT_EQ(memo.toPlainText().count("--"), 1) << "Esc went to the fetch, not the memo";
        EXPECT_FALSE(serverStillSleeping());

        run(*window, "select 5 as after_esc");
        EXPECT_EQ(gridModel(*window)->data(gridModel(*window)->index(0, 0)).toString(), "5");
    }
}

TEST_F(ResultGridTest, aServerThatStopsAnsweringMidFetchIsLeftByEscOrByClosingTheWindow) {
    TARNWELL_REQUIRE_PG(server);
    registerPg(server);
    for (const bool closing : {false, true}) {
        SCOPED_TRACE(closing ? "closed" : "Esc");
        window = openWindowOn("BDE", kPg);
        ASSERT_NE(window, nullptr);
        run(*window, "select pg_backend_pid()");
        const auto backend = static_cast<pid_t>(
            gridModel(*window)->data(gridModel(*window)->index(0, 0)).toString().toLongLong());
        ASSERT_GT(backend, 0);
        child<SpinEdit>(*window, "SEdt_PacketRecords")->setValue(10);
        // Closing: the server stops mid-stream (the fetch may read what was
        // on its way first). Esc: it stops while the fetch waits for a row.
        run(*window, closing ? QStringLiteral("SELECT g, repeat('x', 9000) AS filler FROM generate_series(1, 1000000) g")
                             : kThirtyRowsThenAMinute);
        if (!closing) {
            child<QToolButton>(*window, "SpeedButton5")->click();
            ASSERT_TRUE(waitUntil([&] { return count() == 30; }));
        }

        // The server's process hangs: it sends nothing more and answers no
        // cancel.
        ::kill(backend, SIGSTOP);
        auto resume = qScopeGuard([backend] { ::kill(backend, SIGCONT); });
        child<QToolButton>(*window, "SpeedButton5")->click();
        ASSERT_TRUE(window->fetchInProgress());
        if (closing) {
            closeWindowAtOnce();
            // Its fetch ends, and lets go of the result, with the server
            // still stopped.
            EXPECT_TRUE(abandonRunsAndWait(QDeadlineTimer(30000)));
            continue;
        }
        prompter.expectMessage(QStringLiteral("伺服器沒有回應停止的要求，已切斷連線"));
        QApplication::setActiveWindow(window);
        child<QPlainTextEdit>(*window, "MemSQL")->setFocus();
        QTest::keyClick(child<QPlainTextEdit>(*window, "MemSQL"), Qt::Key_Escape);
        ASSERT_TRUE(waitForFetch(*window)) << "the fetch ends with the server still stopped";
        EXPECT_TRUE(prompter.scriptUsedUp());
        EXPECT_EQ(count(), 30) << "the rows that came stay";
        EXPECT_EQ(gridModel(*window)->rowCount(), 30);
        resume.dismiss();
        ::kill(backend, SIGCONT);

        run(*window, "select 5 as after_cut");
        EXPECT_EQ(gridModel(*window)->data(gridModel(*window)->index(0, 0)).toString(), "5");
    }
}

// --- Column widths, alignment, tool tips ------------------------------------------------

TEST_F(ResultGridTest, columnsStartAtTheirDisplayWidthNumbersAlignRightAndADoubleClickFits) {
    const QString sql = QStringLiteral(
        "select id, name, amount, replace(hex(zeroblob(500000)), '00', 'ab') as long_value, "
        "1 as a_header_much_wider_than_its_numbers from t order by id");
    run(*window, sql);
    ResultGridModel& model = *gridModel(*window);
    QTableView& grid = *child<QTableView>(*window, "DBGrid");
    QHeaderView& header = *grid.horizontalHeader();
    const int characterWidth = grid.fontMetrics().averageCharWidth();
    // varchar(20) against an integer's eleven digits.
    EXPECT_GT(grid.columnWidth(1), grid.columnWidth(0));
    EXPECT_LE(grid.columnWidth(3), ResultGrid::kStartingCharacters * characterWidth + 12) << "capped";
    EXPECT_GE(grid.columnWidth(4), header.sectionSizeHint(4)) << "at least the header";

    const auto alignment = [&](int column) {
        return model.data(model.index(0, column), Qt::TextAlignmentRole).value<Qt::Alignment>() &
               Qt::AlignHorizontal_Mask;
    };
    EXPECT_EQ(alignment(0), Qt::AlignRight);
    EXPECT_EQ(alignment(1), Qt::AlignLeft);
    EXPECT_EQ(alignment(2), Qt::AlignRight);
    EXPECT_EQ(alignment(3), Qt::AlignLeft);

    // A double click on the right border of a header fits its column.
    const auto doubleClickBorder = [&](int column) {
        const int border = header.sectionViewportPosition(column) + header.sectionSize(column) - 1;
        QTest::mouseDClick(header.viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(border, header.height() / 2));
    };
    grid.setColumnWidth(1, 5);
    doubleClickBorder(1);
    const int widestName = grid.fontMetrics().horizontalAdvance(QStringLiteral("d"));
    EXPECT_GE(grid.columnWidth(1), widestName);
    EXPECT_EQ(grid.columnWidth(1), header.sectionSizeHint(1)) << "the header is wider than a letter";
    const int started = grid.columnWidth(3);
    doubleClickBorder(3);
    EXPECT_GT(grid.columnWidth(3), started);
    EXPECT_LE(grid.columnWidth(3), ResultGrid::kFittedCharacters * characterWidth + 12) << "a million characters";

    // Text of no declared size (an expression, SQLite's text) starts as wide
    // as its widest value in the first rows, not at a guess.
    const QString value = QStringLiteral("sqlite_autoindex_orders_details_1");
    run(*window, "select '" + value + "' as t, 'x' as u");
    EXPECT_GE(grid.columnWidth(0), grid.fontMetrics().horizontalAdvance(value)) << "not cut";
    EXPECT_EQ(grid.columnWidth(1), header.sectionSizeHint(1)) << "no wider than its header asks";
    run(*window, sql);

    // The widths the user gave stay while the same fields come back.
    grid.setColumnWidth(0, 123);
    press("SpeedButton6");
    EXPECT_EQ(grid.columnWidth(0), 123);
    run(*window, sql);
    EXPECT_EQ(grid.columnWidth(0), 123);
    run(*window, "select id as other from t");
    EXPECT_NE(grid.columnWidth(0), 123);

    // The tool tip of the long value is an excerpt that wraps.
    run(*window, sql);
    const QString tip = model.data(model.index(0, 3), Qt::ToolTipRole).toString();
    EXPECT_LT(tip.size(), 2000);
    QToolTip::showText(grid.viewport()->mapToGlobal(QPoint(10, 10)), tip, grid.viewport());
    const QWidget* label = nullptr;
    for (const QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String("qtooltip_label") && widget->isVisible()) {
            label = widget;
        }
    }
    ASSERT_NE(label, nullptr);
    EXPECT_LE(label->width(), (kToolTipLineLength + 20) * label->fontMetrics().averageCharWidth());
    QToolTip::hideText();
}

TEST(ToolTipExcerpt, boundedWrappedAndShownAsTheValuesOwnCharacters) {
    const auto lines = [](const QString& tip) {
        QString inner = tip;
        inner.remove(QRegularExpression(QStringLiteral("^<p[^>]*>|</p>$")));
        return inner.split(QStringLiteral("<br>"));
    };
    // Long: lines of eighty characters at most, the cut marked.
    const QStringList longLines = lines(toolTipExcerpt(QString(1000000, QLatin1Char('x'))));
    EXPECT_EQ(longLines.join(QString()), QString(kToolTipCharacters, QLatin1Char('x')) + QStringLiteral("…"));
    for (const QString& line : longLines) {
        EXPECT_LE(line.size(), kToolTipLineLength + 1);
    }
    // Many lines: twenty of them.
    const QStringList manyLines = lines(toolTipExcerpt(QStringLiteral("line\n").repeated(100)));
    EXPECT_EQ(manyLines.size(), kToolTipLines);
    EXPECT_EQ(manyLines.last(), QStringLiteral("line…"));
    // Short, with its own line breaks: whole; blanks break long lines.
    EXPECT_EQ(lines(toolTipExcerpt(QStringLiteral("first\r\nsecond"))), (QStringList{"first", "second"}));
    const QString words = QStringLiteral("word ").repeated(30);
    const QStringList wrapped = lines(toolTipExcerpt(words));
    ASSERT_EQ(wrapped.size(), 2);
    EXPECT_TRUE(wrapped.at(0).endsWith(QStringLiteral("word "))) << "broken at a blank";
    EXPECT_EQ(wrapped.join(QString()), words);
    // Markup is the value's text, not the tip's.
    EXPECT_TRUE(
        toolTipExcerpt(QStringLiteral("<b>x</b> & y")).contains(QStringLiteral("&lt;b&gt;x&lt;/b&gt; &amp; y")));
    // A character outside the basic plane stays whole at a cut.
    const QString wide = QString(kToolTipLineLength - 1, QLatin1Char('a')) + QString::fromUtf8("\xF0\xA0\x80\x8B") +
                         QStringLiteral("b");
    const QStringList wideLines = lines(toolTipExcerpt(wide));
    ASSERT_EQ(wideLines.size(), 2);
    EXPECT_EQ(wideLines.at(1), QString::fromUtf8("\xF0\xA0\x80\x8B") + QStringLiteral("b"));
}

// --- Copying -----------------------------------------------------------------------------

class GridCopyTest : public ResultGridTest {
protected:
    QString clipboard() const { return QApplication::clipboard()->text(); }
    void select(int top, int left, int bottom, int right,
                QItemSelectionModel::SelectionFlags how = QItemSelectionModel::ClearAndSelect) {
        child<QTableView>(*window, "DBGrid")->selectionModel()->select(
            QItemSelection(gridModel(*window)->index(top, left), gridModel(*window)->index(bottom, right)), how);
    }
    QAction* menuEntry(const char* name) { return child<QAction>(*child<QTableView>(*window, "DBGrid"), name); }
};

TEST_F(GridCopyTest, ctrlCAndTheMenuCopyTheSelectedCellsAsTabSeparatedText) {
    run(*window, "select id, name, amount from t order by id");
    QTableView& grid = *child<QTableView>(*window, "DBGrid");
    EXPECT_EQ(grid.contextMenuPolicy(), Qt::ActionsContextMenu);
    QStringList entries;
    for (const QAction* action : grid.actions()) {
        entries << action->text();
    }
    EXPECT_EQ(entries, (QStringList{"複製", "複製(含欄位名稱)"}));

    const QString decimal = QLocale::system().decimalPoint();
    const QString rows = "b\t2" + decimal + "50\nc\t3" + decimal + "50";
    select(1, 1, 2, 2);
    grid.setFocus();
    QTest::keyClick(&grid, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard(), rows);
    menuEntry("MenuCopyWithFieldNames")->trigger();
    EXPECT_EQ(clipboard(), "name\tamount\n" + rows);

    // Cells apart: their rows and columns, empty where nothing is selected.
    select(0, 0, 0, 0);
    select(2, 1, 2, 1, QItemSelectionModel::Select);
    menuEntry("MenuCopy")->trigger();
    EXPECT_EQ(clipboard(), QStringLiteral("1\t\n\tc")) << "the row between holds no selected cell";
}

TEST_F(GridCopyTest, valuesWithTabsLineBreaksOrQuotesComeBackWhole) {
    run(*window, "select 'a' || char(9) || 'b', 'one' || char(13) || char(10) || 'two', '\"q\"', 'say \"q\"', ''");
    child<QTableView>(*window, "DBGrid")->selectAll();
    menuEntry("MenuCopy")->trigger();
    EXPECT_EQ(clipboard(), QStringLiteral("\"a\tb\"\t\"one\r\ntwo\"\t\"\"\"q\"\"\"\tsay \"q\"\t"));
}

TEST_F(GridCopyTest, tooMuchToCopyIsRefusedAndTheClipboardKeepsWhatItHeld) {
    QApplication::clipboard()->setText(QStringLiteral("kept"));
    // Twenty values of a million characters each.
    run(*window, "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 20) "
                 "SELECT replace(hex(zeroblob(500000)), '00', 'ab') FROM c");
    child<QTableView>(*window, "DBGrid")->selectAll();
    prompter.expectMessage();
    menuEntry("MenuCopy")->trigger();
    ASSERT_EQ(prompter.messages().size(), 1);
    EXPECT_TRUE(prompter.messages().at(0).startsWith(QStringLiteral("選取的資料太多，無法複製")))
        << prompter.messages().at(0).toStdString();
    EXPECT_EQ(clipboard(), "kept");

    // More cells than a copy takes, refused before any is read.
    run(*window, "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 200001) "
                 "SELECT n, n, n, n, n FROM c");
    press("SpeedButton5");
    ASSERT_EQ(count(), 200001);
    child<QTableView>(*window, "DBGrid")->selectAll();
    prompter.expectMessage();
    QTest::keyClick(child<QTableView>(*window, "DBGrid"), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(prompter.messages().size(), 2);
    EXPECT_EQ(clipboard(), "kept");
}

// --- Field list ------------------------------------------------------------------------

TEST_F(ResultGridTest, theFieldsPageListsTheGridsFieldsEachTimeItIsShown) {
    auto* pages = child<QTabWidget>(*window, "Page2");
    auto* list = child<QTreeWidget>(*window, "LSVFieldList");
    pages->setCurrentWidget(child<QWidget>(*window, "TabField"));
    EXPECT_EQ(list->topLevelItemCount(), 0) << "nothing run yet";
    pages->setCurrentWidget(child<QWidget>(*window, "TabData"));

    run(*window, "select name, id, amount from t");
    pages->setCurrentWidget(child<QWidget>(*window, "TabField"));
    pages->setCurrentWidget(child<QWidget>(*window, "TabData"));
    pages->setCurrentWidget(child<QWidget>(*window, "TabField"));
    ASSERT_EQ(list->topLevelItemCount(), 3) << "each field once";
    const QStringList expected[] = {{"1", "name", "20", "String"},
                                    {"2", "id", "0", "Integer"},
                                    {"3", "amount", "2", "BCD"}};
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 4; ++column) {
            EXPECT_EQ(list->topLevelItem(row)->text(column), expected[row].at(column)) << row << "," << column;
        }
    }

    // A new result while the page stays in front changes nothing until the
    // page is shown again.
    run(*window, "UPDATE t SET id = id");
    pages->setCurrentWidget(child<QWidget>(*window, "TabField"));
    EXPECT_EQ(list->topLevelItemCount(), 0) << "the grid shows no fields now";
}

// Pixels of a view's row, inside its cells, that stand out from the colour
// the row is mostly painted in: text on its selection colour does.
int standingOutPixels(QAbstractItemView& view, int row) {
    QHash<QRgb, int> uses;
    const QImage viewport = view.viewport()->grab().toImage();
    for (int column = 0; column < view.model()->columnCount(); ++column) {
        // Inside the lines of the grid.
        const QRect cell =
            view.visualRect(view.model()->index(row, column)).adjusted(2, 2, -2, -2).intersected(viewport.rect());
        for (int y = cell.top(); y <= cell.bottom(); ++y) {
            for (int x = cell.left(); x <= cell.right(); ++x) {
                ++uses[viewport.pixel(x, y)];
            }
        }
    }
    if (uses.isEmpty()) {
        return 0;
    }
    const int backgroundLightness = QColor(std::max_element(uses.cbegin(), uses.cend()).key()).lightness();
    int standing = 0;
    for (auto it = uses.cbegin(); it != uses.cend(); ++it) {
        if (std::abs(QColor(it.key()).lightness() - backgroundLightness) > 60) {
            standing += it.value();
        }
    }
    return standing;
}

TEST_F(ResultGridTest, aSelectedRowOfTheFieldListAndTheGridKeepsItsText) {
    run(*window, "select name, id, amount from t");
    auto* pages = child<QTabWidget>(*window, "Page2");
    auto* fields = child<QTreeWidget>(*window, "LSVFieldList");
    QTableView& grid = *child<QTableView>(*window, "DBGrid");
    for (const bool active : {true, false}) {
        SCOPED_TRACE(active ? "active window" : "inactive window");
        QApplication::setActiveWindow(active ? static_cast<QWidget*>(window) : nullptr);

        pages->setCurrentWidget(child<QWidget>(*window, "TabField"));
        fields->setCurrentItem(fields->topLevelItem(1));
        ASSERT_TRUE(fields->topLevelItem(1)->isSelected());
        EXPECT_GT(standingOutPixels(*fields, 1), 20) << "no text on the selected row";

        pages->setCurrentWidget(child<QWidget>(*window, "TabData"));
        grid.selectRow(2);
        ASSERT_TRUE(grid.selectionModel()->isRowSelected(2, {}));
        EXPECT_GT(standingOutPixels(grid, 2), 20) << "no text on the selected row";
    }
}

TEST(FieldKindNames, timeStampAndFormattedBcdHaveNamesOfTheirOwn) {
    EXPECT_EQ(db::fieldKindName(db::FieldKind::Guid), "Guid");
    EXPECT_EQ(db::fieldKindName(db::FieldKind::TimeStamp), "TimeStamp");
    EXPECT_EQ(db::fieldKindName(db::FieldKind::FMTBcd), "FMTBcd");
}

TEST_F(ResultGridTest, postgresFieldKindsAndSizes) {
    TARNWELL_REQUIRE_PG(server);
    registerPg(server);
    TfrmQueryEditor* pg = openWindowOn("BDE", kPg);
    ASSERT_NE(pg, nullptr);
    run(*pg, "select 'x'::varchar(20) as v, now()::timestamp as ts, 1.5::numeric(10,2) as n, 1::bigint as b");
    child<QTabWidget>(*pg, "Page2")->setCurrentWidget(child<QWidget>(*pg, "TabField"));
    auto* list = child<QTreeWidget>(*pg, "LSVFieldList");
    ASSERT_EQ(list->topLevelItemCount(), 4);
    EXPECT_EQ(list->topLevelItem(0)->text(2), "20");
    EXPECT_EQ(list->topLevelItem(0)->text(3), "String");
    EXPECT_EQ(list->topLevelItem(1)->text(3), "DateTime");
    EXPECT_EQ(list->topLevelItem(3)->text(3), "LargeInt");
}

// --- SQL text tools and files ----------------------------------------------------------

class SqlToolsInWindowTest : public ResultGridTest {
protected:
    QString path(const QString& name) const { return QDir(folder.path()).filePath(name); }
    QByteArray bytesOf(const QString& name) const {
        QFile file(path(name));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll();
    }
    void write(const QString& name, const QByteArray& bytes) const {
        QFile file(path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    QString memo() const { return memoText(*child<QPlainTextEdit>(*window, "MemSQL")); }
};

TEST_F(SqlToolsInWindowTest, programStringFormThereAndBackFollowsTheRunButton) {
    setMemoText(*child<QPlainTextEdit>(*window, "MemSQL"),
                QStringLiteral("select * from t where a = 'x'\r\norder by a"));
    press("ToolButton13");
    EXPECT_EQ(memo(), QStringLiteral("+'select * from t where a = ''x'''\r\n+'order by a'"));
    press("ToolButton14");
    EXPECT_EQ(memo(), QStringLiteral("select * from t where a = 'x'\r\norder by a"));
    EXPECT_TRUE(child<QPlainTextEdit>(*window, "MemSQL")->document()->isUndoAvailable()) << "a change like typing";

    child<QToolButton>(*window, "SpeedButton1")->click();
    press("ToolButton13");
    EXPECT_EQ(memo(), "");
    EXPECT_FALSE(child<QAbstractButton>(*window, "SBtnQuery")->isEnabled());
}

TEST_F(SqlToolsInWindowTest, theReplaceButtonHandsTheMemoToAFreshDialog) {
    setMemoText(*child<QPlainTextEdit>(*window, "MemSQL"), QStringLiteral("select * From t1 join t2 FROM"));
    QTimer::singleShot(0, [this] {
        TFrmReplaceString* dialog = TFrmReplaceString::current();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->memo(), child<QPlainTextEdit>(*window, "MemSQL"));
        dialog->findChild<QLineEdit*>("Edit1")->setText("FROM");
        dialog->findChild<QLineEdit*>("Edit2")->setText("from");
        dialog->findChild<QCheckBox*>("Chk1")->setChecked(true);
        dialog->findChild<QCheckBox*>("Chk2")->setChecked(true);
        dialog->BitBtn1Click();
        dialog->BitBtn2Click();
    });
    press("ToolButton15");
    EXPECT_EQ(memo(), "select * from t1 join t2 from");
    EXPECT_EQ(TFrmReplaceString::current(), nullptr);
}

TEST_F(SqlToolsInWindowTest, saveAndOpenThroughTheDialogsRememberingTheLastName) {
    setMemoText(*child<QPlainTextEdit>(*window, "MemSQL"), QStringLiteral("select 1\r\nfrom t"));
    prompter.answerSaveFile(path("two.SQL"));
    press("ToolButton17");
    EXPECT_EQ(bytesOf("two.SQL"), QByteArray("select 1\r\nfrom t"));
    ASSERT_EQ(prompter.calls().size(), 1u);
    EXPECT_EQ(prompter.calls().at(0).texts.value(3), "*.SQL (*.SQL *.sql)");
    EXPECT_EQ(prompter.calls().at(0).texts.value(4), "SQL");
    EXPECT_EQ(window->SaveDialog1().fileName, path("two.SQL"));

    prompter.answerSaveFile(std::nullopt);
    press("ToolButton17");
    EXPECT_EQ(prompter.calls().at(1).texts.value(2), path("two.SQL")) << "the last name is offered";

    write("lf.sql", "select a\nfrom b\n");
    prompter.answerOpenFile(path("lf.sql"));
    press("ToolButton16");
    EXPECT_EQ(memo(), "select a\r\nfrom b\r\n");
    prompter.answerSaveFile(path("again.sql"));
    press("ToolButton17");
    EXPECT_EQ(bytesOf("again.sql"), QByteArray("select a\r\nfrom b\r\n"));

    write("empty.sql", "");
    prompter.answerOpenFile(path("empty.sql"));
    press("ToolButton16");
    EXPECT_EQ(memo(), "");
    EXPECT_FALSE(child<QAbstractButton>(*window, "SBtnQuery")->isEnabled());
    EXPECT_EQ(window->OpenDialog1().fileName, path("empty.sql"));
}

TEST_F(SqlToolsInWindowTest, failedLoadsAndSavesGoToTheErrorBoxAndKeepTheMemo) {
    setMemoText(*child<QPlainTextEdit>(*window, "MemSQL"), QStringLiteral("keep me"));
    prompter.answerOpenFile(path("missing.sql"));
    prompter.expectMessage();
    press("ToolButton16");
    EXPECT_EQ(memo(), "keep me");
    EXPECT_TRUE(prompter.messages().value(0).contains("missing.sql")) << prompter.messages().value(0).toStdString();

    prompter.answerSaveFile(path("no/such/folder/x.sql"));
    prompter.expectMessage();
    press("ToolButton17");
    EXPECT_EQ(prompter.messages().size(), 2);
    // A name whose folder is gone, or a view of the system where listing the
    // files can block (/proc), is not offered again: the home folder is.
    prompter.answerSaveFile(QStringLiteral("/proc/x.sql"));
    prompter.expectMessage();
    press("ToolButton17");
    prompter.answerSaveFile(std::nullopt);
    press("ToolButton17");
    EXPECT_EQ(prompter.calls().back().texts.mid(1, 2), (QStringList{QDir::homePath(), QString()}));
    EXPECT_EQ(prompter.messages().size(), 3);

    // A double click on a list with nothing chosen.
    auto* files = child<SqlFileListBox>(*window, "FileListBox1");
    files->setDirectory(folder.path());
    files->setCurrentRow(-1);
    prompter.expectMessage();
    window->FileListBox1DblClick();
    EXPECT_EQ(prompter.messages().size(), 4);
    EXPECT_EQ(memo(), "keep me");
}

TEST_F(SqlToolsInWindowTest, theTwoFileListsLoadAndTheSideListFollowsTheDirectory) {
    QDir(folder.path()).mkdir("sub");
    write("sub/picked.sql", "select 'picked'");
    write("side.SQL", "select 'side'");
    auto* upper = child<QTabWidget>(*window, "Page1");
    auto* directories = child<DirectoryListBox>(*window, "DirectoryListBox1");
    auto* files = child<SqlFileListBox>(*window, "FileListBox1");
    auto* side = child<SqlFileListBox>(*window, "FileListBox2");

    upper->setCurrentWidget(child<QWidget>(*window, "TabSQLList"));
    directories->setDirectory(path("sub"));
    EXPECT_EQ(files->fileNames(), QStringList{"picked.sql"});
    files->setCurrentRow(0);
    const QPoint at = files->visualItemRect(files->item(0)).center();
    QTest::mouseDClick(files->viewport(), Qt::LeftButton, {}, at);
    EXPECT_EQ(memo(), "select 'picked'");
    EXPECT_EQ(upper->currentWidget()->objectName(), "TabSQL");
    EXPECT_EQ(side->directory(), QDir::cleanPath(path("sub"))) << "the SQL page shown points the side list";

    upper->setCurrentWidget(child<QWidget>(*window, "TabSQLList"));
    directories->setDirectory(folder.path());
    upper->setCurrentWidget(child<QWidget>(*window, "TabSQL"));
    EXPECT_EQ(side->fileNames(), QStringList{"side.SQL"});

    // The side list shows while its button is down; picking from it leaves
    // the page alone.
    auto* toggle = child<QToolButton>(*window, "ToolButton19");
    toggle->click();
    EXPECT_TRUE(side->isVisible());
    EXPECT_TRUE(child<QWidget>(*window, "Splitter3")->isVisible());
    side->setCurrentRow(0);
    window->FileListBox2DblClick();
    EXPECT_EQ(memo(), "select 'side'");
    EXPECT_EQ(upper->currentWidget()->objectName(), "TabSQL");
    toggle->click();
    EXPECT_FALSE(side->isVisible());
    EXPECT_FALSE(child<QWidget>(*window, "Splitter3")->isVisible());
}

}  // namespace
}  // namespace tarnwell::test
