// The CSV and delimited text exports of a query window, byte for byte, and
// what they leave behind when they fail or are stopped.
#include "QueryWindowFixture.h"

#include <QDir>
#include <QFile>
#include <QProgressDialog>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

#include <cerrno>
#include <cstring>
#include <functional>

#include "dataaccess/postgres/PgConnection.h"
#include "query/ResultGridModel.h"
#include "support/FileConditions.h"
#include "ui/Controls.h"
#include "ui/WindowStyle.h"

namespace tarnwell::test {
namespace {

const QByteArray kAnnAndBob("ID,NAME\r\n1,Ann\r\n2,Bob\r\n");

// Rows enough that an export runs far longer than the progress dialog waits.
const QString kEndless = QStringLiteral(
    "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 100000000) "
    "SELECT n, '繁體中文' AS name FROM c");

class TextExportTest : public QueryWindowTest {
protected:
    void SetUp() override {
        QueryWindowTest::SetUp();
        ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("out")));
        execute(kLocal,
                "CREATE TABLE people (ID INTEGER, NAME VARCHAR(20));"
                "INSERT INTO people VALUES (1, 'Ann'), (2, 'Bob')");
        registerLocal();
        window = openWindowOn("BDE", "LOCAL");
        ASSERT_NE(window, nullptr);
    }

    QString out(const QString& name) const { return folder.filePath(QStringLiteral("out/") + name); }

