// The .xlsx writer, read back by an independent reader: what the export's
// calls make of a sheet, numbers against texts, the file under a decimal-comma
// locale, and calls it must refuse.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <clocale>
#include <stdexcept>
#include <string>

#include <QTemporaryFile>
#include <unistd.h>

#include "output/Feedback.h"
#include "output/XlsxSheet.h"
#include "support/FileSizeLimit.h"
#include "support/TestEnvironment.h"
#include "support/XlsxReader.h"

namespace tarnwell::test {
namespace {

class XlsxSheetTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folder.isValid()); }

    QString file(const QString& name) const { return folder.filePath(name); }

    static QJsonObject cell(const QJsonObject& sheet, const char* name) {
        return sheet["cells"].toObject()[QLatin1String(name)].toObject();
    }

    static QJsonArray thinAllRound() { return {"thin", "thin", "thin", "thin"}; }

    // A sheet begun as the export begins one.
    static void begin(XlsxSheet& sheet) {
        sheet.addWorkbook();
        sheet.addWorksheet();
        sheet.setPageOrientation(xlLandscape);
    }

    QStringList filesLeft() const { return QDir(folder.path()).entryList(QDir::Files | QDir::Hidden); }

    static qsizetype openDescriptors() {
        return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
    }

    QTemporaryDir folder;
};

TEST_F(XlsxSheetTest, theExportsCallsMakeTheSheetAReaderSees) {
    XlsxSheet sheet(file("t.xlsx"), {QLocale::c(), {}});
    begin(sheet);
    const CellArea title = sheet.range("A1:C1");
    sheet.merge(title);
    sheet.setFontName(title, "標楷體");
    sheet.setFontSize(title, 18);
    sheet.setNumberFormatLocal(title, "@");
    sheet.setHorizontalAlignment(title, xlCenter);
    const QStringList header{"代碼名稱", "qty", "big"};
    for (int c = 1; c <= 3; ++c) {
        sheet.setValue(sheet.cells(2, c), header[c - 1]);
        sheet.setFontName(sheet.cells(2, c), "標楷體");
        sheet.setFontSize(sheet.cells(2, c), 16);
        sheet.setHorizontalAlignment(sheet.cells(2, c), xlCenter);
    }
    const CellArea table = sheet.range("A2:C4");
    sheet.setBordersLineStyle(table, xlContinuous);
    sheet.setFontName(table, "標楷體");
    sheet.setFontSize(table, 12);
    sheet.setHorizontalAlignment(table, xlRight);
    // Column A and C text, column B numbers; row 4 shows what a default cell
    // does with texts that are no numbers.
    const QString rows[2][3] = {{"007", "42", "1234567890123456789"}, {"_x0041_", "-1.5e3", ""}};
    for (int r = 0; r < 2; ++r) {
        for (int c = 1; c <= 3; ++c) {
            if (c != 2) {
                sheet.setNumberFormatLocal(sheet.range(QStringLiteral("%1%2:%1%2").arg(QChar(u'A' + c - 1)).arg(r + 3)),
                                           "@");
            }
            sheet.setValue(sheet.cells(r + 3, c), rows[r][c - 1]);
        }
    }
    sheet.setValue(sheet.cells(5, 2), "1,234");
    sheet.setValue(sheet.cells(6, 2), "NaN");
    sheet.autoFit(sheet.entireColumn(sheet.allCells()));
    sheet.save();

    const QJsonObject read = readXlsx(file("t.xlsx"));
    EXPECT_EQ(read["sheets"].toArray().size(), 1);
    EXPECT_EQ(read["orientation"].toString(), "landscape");
    EXPECT_EQ(read["merged"].toArray(), QJsonArray({"A1:C1"}));

    const QJsonObject a1 = cell(read, "A1");
    EXPECT_TRUE(a1["value"].isNull());
    EXPECT_EQ(a1["font"].toString(), "標楷體");
    EXPECT_EQ(a1["size"].toDouble(), 18);
    EXPECT_EQ(a1["format"].toString(), "@");
    EXPECT_EQ(a1["align"].toString(), "center");

    // The table's format came after the header's own: size 12, right-aligned.
    const QJsonObject a2 = cell(read, "A2");
    EXPECT_EQ(a2["value"].toString(), "代碼名稱");
    EXPECT_EQ(a2["font"].toString(), "標楷體");
    EXPECT_EQ(a2["size"].toDouble(), 12);
    EXPECT_EQ(a2["align"].toString(), "right");
    EXPECT_EQ(a2["borders"].toArray(), thinAllRound());
    EXPECT_EQ(cell(read, "C4")["borders"].toArray(), thinAllRound()) << "an empty cell of the table has its borders";
    EXPECT_FALSE(read["cells"].toObject().contains("D3"));

    EXPECT_EQ(cell(read, "A3")["value"].toString(), "007");
    EXPECT_EQ(cell(read, "A3")["type"].toString(), "s");
    EXPECT_EQ(cell(read, "A3")["format"].toString(), "@");
    EXPECT_EQ(cell(read, "C3")["value"].toString(), "1234567890123456789");
    EXPECT_EQ(cell(read, "B3")["type"].toString(), "n");
    EXPECT_EQ(cell(read, "B3")["value"].toDouble(), 42);
    EXPECT_EQ(cell(read, "B3")["format"].toString(), "General");
    EXPECT_EQ(cell(read, "B4")["value"].toDouble(), -1500);
    // The file's escape for a text that looks like one, so it reads back as
    // "_x0041_" and not "A" in a spreadsheet.
    EXPECT_EQ(cell(read, "A4")["value"].toString(), "_x005F_x0041_");
    EXPECT_EQ(cell(read, "B5")["value"].toString(), "1,234") << "grouped digits are no number";
    EXPECT_EQ(cell(read, "B6")["value"].toString(), "NaN");

    // Four CJK characters take as much room as eight letters; 19 digits more.
    const QJsonObject widths = read["widths"].toObject();
    EXPECT_GT(widths["A"].toDouble(), 8 * 12.0 / 11);
    EXPECT_GT(widths["C"].toDouble(), widths["A"].toDouble());
    EXPECT_GT(widths["A"].toDouble(), widths["B"].toDouble());
    EXPECT_EQ(filesLeft(), QStringList({"t.xlsx"}));
}

