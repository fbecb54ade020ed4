// The print window as the query window's print button opens it over a real
// SQLite result: what it lists, how its check boxes and cells answer presses
// and keys, and its title, fonts and settings.
#include "PrintWindowFixture.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDate>
#include <QGuiApplication>
#include <QHeaderView>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLocale>
#include <QRadioButton>
#include <QTableWidget>
#include <QTest>
#include <QToolButton>
#include <QWindow>

#include <QFontDialog>
#include <QFontInfo>

#include "printing/UPrint.h"
#include "ui/Controls.h"
#include "ui/FormFont.h"
#include "ui/Prompt.h"

namespace tarnwell::test {
namespace {

using Col = TfrmPrint::FieldColumn;

class PrintWindowTest : public PrintWindowFixture {
protected:
    static QPoint cellCentre(const TfrmPrint& print, int column, int row) {
        const QTableWidget& grid = *child<QTableWidget>(print, "SGridField");
        return grid.visualItemRect(grid.item(row - 1, column - 1)).center();
    }

    static void press(TfrmPrint& print, int column, int row, Qt::MouseButton button) {
        QWidget* cells = child<QTableWidget>(print, "SGridField")->viewport();
        const QPoint at = cellCentre(print, column, row);
        QTest::mousePress(cells, button, {}, at);
        QTest::mouseRelease(cells, button, {}, at);
    }

    // A press on a caption of row 0 or on a row number of column 0.
    static void pressFixed(TfrmPrint& print, Qt::Orientation header, Qt::MouseButton button) {
        QHeaderView* fixed = header == Qt::Horizontal ? child<QTableWidget>(print, "SGridField")->horizontalHeader()
                                                      : child<QTableWidget>(print, "SGridField")->verticalHeader();
        const QPoint at(fixed->sectionViewportPosition(0) + 5, 5);
        QTest::mousePress(fixed->viewport(), button, {}, at);
        QTest::mouseRelease(fixed->viewport(), button, {}, at);
    }

    // A real double click, through the window as the desktop delivers it.
    static void doubleClick(TfrmPrint& print, int column, int row) {
        QWidget* cells = child<QTableWidget>(print, "SGridField")->viewport();
        QWindow* handle = print.windowHandle();
        ASSERT_NE(handle, nullptr);
        const QPoint at = handle->mapFromGlobal(cells->mapToGlobal(cellCentre(print, column, row)));
        QTest::mouseDClick(handle, Qt::LeftButton, {}, at);
    }

    // The editor open on a cell of the grid, if any.
    static QLineEdit* editor(const TfrmPrint& print) {
        const QList<QLineEdit*> edits = child<QTableWidget>(print, "SGridField")->viewport()->findChildren<QLineEdit*>();
        for (QLineEdit* edit : edits) {
            if (edit->isVisible()) {
                return edit;
            }
        }
        return nullptr;
    }

    // Return in an editor: the cell takes its text once the key has been
    // dealt with, which the delegate leaves to the event loop.
    static void commit(QLineEdit* edit) {
        ASSERT_NE(edit, nullptr);
        QTest::keyClick(edit, Qt::Key_Return);
        QCoreApplication::processEvents();
    }

    static QPoint current(const TfrmPrint& print) {
        const QModelIndex index = child<QTableWidget>(print, "SGridField")->currentIndex();
        return {index.column() + 1, index.row() + 1};
    }

    // The texts of one column from row 1 down.
    static QStringList column(const TfrmPrint& print, int col) {
        QStringList texts;
        for (int row = 1; row < print.gridRowCount(); ++row) {
            texts << print.cell(col, row);
        }
        return texts;
    }

