// The "轉存DBF" button: the calls it makes on a recording spreadsheet
// application, in order, for results of a real SQLite database, and the .xlsx
// file the real one writes into the cache folder and hands to the desktop's
// application for .xlsx files (a script of the test, registered in XDG folders
// of the test's own).
#include "QueryWindowFixture.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <map>

#include "RecordingSpreadsheet.h"
#include "output/ColumnLetters.h"
#include "output/Feedback.h"
#include "query/SpreadsheetExport.h"
#include "support/XlsxReader.h"

namespace tarnwell::test {
namespace {

const QString kFont = QStringLiteral("標楷體");

class SpreadsheetExportTest : public QueryWindowTest {
protected:
    void SetUp() override {
        QueryWindowTest::SetUp();
        for (const char* name : {"XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS",
                                 "XDG_CACHE_HOME", "XDG_CURRENT_DESKTOP"}) {
            saved[name] = qgetenv(name);
        }
        qputenv("XDG_DATA_HOME", folder.filePath("xdg/data").toUtf8());
        qputenv("XDG_DATA_DIRS", folder.filePath("xdg/data-dirs").toUtf8());
        qputenv("XDG_CONFIG_HOME", folder.filePath("xdg/config").toUtf8());
        qputenv("XDG_CONFIG_DIRS", folder.filePath("xdg/config-dirs").toUtf8());
        qputenv("XDG_CACHE_HOME", folder.filePath("xdg/cache").toUtf8());
        qunsetenv("XDG_CURRENT_DESKTOP");
        registerLocal();
    }

    void TearDown() override {
        QueryWindowTest::TearDown();
        for (const auto& [name, value] : saved) {
            if (value.isNull()) {
                qunsetenv(name.c_str());
            } else {
                qputenv(name.c_str(), value);
            }
        }
    }