TEST_F(XlsxSheetTest, numbersStayNumbersUnderADecimalCommaLocale) {
    const std::string before = std::setlocale(LC_ALL, nullptr);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
        if (underCi()) {
            FAIL() << "the de_DE.UTF-8 locale is not installed";
        }
        GTEST_SKIP() << "the de_DE.UTF-8 locale is not installed";
    }
    {
        XlsxSheet sheet(file("de.xlsx"), {QLocale(QLocale::German, QLocale::Germany), {}});
        begin(sheet);
        sheet.setFontSize(sheet.range("A1:A2"), 10.5);
        sheet.setValue(sheet.cells(1, 1), "1234,5");
        sheet.setValue(sheet.cells(2, 1), "0,25");
        sheet.setValue(sheet.cells(2, 2), "1.5");
        sheet.autoFit(sheet.allCells());
        sheet.save();
    }
    std::setlocale(LC_ALL, before.c_str());

    const QJsonObject read = readXlsx(file("de.xlsx"));
    EXPECT_EQ(cell(read, "A1")["type"].toString(), "n");
    EXPECT_EQ(cell(read, "A1")["value"].toDouble(), 1234.5);
    EXPECT_EQ(cell(read, "A2")["value"].toDouble(), 0.25);
    EXPECT_EQ(cell(read, "A2")["size"].toDouble(), 10.5);
    EXPECT_EQ(cell(read, "B2")["value"].toString(), "1.5") << "not a number where the comma is the separator";
    EXPECT_GT(read["widths"].toObject()["A"].toDouble(), 6);
}