    QByteArray bytesOf(const QString& name) const {
        QFile file(out(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    void keep(const QString& name, const QByteArray& bytes) const {
        QFile file(out(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    // Everything in the export folder, hidden files too.
    QStringList leftInFolder() const {
        return QDir(folder.filePath(QStringLiteral("out")))
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    void press(const char* button) { child<QToolButton>(*window, button)->click(); }

    // `failing`: the error handler's message box is expected.
    void exportCsv(const QString& name, bool failing = false) {
        prompter.answerSaveFile(out(name));
        if (failing) {
            prompter.expectMessage();
        }
        press("ToolButton2");
    }

    void exportTxt(std::optional<QString> separator, const QString& name) {
        prompter.answerInput(std::move(separator));
        prompter.answerSaveFile(out(name));
        press("ToolButton4");
    }

    QString gridText(int row, int column) const {
        return gridModel(*window)->data(gridModel(*window)->index(row, column)).toString();
    }

    // Calls `action` with the export's progress dialog once it shows.
    void whenTheDialogShows(const std::function<void(QProgressDialog&)>& action) {
        auto* poll = new QTimer(window);
        poll->setInterval(10);
        QObject::connect(poll, &QTimer::timeout, poll, [this, poll, action] {
            auto* dialog = window->window()->findChild<QProgressDialog*>(QStringLiteral("progressDialog"));
            if (dialog != nullptr && dialog->isVisible()) {
                poll->stop();
                poll->deleteLater();
                action(*dialog);
            }
        });
        poll->start();
    }

    TfrmQueryEditor* window = nullptr;
};

TEST_F(TextExportTest, csvHoldsTheHeaderThenARecordALineEachEndingInCrLf) {
    run(*window, QStringLiteral("SELECT * FROM people"));
    exportCsv(QStringLiteral("people.CSV"));
    EXPECT_EQ(bytesOf("people.CSV"), kAnnAndBob);
    ASSERT_EQ(prompter.calls().size(), 1u) << "no message on success";
    EXPECT_EQ(prompter.calls().at(0).texts.value(3), "*.CSV (*.CSV *.csv)");
    EXPECT_EQ(prompter.calls().at(0).texts.value(4), "CSV");
    EXPECT_EQ(window->SaveDialog1().fileName, out("people.CSV"));
    EXPECT_EQ(window->CDS1().currentRow(), 1u) << "the walk ends on the last record";
    EXPECT_EQ(child<QTableView>(*window, "DBGrid")->currentIndex().row(), 1);

    // An empty result gives the header and its line end; an existing file
    // is replaced without a question.
    run(*window, QStringLiteral("SELECT * FROM people WHERE ID > 2"));
    exportCsv(QStringLiteral("people.CSV"));
    EXPECT_EQ(bytesOf("people.CSV"), QByteArray("ID,NAME\r\n"));
    EXPECT_EQ(prompter.calls().at(1).texts.value(2), out("people.CSV")) << "the last name is offered";

    // Records not fetched yet are fetched packet by packet as the walk
    // reaches them.
    run(*window, QStringLiteral("WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c "
                                "WHERE n < 250) SELECT n FROM c"));
    ASSERT_LT(window->CDS1().recordCount(), 250u);
    exportCsv(QStringLiteral("counted.CSV"));
    const QList<QByteArray> lines = bytesOf("counted.CSV").split('\n');
    ASSERT_EQ(lines.size(), 252);
    EXPECT_EQ(lines.at(250), "250\r");
    EXPECT_EQ(lines.at(251), "");
    EXPECT_EQ(window->CDS1().recordCount(), 250u);
    EXPECT_EQ(child<QTableView>(*window, "DBGrid")->currentIndex().row(), 249);
    EXPECT_EQ(status(*window, 1), "目前資料筆數: 250");
    EXPECT_EQ(leftInFolder(), (QStringList{"counted.CSV", "people.CSV"}));
}

TEST_F(TextExportTest, valuesAreTheGridsTextWithCrLfAndTabsBlankedAndNothingQuoted) {
    execute(kLocal,
            "CREATE TABLE v (a TEXT, b TEXT, amount NUMERIC(10,2), day DATE, e TEXT, f TEXT);"
            "INSERT INTO v VALUES ('x' || char(13, 10) || 'y', 'p' || char(9) || 'q', 1.5, '2024-03-05', NULL, NULL);"
            "INSERT INTO v VALUES ('cr' || char(13) || 'only', 'lf' || char(10) || 'only', NULL, NULL, 'a,b', NULL);"
            "INSERT INTO v VALUES (char(13, 13, 10), char(13, 10, 9), NULL, NULL, ' padded ', "
            "CAST(X'41FF42' AS TEXT));"
            // Longer values: a CR LF across the first eight bytes and the
            // next, a tab as the very last byte, one in the last few bytes.
            "INSERT INTO v VALUES ('0123456' || char(13, 10) || '9abcdef', 'abcdefghijklmno' || char(9), "
            "NULL, NULL, 'abcdefghij' || char(9) || 'k', '長' || char(9) || 'wider')");
    run(*window, QStringLiteral("SELECT * FROM v"));
    exportCsv(QStringLiteral("values.CSV"));
    // Bytes that are not UTF-8 come out as the grid shows them.
    EXPECT_EQ(gridText(2, 5), QStringLiteral("A\uFFFDB"));
    const QString expected = QStringLiteral("a,b,amount,day,e,f\r\n") +
                             QStringLiteral("x y,p q,%1,%2,,\r\n").arg(gridText(0, 2), gridText(0, 3)) +
                             QStringLiteral("cr\ronly,lf\nonly,,,a,b,\r\n") +
                             QStringLiteral("\r ,  ,,, padded ,A\uFFFDB\r\n") +
                             QStringLiteral("0123456 9abcdef,abcdefghijklmno ,,,abcdefghij k,長 wider\r\n");
    EXPECT_EQ(bytesOf("values.CSV"), expected.toUtf8());
    EXPECT_FALSE(gridText(0, 2).isEmpty());
    EXPECT_FALSE(gridText(0, 3).isEmpty());
}

TEST_F(TextExportTest, theTxtExportAsksForItsSeparatorFirst) {
    run(*window, QStringLiteral("SELECT * FROM people"));
    exportTxt(QStringLiteral(";;"), QStringLiteral("semicolons.TXT"));
    EXPECT_EQ(bytesOf("semicolons.TXT"), QByteArray("ID;;NAME\r\n1;;Ann\r\n2;;Bob\r\n"));
    ASSERT_EQ(prompter.calls().size(), 2u);
    EXPECT_EQ(prompter.calls().at(0).kind, ScriptedPrompt::Kind::Input);
    EXPECT_EQ(prompter.calls().at(0).texts, (QStringList{"有分隔符號文字檔", "清輸入分隔符號", ","}));
    EXPECT_EQ(prompter.calls().at(1).texts.value(3), "*.TXT (*.TXT *.txt)");
    EXPECT_EQ(prompter.calls().at(1).texts.value(4), "TXT");

    exportTxt(QString(), QStringLiteral("together.TXT"));
    EXPECT_EQ(bytesOf("together.TXT"), QByteArray("IDNAME\r\n1Ann\r\n2Bob\r\n"));
    exportTxt(std::nullopt, QStringLiteral("cancelled.TXT"));
    EXPECT_EQ(bytesOf("cancelled.TXT"), kAnnAndBob) << "a cancelled input box means a comma";
    // The separator is written as typed, a tab too.
    exportTxt(QStringLiteral("\t"), QStringLiteral("tabs.TXT"));
    EXPECT_EQ(bytesOf("tabs.TXT"), QByteArray("ID\tNAME\r\n1\tAnn\r\n2\tBob\r\n"));

    // A cancelled save dialog writes nothing.
    prompter.answerInput(QStringLiteral(";"));
    prompter.answerSaveFile(std::nullopt);
    press("ToolButton4");
    EXPECT_EQ(leftInFolder(), (QStringList{"cancelled.TXT", "semicolons.TXT", "tabs.TXT", "together.TXT"}));
    EXPECT_EQ(window->SaveDialog1().fileName, out("tabs.TXT"));
}

TEST_F(TextExportTest, aFullDiscOrAReadOnlyFolderKeepsTheExistingFileByteForByte) {
    keep(QStringLiteral("kept.CSV"), "old\r\n");
    run(*window, QStringLiteral("WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c "
                                "WHERE n < 50000) SELECT n, 'some text' AS t FROM c"));
    {
        FileSizeLimit limit(64 * 1024);
        exportCsv(QStringLiteral("kept.CSV"), true);
    }
    ASSERT_EQ(prompter.messages().size(), 1);
    EXPECT_TRUE(prompter.messages().at(0).contains("無法儲存檔案")) << prompter.messages().at(0).toStdString();
    EXPECT_TRUE(prompter.messages().at(0).contains(systemErrorText(EFBIG)))
        << prompter.messages().at(0).toStdString();
    EXPECT_EQ(bytesOf("kept.CSV"), QByteArray("old\r\n"));
    EXPECT_EQ(leftInFolder(), QStringList{"kept.CSV"});

    Unwritable readOnly(folder.filePath(QStringLiteral("out")));
    REQUIRE_UNWRITABLE(readOnly);
    for (const char* name : {"kept.CSV", "new.CSV"}) {
        exportCsv(QString::fromLatin1(name), true);
        const QString message = prompter.messages().last();
        EXPECT_TRUE(message.contains(systemErrorText(EACCES)) ||
                    message.contains(systemErrorText(EPERM)))
            << message.toStdString();
    }
    EXPECT_EQ(bytesOf("kept.CSV"), QByteArray("old\r\n"));
    EXPECT_EQ(leftInFolder(), QStringList{"kept.CSV"});
}

TEST_F(TextExportTest, aPostgresBackendEndedMidWalkLeavesNoShortFile) {
    TARNWELL_REQUIRE_PG(server);
    registerPg(server);
    TfrmQueryEditor* pgWindow = openWindowOn("BDE", kPg);
    ASSERT_NE(pgWindow, nullptr);
    window = pgWindow;
    child<SpinEdit>(*window, "SEdt_PacketRecords")->setValue(10);
    run(*window, QStringLiteral("SELECT generate_series(1, 5000000) AS n /* ended mid-walk */"));
    ASSERT_TRUE(window->CDS1().active());

    // The server is still sending when its backend is ended from elsewhere.
    auto other = db::openPostgres(server.conninfo);
    auto ended = other->execute(
        "SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
        "WHERE query LIKE '%ended mid-walk%' AND pid <> pg_backend_pid()");
    db::RowStore answer(1);
    ASSERT_EQ(ended->fetch(answer, 10), 1u);
    EXPECT_EQ(answer.cell(0, 0).bytes, "1");
    ended.reset();

    keep(QStringLiteral("kept.CSV"), "old\r\n");
    exportCsv(QStringLiteral("kept.CSV"), true);
    ASSERT_EQ(prompter.messages().size(), 1) << "reported once";
    // libpq's words, depending on whether the server's last message arrived
    // before the connection went.
    const QString message = prompter.messages().at(0);
    EXPECT_TRUE(message.contains(QStringLiteral("terminating connection")) ||
                message.contains(QStringLiteral("server closed the connection")))
        << message.toStdString();
    EXPECT_GT(window->CDS1().recordCount(), 10u) << "the rows that came are kept in the grid";
    EXPECT_LT(window->CDS1().recordCount(), 5000000u);
    EXPECT_EQ(bytesOf("kept.CSV"), QByteArray("old\r\n"));
    EXPECT_EQ(leftInFolder(), QStringList{"kept.CSV"});
}

TEST_F(TextExportTest, cancellingTheProgressDialogWritesNothingAndSaysNothing) {
    keep(QStringLiteral("kept.CSV"), "old\r\n");
    run(*window, kEndless);
    QString label;
    bool modal = false;
    whenTheDialogShows([&](QProgressDialog& dialog) {
        label = dialog.labelText();
        modal = dialog.isModal();
        QPushButton* cancel = dialog.findChild<QPushButton*>();
        ASSERT_NE(cancel, nullptr);
        EXPECT_EQ(cancel->text(), "取消");
        cancel->click();
    });
    exportCsv(QStringLiteral("kept.CSV"));

    EXPECT_TRUE(label.contains(QStringLiteral("筆資料"))) << label.toStdString();
    EXPECT_TRUE(modal);
    EXPECT_EQ(prompter.calls().size(), 1u) << "a cancel shows no message";
    EXPECT_EQ(bytesOf("kept.CSV"), QByteArray("old\r\n"));
    EXPECT_EQ(leftInFolder(), QStringList{"kept.CSV"});
    EXPECT_EQ(window->window()->findChild<QProgressDialog*>(), nullptr) << "the dialog went with the export";
    EXPECT_EQ(static_cast<std::size_t>(child<QTableView>(*window, "DBGrid")->currentIndex().row()),
              window->CDS1().currentRow())
        << "the grid stands where the walk stopped";
}

TEST_F(TextExportTest, closingTheWindowOrEndingTheProgramStopsTheExportFirst) {
    keep(QStringLiteral("kept.CSV"), "old\r\n");
    run(*window, kEndless);
    QPointer<TfrmQueryEditor> closing = window;
    whenTheDialogShows([&](QProgressDialog&) { closing->close(); });
    exportCsv(QStringLiteral("kept.CSV"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(closing.isNull()) << "the window closes once the export has stopped";
    EXPECT_EQ(bytesOf("kept.CSV"), QByteArray("old\r\n"));
    EXPECT_EQ(leftInFolder(), QStringList{"kept.CSV"});

    // The tray's exit while the export runs inside the event loop, in a
    // window that the exit destroys.
    main->show();
    window = openWindowOn("BDE", "LOCAL");
    ASSERT_NE(window, nullptr);
    ASSERT_NE(mdiSubWindowOf(*window), nullptr);
    run(*window, kEndless);
    QPointer<TfrmQueryEditor> exported = window;
    whenTheDialogShows([&](QProgressDialog&) { child<QAction>(*main, "N1")->trigger(); });
    prompter.answerSaveFile(out("kept.CSV"));
    QTimer::singleShot(0, window, [this] { press("ToolButton2"); });
    QTimer::singleShot(30000, qApp, [] { QCoreApplication::exit(-1); });
    EXPECT_EQ(QApplication::exec(), 0) << "the program ended";
    EXPECT_TRUE(exported.isNull());
    EXPECT_EQ(bytesOf("kept.CSV"), QByteArray("old\r\n"));
    EXPECT_EQ(leftInFolder(), QStringList{"kept.CSV"});
    EXPECT_EQ(prompter.messages(), QStringList());
}

TEST_F(TextExportTest, chineseTextInTheLocalesEncodingAndWhatBig5CannotHoldIsRefused) {
    execute(kLocal, "CREATE TABLE 客戶 (ID INTEGER, 名稱 VARCHAR(20));"
                    "INSERT INTO 客戶 VALUES (1, '中文'), (2, '繁體')");
    run(*window, QStringLiteral("SELECT * FROM 客戶"));
    {
        CharacterLocale utf8("C.UTF-8");
        ASSERT_TRUE(utf8.active());
        exportCsv(QStringLiteral("utf8.CSV"));
    }
    EXPECT_EQ(bytesOf("utf8.CSV"), QStringLiteral("ID,名稱\r\n1,中文\r\n2,繁體\r\n").toUtf8());

    TARNWELL_REQUIRE_BIG5_LOCALE(big5);
    exportCsv(QStringLiteral("big5.CSV"));
    EXPECT_EQ(bytesOf("big5.CSV"),
              QByteArray("ID,\xa6W\xba\xd9\r\n1,\xa4\xa4\xa4\xe5\r\n2,\xc1\x63\xc5\xe9\r\n"));

    execute(kLocal, "INSERT INTO 客戶 VALUES (3, '笑😀')");
    run(*window, QStringLiteral("SELECT ID, 名稱 AS \"名稱%1\" FROM 客戶"));
    exportCsv(QStringLiteral("big5.CSV"), true);
    const QString message = prompter.messages().value(0);
    EXPECT_TRUE(message.contains(QStringLiteral("第 3 筆資料的欄位 名稱%1 第 2 個字"))) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("U+1F600"))) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("Big5"), Qt::CaseInsensitive)) << message.toStdString();
    EXPECT_EQ(bytesOf("big5.CSV"),
              QByteArray("ID,\xa6W\xba\xd9\r\n1,\xa4\xa4\xa4\xe5\r\n2,\xc1\x63\xc5\xe9\r\n"));
    EXPECT_EQ(leftInFolder(), (QStringList{"big5.CSV", "utf8.CSV"}));
}

}  // namespace
}  // namespace tarnwell::test