    // The desktop's application for .xlsx files: a script that writes down
    // each file it was started on.
    void installSpreadsheetApplication() {
        const QString script = folder.filePath("calc.sh");
        QFile out(script);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write("#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + openedLog().toUtf8() + "'\n");
        out.close();
        out.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDir().mkpath(folder.filePath("xdg/data/applications"));
        QFile entry(folder.filePath("xdg/data/applications/test-calc.desktop"));
        ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
        entry.write("[Desktop Entry]\nType=Application\nName=Test Calc\nExec=" + script.toUtf8() +
                    " %f\nMimeType=application/vnd.openxmlformats-officedocument.spreadsheetml.sheet;\n");
    }

    QString openedLog() const { return folder.filePath("opened.log"); }
    QString cacheFolder() const { return folder.filePath("xdg/cache/tarnwell"); }
    QStringList exportedFiles() const {
        return QDir(cacheFolder()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    // The files the application was started on, once it has been `count` times.
    QStringList openedFiles(int count) const {
        QStringList lines;
        waitUntil([&] {
            QFile log(openedLog());
            lines = log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()).split(u'\n', Qt::SkipEmptyParts)
                                                  : QStringList();
            return lines.size() >= count;
        });
        return lines;
    }

    TfrmQueryEditor* windowWith(const QString& sql) {
        TfrmQueryEditor* window = openWindowOn("BDE", kLocal);
        if (window != nullptr) {
            run(*window, sql);
        }
        return window;
    }

    static QJsonObject cell(const QJsonObject& sheet, const char* name) {
        return sheet["cells"].toObject()[QLatin1String(name)].toObject();
    }

    std::map<std::string, QByteArray> saved;
};

// The calls the title and header rows make for these field names.
QStringList titleAndHeaderCalls(const QString& lastColumn, const QStringList& names) {
    QStringList calls{"create", "Visible=true", "WorkBooks.Add", "WorkSheets.Add", "PageSetup.Orientation=2"};
    const QString title = "Range(A1:" + lastColumn + "1)";
    for (const QString member : {"Merge", "Font.Name=標楷體", "Font.Size=18", "NumberFormatLocal=@",
                                 "HorizontalAlignment=-4108"}) {
        calls << title << member;
    }
    for (int c = 1; c <= names.size(); ++c) {
        const QString cell = QStringLiteral("Cells(2,%1)").arg(c);
        calls << cell << "Value=" + names[c - 1] << cell << "Font.Name=標楷體" << cell << "Font.Size=16" << cell
              << "HorizontalAlignment=-4108";
    }
    return calls;
}

TEST(ColumnLetters, baseTwentySixWithoutAZeroDigit) {
    const std::map<int, QString> expected{{1, "A"},    {26, "Z"},   {27, "AA"},   {52, "AZ"},
                                          {53, "BA"},  {702, "ZZ"}, {703, "AAA"}, {16384, "XFD"}};
    for (const auto& [column, letters] : expected) {
        EXPECT_EQ(ColumnLetters(column), letters) << column;
    }
}

TEST_F(SpreadsheetExportTest, anEmptyResultOrAWindowThatNeverRanDoesNothing) {
    RecordingSpreadsheet spreadsheet;
    TfrmQueryEditor* window = openWindowOn("BDE", kLocal);
    ASSERT_NE(window, nullptr);
    child<QAbstractButton>(*window, "ToolButton3")->click();
    run(*window, "SELECT * FROM t WHERE id < 0");
    child<QAbstractButton>(*window, "ToolButton3")->click();
    EXPECT_EQ(spreadsheet.calls, QStringList());
    EXPECT_EQ(prompter.calls().size(), 0u);
}

TEST_F(SpreadsheetExportTest, threeFieldsAndTwoRecordsGiveEveryCallInOrder) {
    RecordingSpreadsheet spreadsheet;
    TfrmQueryEditor* window = windowWith("SELECT id, name, amount FROM t WHERE id <= 2 ORDER BY id");
    ASSERT_NE(window, nullptr);
    prompter.expectMessage("存檔完成");
    child<QAbstractButton>(*window, "ToolButton3")->click();

    QStringList expected = titleAndHeaderCalls("C", {"id", "name", "amount"});
    for (const QString member : {"Borders.LineStyle=1", "Font.Name=標楷體", "Font.Size=12", "HorizontalAlignment=-4152"}) {
        expected << "Range(A2:C4)" << member;
    }
    // An integer keeps the default format; a string and a decimal are text.
    const QString values[2][3] = {{"1", "a", "1.50"}, {"2", "b", "2.50"}};
    for (int r = 3; r <= 4; ++r) {
        expected << QStringLiteral("Cells(%1,1)").arg(r) << "Value=" + values[r - 3][0];
        for (int c = 2; c <= 3; ++c) {
            const QString name = QStringLiteral("%1%2").arg(QChar(u'A' + c - 1)).arg(r);
            expected << "Range(" + name + ":" + name + ")" << "NumberFormatLocal=@"
                     << QStringLiteral("Cells(%1,%2)").arg(r).arg(c) << "Value=" + values[r - 3][c - 1];
        }
    }
    expected << "Cells()" << "EntireColumn" << "AutoFit" << "release" << "gone";
    EXPECT_EQ(spreadsheet.calls, expected);
    EXPECT_EQ(window->CDS1().currentRow(), 1u) << "the last record is the current one afterwards";
}

TEST_F(SpreadsheetExportTest, theTitleRangeCoversEveryField) {
    for (const int fields : {27, 52, 53}) {
        RecordingSpreadsheet spreadsheet;
        QStringList columns;
        for (int c = 1; c <= fields; ++c) {
            columns << QStringLiteral("%1 AS f%1").arg(c);
        }
        TfrmQueryEditor* window = windowWith("SELECT " + columns.join(", ") + " FROM t WHERE id = 1");
        ASSERT_NE(window, nullptr);
        prompter.expectMessage("存檔完成");
        child<QAbstractButton>(*window, "ToolButton3")->click();
        const QString last = ColumnLetters(fields);
        ASSERT_GT(spreadsheet.calls.size(), 6);
        EXPECT_EQ(spreadsheet.calls[5], "Range(A1:" + last + "1)") << fields;
        EXPECT_TRUE(spreadsheet.calls.contains("Range(A2:" + last + "3)")) << fields;
        window->close();
    }
}

TEST_F(SpreadsheetExportTest, moreThan65535RecordsAskFirstAndYesCutsTheRest) {
    execute(kLocal,
            "CREATE TABLE big (id INTEGER, label VARCHAR(10));"
            "INSERT INTO big WITH RECURSIVE g(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM g WHERE n < 70000) "
            "SELECT n, 'r' || n FROM g");
    TfrmQueryEditor* window = windowWith("SELECT id, label FROM big ORDER BY id");
    ASSERT_NE(window, nullptr);
    const QString question = QStringLiteral("資料超過Excel每一頁籤的最大容量，最多只能轉出65535筆,是否轉出？");
    {
        RecordingSpreadsheet spreadsheet;
        prompter.answerYesNo(false, question);
        child<QAbstractButton>(*window, "ToolButton3")->click();
        QStringList expected = titleAndHeaderCalls("B", {"id", "label"});
        expected << "release" << "gone";
        EXPECT_EQ(spreadsheet.calls, expected) << "No stops at once";
        EXPECT_EQ(window->CDS1().currentRow(), 69999u);
    }
    ASSERT_EQ(prompter.calls().size(), 1u);
    EXPECT_EQ(prompter.calls()[0].texts, QStringList({question, "資料超過65535", "No"}));

    RecordingSpreadsheet spreadsheet;
    prompter.answerYesNo(true, question);
    prompter.expectMessage("存檔完成");
    child<QAbstractButton>(*window, "ToolButton3")->click();
    const QStringList& calls = spreadsheet.calls;
    const qsizetype table = calls.indexOf("Range(A2:B65537)");
    ASSERT_GE(table, 0);
    EXPECT_EQ(calls[table + 1], "Borders.LineStyle=1");
    EXPECT_EQ(calls.mid(calls.size() - 9),
              QStringList({"Range(B65537:B65537)", "NumberFormatLocal=@", "Cells(65537,2)", "Value=r65535", "Cells()",
                           "EntireColumn", "AutoFit", "release", "gone"}));
    EXPECT_EQ(calls.count("Value=r65535"), 1);
    EXPECT_FALSE(calls.contains("Cells(65538,1)"));
    // Four for the header cell, one for each record.
    EXPECT_EQ(calls.filter(QRegularExpression("^Cells\\(\\d+,1\\)$")).size(), 4 + 65535);
}

TEST_F(SpreadsheetExportTest, theRealSheetReadsBackAsExported) {
    installSpreadsheetApplication();
    execute(kLocal,
            "CREATE TABLE codes (\"代碼\" VARCHAR(10), qty INTEGER, price REAL, big BIGINT, note TEXT);"
            "INSERT INTO codes VALUES ('007', 5, 2.5, 1234567890123456789, '中文說明'), "
            "('12', -3, NULL, 1, NULL)");
    TfrmQueryEditor* window = windowWith("SELECT * FROM codes");
    ASSERT_NE(window, nullptr);
    prompter.expectMessage("存檔完成");
    child<QAbstractButton>(*window, "ToolButton3")->click();

    const QStringList files = exportedFiles();
    ASSERT_EQ(files.size(), 1);
    EXPECT_TRUE(QRegularExpression("^tarnwell-\\d{8}-\\d{6}\\.xlsx$").match(files[0]).hasMatch()) << files[0].toStdString();
    const QString file = QDir(cacheFolder()).filePath(files[0]);
    EXPECT_EQ(openedFiles(1), QStringList({file}));
    EXPECT_EQ(QFileInfo(cacheFolder()).permissions() & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)
        << "the cache folder is the user's alone";

    const QJsonObject sheet = readXlsx(file);
    EXPECT_EQ(sheet["orientation"].toString(), "landscape");
    EXPECT_EQ(sheet["merged"].toArray(), QJsonArray({"A1:E1"}));
    EXPECT_EQ(sheet["max_row"].toInt(), 4);
    EXPECT_EQ(cell(sheet, "A1")["size"].toDouble(), 18);
    EXPECT_EQ(cell(sheet, "A2")["value"].toString(), "代碼");
    EXPECT_EQ(cell(sheet, "A2")["font"].toString(), kFont);
    EXPECT_EQ(cell(sheet, "A2")["size"].toDouble(), 12);
    EXPECT_EQ(cell(sheet, "E4")["borders"].toArray(), QJsonArray({"thin", "thin", "thin", "thin"}));
    EXPECT_EQ(cell(sheet, "E4")["align"].toString(), "right");

    EXPECT_EQ(cell(sheet, "A3")["value"].toString(), "007");
    EXPECT_EQ(cell(sheet, "A3")["format"].toString(), "@");
    EXPECT_EQ(cell(sheet, "A4")["value"].toString(), "12") << "text of a string field, though it reads as a number";
    EXPECT_EQ(cell(sheet, "B3")["type"].toString(), "n");
    EXPECT_EQ(cell(sheet, "B4")["value"].toDouble(), -3);
    EXPECT_EQ(cell(sheet, "C3")["value"].toDouble(), 2.5);
    EXPECT_TRUE(cell(sheet, "C4")["value"].isNull());
    EXPECT_EQ(cell(sheet, "D3")["value"].toString(), "1234567890123456789");
    EXPECT_EQ(cell(sheet, "E3")["value"].toString(), "中文說明");
    const QJsonObject widths = sheet["widths"].toObject();
    EXPECT_GT(widths["E"].toDouble(), widths["B"].toDouble());
    EXPECT_GT(widths["D"].toDouble(), 19.0);
}

TEST_F(SpreadsheetExportTest, withoutASpreadsheetApplicationOnlyTheCreationErrorShows) {
    TfrmQueryEditor* window = windowWith("SELECT * FROM t");
    ASSERT_NE(window, nullptr);
    prompter.expectMessage();
    child<QAbstractButton>(*window, "ToolButton3")->click();
    ASSERT_EQ(prompter.messages().size(), 1);
    EXPECT_TRUE(prompter.messages()[0].startsWith("沒有設定開啟 .xlsx 檔的試算表程式")) << prompter.messages()[0].toStdString();
    EXPECT_EQ(exportedFiles(), QStringList());
}

TEST_F(SpreadsheetExportTest, anErrorOnTheWayKeepsWhatWasWrittenAndShowsOnlyTheError) {
    {
        RecordingSpreadsheet spreadsheet;
        spreadsheet.failing = [](const QString& call) {
            if (call == "Cells(4,2)") {
                throw std::runtime_error("the server refused the call");
            }
        };
        TfrmQueryEditor* window = windowWith("SELECT id, name FROM t ORDER BY id");
        ASSERT_NE(window, nullptr);
        prompter.expectMessage("the server refused the call");
        child<QAbstractButton>(*window, "ToolButton3")->click();
        EXPECT_EQ(spreadsheet.calls.mid(spreadsheet.calls.size() - 4),
                  QStringList({"Range(B4:B4)", "NumberFormatLocal=@", "release", "gone"}));
    }

    // The real sheet refuses a text longer than a cell holds.
    installSpreadsheetApplication();
    execute(kLocal,
            "CREATE TABLE notes (id INTEGER, note TEXT);"
            "INSERT INTO notes VALUES (1, 'short'), (2, printf('%.40000c', 'x')), (3, 'never')");
    TfrmQueryEditor* window = windowWith("SELECT * FROM notes ORDER BY id");
    ASSERT_NE(window, nullptr);
    prompter.expectMessage("第 4 列第 2 欄的內容有 40000 個字元，超過試算表一格最多 32767 個字元");
    child<QAbstractButton>(*window, "ToolButton3")->click();
    ASSERT_EQ(exportedFiles().size(), 1);
    const QString file = QDir(cacheFolder()).filePath(exportedFiles()[0]);
    EXPECT_EQ(openedFiles(1), QStringList({file}));
    const QJsonObject sheet = readXlsx(file);
    EXPECT_EQ(cell(sheet, "B3")["value"].toString(), "short");
    EXPECT_EQ(cell(sheet, "A4")["value"].toDouble(), 2) << "the cells before the failing one are kept";
    EXPECT_TRUE(cell(sheet, "B4")["value"].isNull());
    EXPECT_TRUE(cell(sheet, "A5")["value"].isNull()) << "nor anything after it";
}

// Cancels once the work has told of `after` units.
class CancelAfter final : public Feedback {
public:
    explicit CancelAfter(std::int64_t after) : after_(after) {}
    void setProgress(std::int64_t done) override { done_ = done; }
    bool canceled() const override { return done_ >= after_; }

private:
    std::int64_t after_;
    std::int64_t done_ = 0;
};

TEST_F(SpreadsheetExportTest, aCancelThrowsTheWorkbookAwayAndShowsNothing) {
    installSpreadsheetApplication();
    TfrmQueryEditor* window = windowWith("SELECT * FROM t");
    ASSERT_NE(window, nullptr);
    CancelAfter cancel(2);
    exportToSpreadsheet(window->CDS1(), cancel);
    EXPECT_EQ(prompter.calls().size(), 0u);
    EXPECT_EQ(exportedFiles(), QStringList()) << "no file and no part of one, so nothing could be opened";

    // Fetching the rest is work that a cancel stops too.
    RecordingSpreadsheet spreadsheet;
    execute(kLocal,
            "CREATE TABLE many (n INTEGER);"
            "INSERT INTO many WITH RECURSIVE g(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM g WHERE n < 5000) "
            "SELECT n FROM g");
    TfrmQueryEditor* second = windowWith("SELECT * FROM many");
    ASSERT_NE(second, nullptr);
    ASSERT_LT(second->CDS1().recordCount(), 5000u);
    CancelAfter early(1);
    exportToSpreadsheet(second->CDS1(), early);
    EXPECT_FALSE(spreadsheet.calls.contains("Range(A2:A5002)"));
    EXPECT_EQ(spreadsheet.calls.last(), "gone");
    EXPECT_FALSE(spreadsheet.calls.contains("release"));
}

// Tells when the work said it was over, counted in message boxes shown.
class WatchedFeedback final : public Feedback {
public:
    explicit WatchedFeedback(const ScriptedPrompt& prompter) : prompter_(prompter) {}
    void setProgress(std::int64_t) override {}
    bool canceled() const override { return false; }
    void finished() override { messagesWhenFinished = prompter_.messages().size(); }

    qsizetype messagesWhenFinished = -1;

private:
    const ScriptedPrompt& prompter_;
};

TEST_F(SpreadsheetExportTest, theProgressGoesBeforeTheClosingMessage) {
    RecordingSpreadsheet spreadsheet;
    TfrmQueryEditor* window = windowWith("SELECT * FROM t");
    ASSERT_NE(window, nullptr);
    prompter.expectMessage("存檔完成");
    WatchedFeedback feedback(prompter);
    exportToSpreadsheet(window->CDS1(), feedback);
    EXPECT_EQ(feedback.messagesWhenFinished, 0) << "the progress and its 取消 were still up under the message";
    EXPECT_EQ(prompter.messages(), QStringList{"存檔完成"});
}

}  // namespace
}  // namespace tarnwell::test