TEST_F(XlsxSheetTest, callsItCannotCarryOutAreRefused) {
    XlsxSheet sheet(file("r.xlsx"), {QLocale::c(), {}});
    EXPECT_THROW(sheet.addWorksheet(), std::logic_error) << "a sheet needs its workbook";
    begin(sheet);
    for (const char* reference : {"", "A0", "1A", "A", "XFE1", "A1048577", "A1:", "A1:B2:C3", "Ä1"}) {
        EXPECT_THROW(sheet.range(reference), std::runtime_error) << reference;
    }
    EXPECT_EQ(sheet.range("$C$7:b2"), (CellArea{2, 2, 7, 3}));
    EXPECT_EQ(sheet.range("XFD1048576"), (CellArea{1048576, 16384, 1048576, 16384}));
    EXPECT_THROW(sheet.cells(0, 1), std::runtime_error);
    EXPECT_THROW(sheet.merge(sheet.range("A1:B2")), std::logic_error);
    EXPECT_THROW(sheet.setHorizontalAlignment(sheet.cells(1, 1), 12345), std::invalid_argument);
    try {
        sheet.setValue(sheet.cells(2, 3), QString(XlsxSheet::kMaxTextLength + 1, u'x'));
        ADD_FAILURE() << "a text longer than a cell holds was taken";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(QString::fromUtf8(error.what()), "第 2 列第 3 欄的內容有 32768 個字元，超過試算表一格最多 32767 個字元");
    }
    sheet.setValue(sheet.cells(3, 1), QString(XlsxSheet::kMaxTextLength, u'字'));
    sheet.setValue(sheet.cells(5, 1), "x");
    // Row 3 went to the file when row 5 began.
    EXPECT_THROW(sheet.setValue(sheet.cells(3, 2), "late"), std::logic_error);
    EXPECT_THROW(sheet.setFontSize(sheet.range("A4:A9"), 12), std::logic_error);
    sheet.save();
    EXPECT_THROW(sheet.setValue(sheet.cells(6, 1), "after"), std::logic_error);

    const QJsonObject read = readXlsx(file("r.xlsx"));
    EXPECT_EQ(cell(read, "A3")["value"].toString().size(), XlsxSheet::kMaxTextLength);
    EXPECT_EQ(read["max_row"].toInt(), 5);
    EXPECT_EQ(read["widths"].toObject()["A"].toDouble(), 0) << "autoFit was never asked for";
}

class StopNow final : public Feedback {
public:
    void setProgress(std::int64_t) override {}
    bool canceled() const override { return true; }
};

TEST_F(XlsxSheetTest, theFileAppearsWholeOrNotAtAll) {
    QStringList shown;
    XlsxSheet::Options options{QLocale::c(), [&](const QString& path) { shown << path; }};
    const qsizetype descriptors = openDescriptors();
    {
        XlsxSheet unsaved(file("gone.xlsx"), options);
        unsaved.setVisible(true);
        begin(unsaved);
        for (int row = 1; row <= 2000; ++row) {
            unsaved.setValue(unsaved.cells(row, 1), QString::number(row));
        }
        EXPECT_EQ(filesLeft(), QStringList()) << "no file, not even a part of one, before it is written";
    }
    EXPECT_EQ(filesLeft(), QStringList());
    EXPECT_EQ(openDescriptors(), descriptors) << "the rows' work file went with the sheet";

    // A stop asked for by the time the workbook is done keeps the old file.
    {
        QFile old(file("kept.xlsx"));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old");
    }
    const StopNow stop;
    XlsxSheet::Options stopped = options;
    stopped.stop = &stop;
    {
        XlsxSheet late(file("kept.xlsx"), stopped);
        begin(late);
        late.setValue(late.cells(1, 1), "new");
        EXPECT_THROW(late.save(), OperationCanceled);
    }
    QFile kept(file("kept.xlsx"));
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "old");
    ASSERT_TRUE(kept.remove());

    XlsxSheet noFolder(file("missing/x.xlsx"), options);
    EXPECT_THROW(noFolder.addWorkbook(), std::runtime_error);

    {
        XlsxSheet hidden(file("hidden.xlsx"), options);
        begin(hidden);
        hidden.setValue(hidden.cells(1, 1), "a");
        hidden.release();
    }
    EXPECT_EQ(shown, QStringList()) << "a sheet never made visible is written, not shown";

    XlsxSheet visible(file("shown.xlsx"), options);
    visible.setVisible(true);
    begin(visible);
    visible.setValue(visible.cells(1, 1), "a");
    visible.release();
    EXPECT_EQ(shown, QStringList({file("shown.xlsx")}));
    EXPECT_EQ(filesLeft(), QStringList({"hidden.xlsx", "shown.xlsx"}));
}