    static QStringList repeated(const QString& text, qsizetype times) {
        QStringList texts;
        for (qsizetype i = 0; i < times; ++i) {
            texts << text;
        }
        return texts;
    }
};

TEST_F(PrintWindowTest, noResultOrNoRowsOpensNothingAndSaysNothing) {
    // The dataset is closed before the first run.
    EXPECT_FALSE(whilePrinting([](TfrmPrint&) {}));

    run(*window, "SELECT id, name FROM t WHERE id < 0");
    ASSERT_TRUE(window->CDS1().active());
    ASSERT_EQ(window->CDS1().fieldCount(), 2U);
    EXPECT_FALSE(whilePrinting([](TfrmPrint&) {}));
    EXPECT_EQ(TfrmPrint::instance(), nullptr);
    EXPECT_TRUE(prompter.calls().empty());
}

TEST_F(PrintWindowTest, opensModalWithoutSystemMenuAndOnlyEndingClosesIt) {
    run(*window, "SELECT id FROM t");
    QPointer<TfrmPrint> seen;
    EXPECT_TRUE(whilePrinting([&](TfrmPrint& print) {
        seen = &print;
        EXPECT_TRUE(print.isModal());
        EXPECT_EQ(print.windowTitle(), "frmPrint");
        EXPECT_EQ(print.frameGeometry().size(), QSize(621, 445));
        const Qt::WindowFlags flags = print.windowFlags();
        for (Qt::WindowType button : {Qt::WindowSystemMenuHint, Qt::WindowCloseButtonHint,
                                      Qt::WindowMinimizeButtonHint, Qt::WindowMaximizeButtonHint}) {
            EXPECT_FALSE(flags.testFlag(button)) << button;
        }
        QTest::keyClick(&print, Qt::Key_Escape);
        EXPECT_TRUE(print.isVisible());

        // What the report reads, as the window starts.
        const QLocale locale = QLocale::system();
        EXPECT_EQ(print.title(), locale.toString(QDate::currentDate(), locale.dateFormat(QLocale::ShortFormat)));
        EXPECT_FALSE(print.printTitle());
        EXPECT_EQ(print.recordLimit(), 50);
        EXPECT_EQ(print.paperLength(), 297);
        EXPECT_EQ(print.paperWidth(), 210);
        EXPECT_TRUE(print.portrait());
        EXPECT_TRUE(child<QLabel>(print, "LabPage")->text().isEmpty());
        EXPECT_EQ(print.SourceDataSet(), &window->CDS1());
        EXPECT_EQ(print.SourceSQLMemo(), child<QPlainTextEdit>(*window, "MemSQL"));
        print.SbtnCheckAllClick();
    }));
    // "結束" freed it, and the next request starts afresh.
    EXPECT_TRUE(seen.isNull());
    EXPECT_EQ(TfrmPrint::instance(), nullptr);
    EXPECT_TRUE(whilePrinting([&](TfrmPrint& print) { EXPECT_EQ(column(print, Col::ColPrint), QStringList{"0"}); }));
    // The result is the query window's still.
    EXPECT_TRUE(window->CDS1().active());
    EXPECT_EQ(window->CDS1().recordCount(), 4U);
}

TEST_F(PrintWindowTest, oneRowPerFieldInFieldOrderWithNothingTicked) {
    run(*window, "SELECT id FROM t");
    EXPECT_TRUE(whilePrinting([&](TfrmPrint& print) {
        ASSERT_EQ(print.gridRowCount(), 2);
        EXPECT_EQ(column(print, Col::ColNumber), QStringList{"1"});
        EXPECT_EQ(column(print, Col::ColField), QStringList{"id"});
    }));

    run(*window, "SELECT amount, name AS 名稱, id FROM t");
    const db::ClientDataSet& result = window->CDS1();
    EXPECT_TRUE(whilePrinting([&](TfrmPrint& print) {
        QStringList captions;
        for (int col = Col::ColPrint; col < Col::ColumnCount; ++col) {
            captions << print.cell(col, 0);
        }
        EXPECT_EQ(captions, QStringList({"印", "欄位", "列印名稱", "長度", "空", "對齊"}));
        ASSERT_EQ(print.gridRowCount(), 4);
        EXPECT_EQ(column(print, Col::ColNumber), QStringList({"1", "2", "3"}));
        EXPECT_EQ(column(print, Col::ColField), QStringList({"amount", "名稱", "id"}));
        EXPECT_EQ(column(print, Col::ColCaption), QStringList({"amount", "名稱", "id"}));
        EXPECT_EQ(column(print, Col::ColWidth),
                  QStringList({QString::number(result.field(0).displayWidth), "20",
                               QString::number(result.field(2).displayWidth)}));
        EXPECT_EQ(column(print, Col::ColPrint), repeated("0", 3));
        EXPECT_EQ(column(print, Col::ColBlank), repeated("", 3));
        EXPECT_EQ(column(print, Col::ColAlign), repeated("", 3));
    }));
}

TEST_F(PrintWindowTest, checkBoxCellsToggleOnPressesOfEveryButtonAndPlace) {
    run(*window, "SELECT id, name, amount FROM t");
    EXPECT_TRUE(whilePrinting([&](TfrmPrint& print) {
        // A left press makes the cell current and toggles it.
        press(print, Col::ColPrint, 2, Qt::LeftButton);
        EXPECT_EQ(current(print), QPoint(Col::ColPrint, 2));
        EXPECT_EQ(column(print, Col::ColPrint), QStringList({"0", "1", "0"}));
        press(print, Col::ColPrint, 2, Qt::LeftButton);
        EXPECT_EQ(column(print, Col::ColPrint), QStringList({"0", "0", "0"}));

        // Other buttons toggle the current cell wherever they press.
        press(print, Col::ColPrint, 3, Qt::RightButton);
        EXPECT_EQ(current(print), QPoint(Col::ColPrint, 2));
        EXPECT_EQ(column(print, Col::ColPrint), QStringList({"0", "1", "0"}));
        press(print, Col::ColBlank, 1, Qt::MiddleButton);
        EXPECT_EQ(column(print, Col::ColPrint), QStringList({"0", "0", "0"}));
        EXPECT_EQ(column(print, Col::ColBlank), repeated("", 3));

        // "空" toggles the same way; an empty text counts as clear.
        press(print, Col::ColBlank, 3, Qt::LeftButton);
        EXPECT_EQ(column(print, Col::ColBlank), QStringList({"", "", "1"}));

        // Captions and row numbers move nothing and toggle the current cell.
        pressFixed(print, Qt::Horizontal, Qt::LeftButton);
        EXPECT_EQ(column(print, Col::ColBlank), QStringList({"", "", "0"}));
        pressFixed(print, Qt::Vertical, Qt::RightButton);
        EXPECT_EQ(current(print), QPoint(Col::ColBlank, 3));
        EXPECT_EQ(column(print, Col::ColBlank), QStringList({"", "", "1"}));

        // A double click is two presses: the box ends as it was.
        doubleClick(print, Col::ColPrint, 3);
        EXPECT_EQ(current(print), QPoint(Col::ColPrint, 3));
        EXPECT_EQ(column(print, Col::ColPrint), QStringList({"0", "0", "0"}));
        doubleClick(print, Col::ColBlank, 3);
        EXPECT_EQ(column(print, Col::ColBlank), QStringList({"", "", "1"}));

        // Presses on text cells toggle nothing, whatever the button.
        press(print, Col::ColField, 1, Qt::LeftButton);
        press(print, Col::ColField, 2, Qt::RightButton);
        EXPECT_EQ(current(print), QPoint(Col::ColField, 1));
        EXPECT_EQ(column(print, Col::ColPrint), QStringList({"0", "0", "0"}));
        EXPECT_EQ(column(print, Col::ColBlank), QStringList({"", "", "1"}));
        EXPECT_EQ(editor(print), nullptr);
    }));
}

TEST_F(PrintWindowTest, spaceTogglesOnlyCheckBoxesAndLengthTakesOnlyDigits) {
    run(*window, "SELECT id, name FROM t");
    EXPECT_TRUE(whilePrinting([&](TfrmPrint& print) {
        QTableWidget& grid = *child<QTableWidget>(print, "SGridField");
        // The grid starts on the first "印".
        EXPECT_EQ(current(print), QPoint(Col::ColPrint, 1));
        QTest::keyClick(&grid, Qt::Key_Space);
        EXPECT_EQ(column(print, Col::ColPrint), QStringList({"1", "0"}));
        QTest::keyClick(&grid, Qt::Key_Down);
        QTest::keyClick(&grid, Qt::Key_Space);
        EXPECT_EQ(column(print, Col::ColPrint), QStringList({"1", "1"}));
        // Letters neither toggle nor move nor open an editor.
        QTest::keyClicks(&grid, "ix");
        EXPECT_EQ(current(print), QPoint(Col::ColPrint, 2));
        EXPECT_EQ(editor(print), nullptr);

        const QStringList ticks = column(print, Col::ColPrint);
        press(print, Col::ColField, 1, Qt::LeftButton);
        QTest::keyClick(&grid, Qt::Key_Space);
        QTest::keyClicks(&grid, "zz");
        EXPECT_EQ(editor(print), nullptr);
        EXPECT_EQ(column(print, Col::ColField), QStringList({"id", "name"}));

        // "列印名稱": a press opens the editor, typing replaces the name.
        press(print, Col::ColCaption, 1, Qt::LeftButton);
        QLineEdit* edit = editor(print);
        ASSERT_NE(edit, nullptr);
        QTest::keyClicks(edit, "code ");
        commit(edit);
        EXPECT_EQ(print.cell(Col::ColCaption, 1), "code ");
        QTest::keyClick(&grid, Qt::Key_Space);
        ASSERT_NE(editor(print), nullptr);
        QTest::keyClick(editor(print), Qt::Key_Escape);

        // "長度": letters, blanks and Backspace change nothing, typed or
        // pasted; digits replace; Delete still empties it.
        press(print, Col::ColWidth, 2, Qt::LeftButton);
        edit = editor(print);
        ASSERT_NE(edit, nullptr);
        QTest::keyClicks(edit, "a b");
        QTest::keyClick(edit, Qt::Key_Backspace);
        QTest::keyClick(edit, Qt::Key_End);
        QTest::keyClick(edit, Qt::Key_Backspace);
        QGuiApplication::clipboard()->setText(QStringLiteral("4x"));
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        QInputMethodEvent composed;
        composed.setCommitString(QStringLiteral("五"));
        QCoreApplication::sendEvent(edit, &composed);
        commit(edit);
        EXPECT_EQ(print.cell(Col::ColWidth, 2), "20");

        QTest::keyClick(&grid, Qt::Key_Space);
        QTest::keyClick(&grid, Qt::Key_Backspace);
        QTest::keyClick(&grid, Qt::Key_Q);
        if (editor(print) != nullptr) {
            commit(editor(print));
        }
        EXPECT_EQ(print.cell(Col::ColWidth, 2), "20");

        QTest::keyClicks(&grid, "7");
        ASSERT_NE(editor(print), nullptr);
        QTest::keyClicks(editor(print), "5");
        commit(editor(print));
        EXPECT_EQ(print.cell(Col::ColWidth, 2), "75");

        QTest::keyClick(&grid, Qt::Key_F2);
        ASSERT_NE(editor(print), nullptr);
        QTest::keyClick(editor(print), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(editor(print), Qt::Key_Delete);
        commit(editor(print));
        EXPECT_EQ(print.cell(Col::ColWidth, 2), "");

        EXPECT_EQ(column(print, Col::ColPrint), ticks);
        EXPECT_EQ(column(print, Col::ColBlank), repeated("", 2));
    }));
}

TEST_F(PrintWindowTest, tickAllAndClearAllLeaveBlankBoxesAlone) {
    run(*window, "SELECT id, name, amount FROM t");
    EXPECT_TRUE(whilePrinting([&](TfrmPrint& print) {
        press(print, Col::ColBlank, 2, Qt::LeftButton);
        press(print, Col::ColPrint, 3, Qt::LeftButton);
        child<QAbstractButton>(print, "SbtnDisCheckAll")->click();
        EXPECT_EQ(column(print, Col::ColPrint), repeated("0", 3));
        child<QAbstractButton>(print, "SbtnCheckAll")->click();
        EXPECT_EQ(column(print, Col::ColPrint), repeated("1", 3));
        EXPECT_EQ(column(print, Col::ColBlank), QStringList({"", "1", ""}));
        child<QAbstractButton>(print, "SbtnDisCheckAll")->click();
        EXPECT_EQ(column(print, Col::ColPrint), repeated("0", 3));
        EXPECT_EQ(column(print, Col::ColBlank), QStringList({"", "1", ""}));
    }));
}

TEST_F(PrintWindowTest, titleSwitchAndFontDialogs) {
    run(*window, "SELECT id FROM t");
    EXPECT_TRUE(whilePrinting([&](TfrmPrint& print) {
        const QFont boxFont = child<QLineEdit>(print, "EdtTitle")->font();
        EXPECT_FALSE(child<QLineEdit>(print, "EdtTitle")->isEnabled());
        EXPECT_TRUE(child<QAbstractButton>(print, "SpeedButton1")->isEnabled());

        QFont kai(QStringLiteral("標楷體"));
        kai.setPointSize(20);
        QFont arial(QStringLiteral("Arial"));
        arial.setPointSize(9);
        // The title font: always from the title box's font.
        prompter.answerFont(kai);
        child<QAbstractButton>(print, "SpeedButton1")->click();
        EXPECT_EQ(print.titleFont(), kai);

        child<QCheckBox>(print, "ChkTitle")->click();
        EXPECT_TRUE(child<QLineEdit>(print, "EdtTitle")->isEnabled());
        EXPECT_TRUE(child<QAbstractButton>(print, "SpeedButton1")->isEnabled());
        EXPECT_TRUE(print.printTitle());
        prompter.answerFont(std::nullopt);
        child<QAbstractButton>(print, "SpeedButton1")->click();
        EXPECT_EQ(print.titleFont(), kai);

        // The SQL font starts there too; the detail font from its own box.
        prompter.answerFont(arial);
        child<QAbstractButton>(print, "SpeedButton2")->click();
        prompter.answerFont(kai);
        child<QAbstractButton>(print, "SpeedButton5")->click();
        prompter.answerFont(arial);
        child<QAbstractButton>(print, "SpeedButton5")->click();
        EXPECT_EQ(print.sqlFont(), arial);
        EXPECT_EQ(print.detailFont(), arial);
        EXPECT_EQ(print.titleFont(), kai);

        QStringList starts;
        for (const ScriptedPrompt::Call& call : prompter.calls()) {
            starts << call.texts.value(1);
        }
        EXPECT_EQ(starts, QStringList({boxFont.toString(), boxFont.toString(), boxFont.toString(),
                                       boxFont.toString(), kai.toString()}));

        child<QCheckBox>(print, "ChkTitle")->click();
        EXPECT_FALSE(child<QLineEdit>(print, "EdtTitle")->isEnabled());
        EXPECT_FALSE(child<QAbstractButton>(print, "SpeedButton1")->isEnabled());
        child<QAbstractButton>(print, "SpeedButton1")->click();  // disabled: no dialog
    }));
}

// The font dialog lists installed faces in points; the window's fonts are a
// substituted name (細明體) in pixels. Given them as they are, it started on
// the first face it lists, and OK then changed the report's face.
TEST_F(PrintWindowTest, theFontDialogStartsOnTheFaceItDrawsWithAndOkUnchangedKeepsTheFont) {
    const QFont detail = pixelFont("細明體", 13);
    const QFont start = fontDialogStart(detail);
    EXPECT_EQ(start.family(), QFontInfo(detail).family());
    EXPECT_EQ(start.family(), QStringLiteral("AR PL UMing TW"));
    EXPECT_DOUBLE_EQ(start.pointSizeF(), QFontInfo(detail).pointSizeF());

    QFontDialog dialog;
    dialog.setCurrentFont(start);
    const QFont shown = dialog.currentFont();
    EXPECT_EQ(shown.family(), start.family()) << "the face listed and chosen";
    dialog.accept();
    EXPECT_EQ(fontDialogChoice(detail, shown, dialog.selectedFont()), detail) << "OK unchanged";
    QFont larger = shown;
    larger.setPointSize(20);
    dialog.setCurrentFont(larger);
    dialog.accept();
    EXPECT_EQ(fontDialogChoice(detail, shown, dialog.selectedFont()), dialog.selectedFont());
    EXPECT_EQ(dialog.selectedFont().pointSize(), 20);
}

TEST_F(PrintWindowTest, recordCountHasNoBoundsAndPaperStaysInSixDigits) {
    run(*window, "SELECT id FROM t");
    EXPECT_TRUE(whilePrinting([&](TfrmPrint& print) {
        const auto type = [](SpinEdit& box, const QString& text) {
            box.lineEdit()->selectAll();
            QTest::keyClick(box.lineEdit(), Qt::Key_Delete);
            QTest::keyClicks(box.lineEdit(), text);
        };
        type(*child<SpinEdit>(print, "SedtRecordCount"), "abc");
        EXPECT_EQ(print.recordLimit(), 0);
        type(*child<SpinEdit>(print, "SedtRecordCount"), "-1");
        EXPECT_EQ(print.recordLimit(), -1);
        type(*child<SpinEdit>(print, "SedtRecordCount"), "12345678");
        EXPECT_EQ(print.recordLimit(), 12345678);

        type(*child<SpinEdit>(print, "SEdtPLength"), "12345678");
        EXPECT_EQ(print.paperLength(), 123456);
        type(*child<SpinEdit>(print, "SEdtPWidth"), "x");
        EXPECT_EQ(print.paperWidth(), 0);
        child<QRadioButton>(print, "RbP2")->click();
        EXPECT_FALSE(print.portrait());
    }));
}

TEST_F(PrintWindowTest, theQueryWindowGoingTakesThePrintWindowAndLeavesNoSource) {
    // Standing alone, the window forgets the dataset when its keeper goes.
    {
        auto keeper = std::make_unique<QObject>();
        TfrmPrint print;
        print.setSource(&window->CDS1(), child<QPlainTextEdit>(*window, "MemSQL"), keeper.get());
        EXPECT_EQ(print.SourceDataSet(), &window->CDS1());
        keeper.reset();
        EXPECT_EQ(print.SourceDataSet(), nullptr);
    }
    EXPECT_EQ(TfrmPrint::instance(), nullptr);

    // Over its query window, it goes with it (the exit of the program does
    // this while the print window is up).
    run(*window, "SELECT id FROM t");
    EXPECT_TRUE(whilePrinting([&](TfrmPrint&) { delete std::exchange(window, nullptr); }));
    EXPECT_EQ(TfrmPrint::instance(), nullptr);
}

}  // namespace
}  // namespace tarnwell::test