TEST_F(XlsxSheetTest, aNulCharacterShowsAsTheReplacementCharacterAndKeepsWhatFollows) {
    XlsxSheet sheet(file("nul.xlsx"), {QLocale::c(), {}});
    begin(sheet);
    sheet.setNumberFormatLocal(sheet.cells(1, 1), "@");
    sheet.setValue(sheet.cells(1, 1), QStringLiteral("a") + QChar(0) + QStringLiteral("b"));
    sheet.save();
    EXPECT_EQ(cell(readXlsx(file("nul.xlsx")), "A1")["value"].toString(), QStringLiteral("a\uFFFDb"));
}

// The library prints its failures on standard error itself; they come back
// in the error's message instead, and standard error, which belongs to the
// whole process, is left as it was for every other thread.
TEST_F(XlsxSheetTest, theLibrarysOwnWordsGoIntoTheMessageNotOntoStandardError) {
    QTemporaryFile captured;
    ASSERT_TRUE(captured.open());
    const int standardError = ::dup(STDERR_FILENO);
    ASSERT_GE(standardError, 0);
    ::dup2(captured.handle(), STDERR_FILENO);
    std::string message;
    {
        XlsxSheet sheet(file("big.xlsx"), {QLocale::c(), {}});
        begin(sheet);
        for (int row = 1; row <= 2000; ++row) {
            sheet.setValue(sheet.cells(row, 1), QStringLiteral("row %1 of a sheet too large for the disc").arg(row));
        }
        const test::FileSizeLimit limit(4096);  // less than any workbook
        try {
            sheet.save();
        } catch (const std::runtime_error& error) {
            message = error.what();
        }
    }
    ::dup2(standardError, STDERR_FILENO);
    ::close(standardError);
    EXPECT_NE(message.find("big.xlsx"), std::string::npos) << message;
    EXPECT_NE(message.find("File too large"), std::string::npos) << "the system's reason: " << message;
    captured.seek(0);
    EXPECT_EQ(captured.readAll(), "") << "nothing printed by the library";
    EXPECT_EQ(filesLeft(), QStringList());

    // The rows' work file filling up is no workbook without its last rows.
    message.clear();
    {
        XlsxSheet sheet(file("rows.xlsx"), {QLocale::c(), {}});
        begin(sheet);
        {
            const test::FileSizeLimit limit(4096);
            for (int row = 1; row <= 2000; ++row) {
                sheet.setValue(sheet.cells(row, 1), QStringLiteral("row %1").arg(row));
            }
        }
        try {
            sheet.save();
        } catch (const std::runtime_error& error) {
            message = error.what();
        }
    }
    EXPECT_NE(message.find("rows.xlsx"), std::string::npos) << "a workbook without its last rows: " << message;
    EXPECT_EQ(filesLeft(), QStringList());
}

}  // namespace
}  // namespace tarnwell::test
