// `tarnwell --run` as a user runs it: the built program as a child process
// without a display, its files set against what a query window's exports and
// report make of the same result (byte for byte, through openpyxl, through
// pdftotext), on SQLite and on the PostgreSQL test server; standard input and
// output; the exit statuses and their messages; what a failure or a stop
// leaves behind; no password on the command line; a run beside a running
// instance.
#include "printing/PrintWindowFixture.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QToolButton>

#include <QScopeGuard>

#include <csignal>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "dataaccess/Database.h"
#include "dataaccess/Query.h"
#include "dataaccess/RowStore.h"

#include "output/SpreadsheetAutomation.h"
#include "output/XlsxSheet.h"
#include "printing/ReportTestSupport.h"
#include "shell/CommandLine.h"
#include "shell/SingleInstance.h"
#include "support/ChildProcess.h"
#include "support/FileConditions.h"
#include "support/XlsxReader.h"

namespace tarnwell::test {
namespace {

// --- The command line --------------------------------------------------------------

CommandLine parsed(const QStringList& arguments) { return parseCommandLine(QStringList{"tarnwell"} + arguments); }

QString refusal(const QStringList& arguments) {
    const CommandLine line = parsed(arguments);
    EXPECT_EQ(line.action, CommandLine::Action::Refuse) << arguments.join(' ').toStdString();
    return line.error;
}

TEST(BatchCommandLineTest, readsTheRunAndRefusesWhatCannotGoTogether) {
    const CommandLine pdf = parsed({"--run", "q.sql", "--alias=DEMO", "--user", "mei", "--pdf", "out.pdf", "--title",
                                    "--fields", "--fields", "name:12,id", "--records", "-5", "--landscape", "--paper",
                                    "250x176", "--font", "AR PL UMing TW:10.5"});
    ASSERT_EQ(pdf.action, CommandLine::Action::Batch) << pdf.error.toStdString();
    const BatchOptions& batch = pdf.batch;
    EXPECT_EQ(batch.sqlFile, "q.sql");
    EXPECT_EQ(batch.alias, "DEMO");
    EXPECT_EQ(batch.user, "mei");
    EXPECT_EQ(batch.format, BatchOptions::Format::Pdf);
    EXPECT_EQ(batch.output, "out.pdf");
    EXPECT_EQ(batch.title, "--fields") << "a value may look like an option";
    ASSERT_EQ(batch.fields.size(), 2u);
    EXPECT_EQ(batch.fields[0].name, "name");
    EXPECT_EQ(batch.fields[0].width, "12");
    EXPECT_EQ(batch.fields[1].width, std::nullopt);
    EXPECT_EQ(batch.records, -5);
    EXPECT_TRUE(batch.landscape);
    EXPECT_EQ(batch.paperLengthMm, 250);
    EXPECT_EQ(batch.paperWidthMm, 176);
    EXPECT_EQ(batch.fontFamily, "AR PL UMing TW");
    EXPECT_EQ(batch.fontPoints, 10.5);

    const CommandLine plain = parsed({"--run", "-", "--connection-string", "Provider=SQLite.1;Data Source=x.db"});
    ASSERT_EQ(plain.action, CommandLine::Action::Batch);
    EXPECT_EQ(plain.batch.format, BatchOptions::Format::Csv);
    EXPECT_EQ(plain.batch.output, "-") << "no output option: CSV on standard output";
    const CommandLine empty = parsed({"--run", "q.sql", "--alias", "A", "--txt", "o.txt", "--separator", ""});
    ASSERT_EQ(empty.action, CommandLine::Action::Batch);
    EXPECT_EQ(empty.batch.separator, "") << "no separator at all is one";
    EXPECT_EQ(parsed({"--run", "q.sql", "--bogus", "--help"}).action, CommandLine::Action::ShowHelp);

    EXPECT_TRUE(refusal({"--run", "q.sql"}).contains("--alias NAME"));
    EXPECT_TRUE(refusal({"--run", "q.sql", "--alias", "A", "--connection-string", "x"}).contains("one of"));
    EXPECT_TRUE(refusal({"--run", "q.sql", "--alias", "A", "--csv", "a", "--xlsx", "b"}).contains("one output"));
    EXPECT_TRUE(refusal({"--run", "q.sql", "--alias", "A", "--separator", ";"}).contains("'--txt'"));
    EXPECT_TRUE(refusal({"--run", "q.sql", "--alias", "A", "--csv", "a", "--title", "t"}).contains("'--pdf'"));
    EXPECT_TRUE(refusal({"--run", "q.sql", "--connection-string", "x", "--user", "u"}).contains("'--alias'"));
    EXPECT_TRUE(refusal({"--run", "q.sql", "--alias", "A", "--alias", "B"}).contains("twice"));
    EXPECT_TRUE(refusal({"--run", "q.sql", "--alias", "A", "--pdf", "p", "--paper", "297"}).contains("LENGTHxWIDTH"));
    EXPECT_TRUE(refusal({"--run", "q.sql", "--alias", "A", "--pdf", "p", "--font", "細明體"}).contains("FAMILY:SIZE"));
    EXPECT_TRUE(refusal({"--run", "q.sql", "--alias", "A", "--pdf", "p", "--records", "x"}).contains("whole number"));
    EXPECT_TRUE(refusal({"--run", "q.sql", "--alias", "A", "--pdf", "p", "--fields", "a:wide"})
                    .contains("'wide' is not a valid integer value"));
    EXPECT_TRUE(refusal({"--run", "q.sql", "--alias", "A", "--pdf", "p", "--fields", "a,,b"}).contains("NAME[:WIDTH]"));
    EXPECT_TRUE(refusal({"--csv", "a"}).contains("'--run FILE'"));
    EXPECT_TRUE(refusal({"--run"}).contains("needs a value"));
    EXPECT_EQ(refusal({"--run", "q.sql", "--alias", "A", "extra.sql"}), "unexpected argument 'extra.sql'");
    // The file left out is what is wrong, not the alias name after it.
    EXPECT_TRUE(refusal({"--run", "--alias", "DEMO"}).contains("'--run' needs a SQL file")) << "--run --alias";
    // A version asked beside a run would run nothing and look done.
    EXPECT_TRUE(refusal({"--run", "q.sql", "--alias", "A", "--version"}).contains("'--version'"));
    EXPECT_TRUE(refusal({"-v", "--csv", "a"}).contains("'--version'"));
    EXPECT_EQ(parsed({"--bogus", "--version"}).action, CommandLine::Action::ShowVersion);

    EXPECT_FALSE(plain.batch.script);
    EXPECT_TRUE(parsed({"--run", "q.sql", "--script", "--alias", "A"}).batch.script);
    EXPECT_TRUE(refusal({"--script", "--alias", "A"}).contains("'--run FILE'"));
    EXPECT_TRUE(refusal({"--run", "--script", "--alias", "A"}).contains("'--run' needs a SQL file"));
    EXPECT_TRUE(refusal({"--run", "q.sql", "--script", "--script", "--alias", "A"}).contains("twice"));
}

TEST(BatchCommandLineTest, takesNoPasswordOnTheCommandLine) {
    for (const QStringList& arguments :
         {QStringList{"--run", "q.sql", "--alias", "A", "--password", "secret"},
          QStringList{"--run", "q.sql", "--alias", "A", "--password=secret"}, QStringList{"-p", "secret"},
          QStringList{"--run", "q.sql", "--connection-string",
                      "Provider=PostgreSQL.1;Data Source=db/erp;User ID=u;Password=secret"},
          QStringList{"--run", "q.sql", "--connection-string",
                      "Provider=ODBC.1;Extended Properties=\"DRIVER={PostgreSQL Unicode};PWD=secret\""}}) {
        EXPECT_TRUE(refusal(arguments).contains("TARNWELL_PASSWORD")) << arguments.join(' ').toStdString();
    }
    // A file name is no option.
    EXPECT_EQ(parsed({"--run", "passwords.sql", "--alias", "A"}).action, CommandLine::Action::Batch);
}

// --- The program -----------------------------------------------------------------

struct ProgramRun {
    QProcess::ExitStatus status = QProcess::CrashExit;
    int exitCode = -1;
    QByteArray out;
    QString err;
};

// The spreadsheet application of the query window's export, writing its
// workbook to a file the test names, as the command line writes its own.
class FileSpreadsheets final : public SpreadsheetServer {
public:
    explicit FileSpreadsheets(QString path) : path_(std::move(path)) {}
    std::unique_ptr<SpreadsheetApplication> create() override { return std::make_unique<XlsxSheet>(path_); }

private:
    QString path_;
};

const char* const kMixedSqlite =
    "CREATE TABLE mixed (id INTEGER, 名稱 VARCHAR(20), amount NUMERIC(10,2), day DATE, stamp TIMESTAMP, note TEXT, "
    "code VARCHAR(8));"
    "INSERT INTO mixed VALUES (1, '王小明', 1234.5, '2024-03-05', '2024-03-05 08:09:10', 'a' || char(13, 10) || 'b', "
    "'007');"
    "INSERT INTO mixed VALUES (2, 'Ann, Lee', -0.25, NULL, NULL, 'tab' || char(9) || 'bed', NULL);"
    "INSERT INTO mixed VALUES (3, NULL, NULL, '1999-12-31', '2000-01-01 00:00:00', '', '12345678')";

const char* const kMixedPg =
    "DROP TABLE IF EXISTS batch_mixed;"
    "CREATE TABLE batch_mixed (id integer, 名稱 varchar(20), amount numeric(10,2), day date, stamp timestamp, "
    "note text, flag boolean, code varchar(8));"
    "INSERT INTO batch_mixed VALUES (1, '王小明', 1234.5, '2024-03-05', '2024-03-05 08:09:10', E'a\\r\\nb', true, "
    "'007'), (2, 'Ann, Lee', -0.25, NULL, NULL, E'tab\\tbed', false, NULL), "
    "(3, NULL, NULL, '1999-12-31', '2000-01-01 00:00:00', '', NULL, '12345678')";

class BatchRunTest : public PrintWindowFixture {
protected:
    static constexpr const char* kMaria = "MARIATEST";

    void SetUp() override {
        if (const auto& server = testMariaDbServer()) {
            moreAliases = std::string("[") + kMaria + "]\nTYPE=MARIADB\nSERVER NAME=" + server->host + "\nPORT=" +
                          server->port + "\nDATABASE NAME=" + server->database + "\n";
        }
        PrintWindowFixture::SetUp();
        ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("out")));
        execute(kLocal, kMixedSqlite);
    }

    QString out(const QString& name) const { return folder.filePath(QStringLiteral("out/") + name); }
    QString sqlFile(const QString& sql) {
        const QString path = folder.filePath(QStringLiteral("q%1.sql").arg(++sqlFiles_));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(sql.toUtf8());
        return path;
    }
    QByteArray bytesOf(const QString& path) const {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }
    void keep(const QString& path, const QByteArray& bytes) const {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    QStringList leftInOut() const {
        return QDir(folder.filePath(QStringLiteral("out")))
            .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    // Where the program runs: no display at all, the fixture's aliases, no
    // password but the one a test gives.
    QProcessEnvironment programEnvironment(const QStringList& extra) const {
        QProcessEnvironment environment = childEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.remove(QStringLiteral("TARNWELL_PASSWORD"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("TARNWELL_ALIASES"), folder.filePath(QStringLiteral("aliases.conf")));
        for (const QString& entry : extra) {
            environment.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));
        }
        return environment;
    }

    ProgramRun tarnwell(const QStringList& arguments, const QByteArray& input = {}, const QStringList& environment = {}) {
        QProcess process;
        process.setProcessEnvironment(programEnvironment(environment));
        process.start(QStringLiteral(TARNWELL_BINARY), arguments);
        return finished(process, arguments, input);
    }
    static ProgramRun finished(QProcess& process, const QStringList& arguments, const QByteArray& input = {}) {
        EXPECT_TRUE(process.waitForStarted(30000));
        process.write(input);
        process.closeWriteChannel();
        EXPECT_TRUE(process.waitForFinished(180000)) << arguments.join(' ').toStdString();
        return {process.exitStatus(), process.exitCode(), process.readAllStandardOutput(),
                QString::fromLocal8Bit(process.readAllStandardError())};
    }

    // The arguments that reach the database of `alias`, and the environment
    // with its password.
    QStringList on(const char* alias) const {
        if (alias == std::string(kPg)) {
            return {QStringLiteral("--alias"), QString::fromUtf8(kPg), QStringLiteral("--user"),
                    QString::fromStdString(testServer()->user)};
        }
        if (alias == std::string(kMaria)) {
            return {QStringLiteral("--alias"), QString::fromUtf8(kMaria), QStringLiteral("--user"),
                    QString::fromStdString(testMariaDbServer()->user)};
        }
        return {QStringLiteral("--alias"), QString::fromUtf8(alias)};
    }
    // The process id of the server backend whose statement holds `marker`,
    // from a connection of the test's own; 0 when there is none.
    qint64 backendRunning(const QString& marker) {
        const TestServer& server = *testServer();
        db::Database database(workspace->Session1(), "FIND_BACKEND");
        database.setAliasName(kPg);
        database.params().append("USER NAME", server.user);
        database.params().append("PASSWORD", server.password);
        database.open();
        db::Query query(workspace->Session1());
        query.setDatabaseName("FIND_BACKEND");
        query.setSql("SELECT pid::text FROM pg_stat_activity WHERE query LIKE '%" + marker.toStdString() +
                     "%' AND pid <> pg_backend_pid()");
        db::RowStore rows(1);
        if (!query.openResult() || query.fetch(rows, 1) != 1) {
            return 0;
        }
        return QString::fromStdString(std::string(rows.cell(0, 0).bytes)).toLongLong();
    }

    QStringList passwordFor(const char* alias) const {
        if (alias == std::string(kPg)) {
            return {QStringLiteral("TARNWELL_PASSWORD=") + QString::fromStdString(testServer()->password)};
        }
        if (alias == std::string(kMaria)) {
            return {QStringLiteral("TARNWELL_PASSWORD=") + QString::fromStdString(testMariaDbServer()->password)};
        }
        return {};
    }

    // The engine's own client running a script file as a script runs
    // unattended: psql and the sqlite3 shell stopping at the first error,
    // the mariadb client in batch mode, which does by itself.
    ProgramRun referenceClient(const char* alias, const QString& script) const {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        QString program;
        QStringList arguments;
        if (alias == std::string(kPg)) {
            const TestServer& server = *testServer();
            environment.insert(QStringLiteral("PGPASSWORD"), QString::fromStdString(server.password));
            program = QStringLiteral("psql");
            arguments = QStringList{"-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", QString::fromStdString(server.host),
                                    "-p", QString::fromStdString(server.port), "-U",
                                    QString::fromStdString(server.user), "-d", QString::fromStdString(server.database)};
        } else if (alias == std::string(kMaria)) {
            const MariaDbTestServer& server = *testMariaDbServer();
            environment.insert(QStringLiteral("MYSQL_PWD"), QString::fromStdString(server.password));
            program = QStringLiteral("mariadb");
            arguments = QStringList{"--no-defaults", "-h", QString::fromStdString(server.host), "-P",
                                    QString::fromStdString(server.port), "-u", QString::fromStdString(server.user),
                                    QString::fromStdString(server.database)};
        } else {
            program = QStringLiteral("sqlite3");
            arguments = QStringList{"-bail", databaseFile};
        }
        process.setProcessEnvironment(environment);
        process.setStandardInputFile(script);
        process.start(program, arguments);
        EXPECT_TRUE(process.waitForFinished(60000)) << program.toStdString();
        return {process.exitStatus(), process.exitCode(), process.readAllStandardOutput(),
                QString::fromLocal8Bit(process.readAllStandardError())};
    }

    void useDatabase(const char* alias) {
        if (alias == std::string(kPg)) {
            registerPg(*testServer());
            execute(kPg, kMixedPg, QString::fromStdString(testServer()->user),
                    QString::fromStdString(testServer()->password));
            window = openWindowOn("BDE", kPg);
        }
    }
    static QString mixedSelect(const char* alias) {
        return alias == std::string(kPg) ? QStringLiteral("SELECT * FROM batch_mixed ORDER BY id")
                                         : QStringLiteral("SELECT * FROM mixed ORDER BY id");
    }

    // The window's own exports of its result.
    void windowCsv(const QString& path) {
        prompter.answerSaveFile(path);
        child<QToolButton>(*window, "ToolButton2")->click();
    }
    void windowTxt(const QString& separator, const QString& path) {
        prompter.answerInput(separator);
        prompter.answerSaveFile(path);
        child<QToolButton>(*window, "ToolButton4")->click();
    }
    void windowXlsx(const QString& path) {
        FileSpreadsheets server(path);
        SpreadsheetServerOverride use(server);
        prompter.expectMessage(QStringLiteral("存檔完成"));
        child<QAbstractButton>(*window, "ToolButton3")->click();
    }
    // Every field ticked at the width the print window offers, the title
    // given, printed to a PDF file.
    void windowPdf(const QString& title, const QString& path) {
        EXPECT_TRUE(whilePrinting([&](TfrmPrint& print) {
            print.SbtnCheckAllClick();
            child<QCheckBox>(print, "ChkTitle")->setChecked(true);
            child<QLineEdit>(print, "EdtTitle")->setText(title);
            prompter.answerPrinter(path);
            child<QAbstractButton>(print, "SBtnPrint")->click();
        }));
    }

    // The four formats of the window against the program's, for a result of
    // `alias`.
    void sameFilesAsTheWindow(const char* alias) {
        const QString sql = mixedSelect(alias);
        run(*window, sql);
        windowCsv(out("window.CSV"));
        windowTxt(QStringLiteral(" | "), out("window.TXT"));
        windowXlsx(out("window.xlsx"));
        windowPdf(QStringLiteral("月報 2024"), out("window.pdf"));

        const QString file = sqlFile(sql);
        const ProgramRun csv = tarnwell(QStringList{"--run", file} + on(alias) + QStringList{"--csv", out("batch.CSV")}, {},
                                 passwordFor(alias));
        EXPECT_EQ(csv.exitCode, 0) << csv.err.toStdString();
        EXPECT_EQ(csv.err, "") << "nothing on standard error when it is no terminal";
        EXPECT_EQ(csv.out, "");
        EXPECT_EQ(bytesOf(out("batch.CSV")), bytesOf(out("window.CSV")));
        EXPECT_TRUE(bytesOf(out("batch.CSV")).contains("1,王小明,")) << bytesOf(out("batch.CSV")).toStdString();

        // The SQL from standard input, the text to standard output.
        const ProgramRun txt = tarnwell(QStringList{"--run", "-"} + on(alias) + QStringList{"--txt", "-", "--separator", " | "},
                                 sql.toUtf8(), passwordFor(alias));
        EXPECT_EQ(txt.exitCode, 0) << txt.err.toStdString();
        EXPECT_EQ(txt.out, bytesOf(out("window.TXT")));

        const ProgramRun xlsx = tarnwell(QStringList{"--run", file} + on(alias) + QStringList{"--xlsx", out("batch.xlsx")}, {},
                                  passwordFor(alias));
        EXPECT_EQ(xlsx.exitCode, 0) << xlsx.err.toStdString();
        const QJsonObject sheet = readXlsx(out("batch.xlsx"));
        EXPECT_EQ(sheet, readXlsx(out("window.xlsx")));
        EXPECT_EQ(sheet["max_row"].toInt(), 5);
        const ProgramRun xlsxOut = tarnwell(QStringList{"--run", file} + on(alias) + QStringList{"--xlsx", "-"}, {},
                                     passwordFor(alias));
        EXPECT_EQ(xlsxOut.exitCode, 0) << xlsxOut.err.toStdString();
        keep(out("stdout.xlsx"), xlsxOut.out);
        EXPECT_EQ(readXlsx(out("stdout.xlsx")), sheet);

        const ProgramRun pdf = tarnwell(QStringList{"--run", file} + on(alias) +
                                     QStringList{"--pdf", out("batch.pdf"), "--title", QStringLiteral("月報 2024")},
                                 {}, passwordFor(alias));
        EXPECT_EQ(pdf.exitCode, 0) << pdf.err.toStdString();
        EXPECT_EQ(pdf.err, "");
        const QString text = outputOf(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), out("batch.pdf"), "-"});
        EXPECT_EQ(text, outputOf(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), out("window.pdf"), "-"}));
        EXPECT_TRUE(text.contains(QStringLiteral("月報 2024"))) << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral("王小明"))) << text.toStdString();
        EXPECT_EQ(pageSizeInPoints(out("batch.pdf")), pageSizeInPoints(out("window.pdf")));
    }

private:
    int sqlFiles_ = 0;
};

TEST_F(BatchRunTest, writesTheWindowsFilesOnSqlite) {
    sameFilesAsTheWindow(kLocal);
}

TEST_F(BatchRunTest, writesTheWindowsFilesOnPostgres) {
    TARNWELL_REQUIRE_PG(server);
    (void)server;
    useDatabase(kPg);
    ASSERT_NE(window, nullptr);
    sameFilesAsTheWindow(kPg);
}

TEST_F(BatchRunTest, reportSettingsChooseFieldsWidthsRecordsAndPaper) {
    const QString file = sqlFile(QStringLiteral("SELECT * FROM mixed ORDER BY id"));
    const ProgramRun run = tarnwell({"--run", file, "--alias", kLocal, "--pdf", out("some.pdf"), "--fields", "NAME:0,名稱:4,ID",
                              "--records", "2", "--landscape", "--paper", "250x176"});
    EXPECT_EQ(run.exitCode, 2) << "no field NAME: " << run.err.toStdString();
    EXPECT_TRUE(run.err.contains("no field 'NAME'")) << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(QStringLiteral("id, 名稱, amount"))) << run.err.toStdString();
    EXPECT_FALSE(QFile::exists(out("some.pdf")));

    const ProgramRun some = tarnwell({"--run", file, "--alias", kLocal, "--pdf", out("some.pdf"), "--fields", "名稱:4,ID",
                               "--records", "2", "--landscape", "--paper", "250x176"});
    ASSERT_EQ(some.exitCode, 0) << some.err.toStdString();
    const QStringList lines = nonBlankLines(outputOf(QStringLiteral("pdftotext"), {"-layout", out("some.pdf"), "-"}));
    ASSERT_EQ(lines.size(), 3) << lines.join('\n').toStdString();
    EXPECT_EQ(lines[0].simplified(), QStringLiteral("名稱 id"));
    EXPECT_EQ(lines[1].simplified(), QStringLiteral("王小 1")) << "cut to 4 columns, in the order named";
    EXPECT_EQ(lines[2].simplified(), QStringLiteral("Ann, 2"));
    const QSizeF page = pageSizeInPoints(out("some.pdf"));
    EXPECT_NEAR(page.width(), 250 / 25.4 * 72, 1) << "landscape: the length across";
    EXPECT_NEAR(page.height(), 176 / 25.4 * 72, 1);
}

TEST_F(BatchRunTest, statusesAndMessagesInTheWindowsWords) {
    // A statement without a result set: the Messages lines, no file.
    const ProgramRun update = tarnwell({"--run", sqlFile("UPDATE mixed SET code = code WHERE id < 3"), "--alias", kLocal,
                                 "--csv", out("none.csv")});
    EXPECT_EQ(update.exitCode, 0) << update.err.toStdString();
    const QStringList lines = update.err.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << update.err.toStdString();
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("執行起始：")));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("執行結束：")));
    EXPECT_EQ(lines[2], QStringLiteral("共 2 被異動"));
    EXPECT_TRUE(lines[3].startsWith(QStringLiteral("共 ")) && lines[3].endsWith(QStringLiteral(" 秒")));
    EXPECT_EQ(leftInOut(), QStringList());

    const ProgramRun syntax = tarnwell({"--run", sqlFile("SELEC * FROM mixed"), "--alias", kLocal});
    EXPECT_EQ(syntax.exitCode, 1);
    EXPECT_EQ(syntax.err, QStringLiteral("BDE_查詢失敗: near \"SELEC\": syntax error\n"));

    const ProgramRun unknown = tarnwell({"--run", sqlFile("SELECT 1"), "--alias", "NOPE"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_TRUE(unknown.err.startsWith("tarnwell: unknown alias 'NOPE' (aliases: DEMO, LOCAL, BROKEN"))
        << unknown.err.toStdString();

    const ProgramRun option = tarnwell({"--run", sqlFile("SELECT 1"), "--alias", kLocal, "--xls", "x"});
    EXPECT_EQ(option.exitCode, 2);
    EXPECT_TRUE(option.err.contains("unknown option '--xls'")) << option.err.toStdString();

    const ProgramRun missing = tarnwell({"--run", folder.filePath("missing.sql"), "--alias", kLocal});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_TRUE(missing.err.startsWith(QStringLiteral("無法開啟檔案 "))) << missing.err.toStdString();
    const ProgramRun blank = tarnwell({"--run", "-", "--alias", kLocal}, " \r\n\t");
    EXPECT_EQ(blank.exitCode, 2);
    EXPECT_TRUE(blank.err.contains("holds no SQL")) << blank.err.toStdString();

    const ProgramRun broken = tarnwell({"--run", sqlFile("SELECT 1"), "--alias", "BROKEN"});
    EXPECT_EQ(broken.exitCode, 1);
    EXPECT_TRUE(broken.err.startsWith(QStringLiteral("BDE_連線失敗: "))) << broken.err.toStdString();

    // A server that is not there, through a connection string.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    const ProgramRun unreachable =
        tarnwell({"--run", sqlFile("SELECT 1"), "--connection-string",
                  QStringLiteral("Provider=PostgreSQL.1;Data Source=127.0.0.1:%1/db;User ID=u").arg(port)},
                 {}, {"TARNWELL_PASSWORD=x"});
    EXPECT_EQ(unreachable.exitCode, 1);
    EXPECT_TRUE(unreachable.err.startsWith(QStringLiteral("ADO_連線失敗: "))) << unreachable.err.toStdString();
    EXPECT_TRUE(unreachable.err.contains("refused")) << unreachable.err.toStdString();

    // Nowhere to write: nothing is left, whatever the format.
    for (const char* format : {"--csv", "--xlsx", "--pdf"}) {
        const ProgramRun nowhere = tarnwell({"--run", sqlFile("SELECT * FROM mixed"), "--alias", kLocal, format,
                                      out("no/such/folder/result")});
        EXPECT_EQ(nowhere.exitCode, 1) << format;
        EXPECT_TRUE(nowhere.err.contains(out("no/such/folder"))) << format << ": " << nowhere.err.toStdString();
    }
    {
        Unwritable locked(folder.filePath(QStringLiteral("out")));
        if (locked.holds()) {
            const ProgramRun refused = tarnwell({"--run", sqlFile("SELECT * FROM mixed"), "--alias", kLocal, "--csv",
                                          out("locked.csv")});
            EXPECT_EQ(refused.exitCode, 1);
            EXPECT_TRUE(refused.err.startsWith(QStringLiteral("無法儲存檔案 "))) << refused.err.toStdString();
        }
    }
    EXPECT_EQ(leftInOut(), QStringList());
}

TEST_F(BatchRunTest, aWrongPasswordIsTheServersWords) {
    TARNWELL_REQUIRE_PG(server);
    const ProgramRun wrong = tarnwell(QStringList{"--run", sqlFile("SELECT 1")} + on(kPg), {}, {"TARNWELL_PASSWORD=wrong"});
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_TRUE(wrong.err.startsWith(QStringLiteral("BDE_連線失敗: "))) << wrong.err.toStdString();
    EXPECT_TRUE(wrong.err.contains("password authentication failed")) << wrong.err.toStdString();
    // Without a terminal nothing is asked, and no password is none.
    const ProgramRun none = tarnwell(QStringList{"--run", sqlFile("SELECT 1")} + on(kPg));
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_TRUE(none.err.startsWith(QStringLiteral("BDE_連線失敗: "))) << none.err.toStdString();
    // A connection string takes the password from the environment too.
    const ProgramRun string = tarnwell(
        {"--run", sqlFile("SELECT 40 + 2 AS answer"), "--connection-string",
         QString::fromStdString("Provider=PostgreSQL.1;Data Source=" + server.host + ":" + server.port + "/" +
                                server.database + ";User ID=" + server.user)},
        {}, passwordFor(kPg));
    EXPECT_EQ(string.exitCode, 0) << string.err.toStdString();
    EXPECT_EQ(string.out, "answer\r\n42\r\n");
}

TEST_F(BatchRunTest, aReportOfSomeRecordsStopsTheStatementRatherThanWaitingForIt) {
    TARNWELL_REQUIRE_PG(server);
    (void)server;
    // The first packets come at once (the filler fills the server's send
    // buffer past them); then each row would take an hour, which the next
    // packet, already asked for while the report is written, waits for.
    const QString slow = sqlFile(
        "SELECT g, repeat('x', 100) AS filler, CASE WHEN g > 2500 THEN pg_sleep(3600)::text END AS late "
        "FROM generate_series(1, 5000) g");
    const ProgramRun run = tarnwell(QStringList{"--run", slow} + on(kPg) +
                                        QStringList{"--pdf", out("first.pdf"), "--records", "3"},
                                    {}, passwordFor(kPg));
    EXPECT_EQ(run.status, QProcess::NormalExit);
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QString text = outputOf(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), out("first.pdf"), "-"});
    EXPECT_TRUE(text.contains(QStringLiteral("xxxxxxxx"))) << text.toStdString();
}

TEST_F(BatchRunTest, aMariaDbAliasRunsAndAReportOfSomeRecordsStopsItsStatement) {
    TARNWELL_REQUIRE_MARIADB(server);
    const QStringList login = {"--alias", kMaria, "--user", QString::fromStdString(server.user)};
    const QString password = QStringLiteral("TARNWELL_PASSWORD=") + QString::fromStdString(server.password);
    // As on PostgreSQL: the first packets come at once, then each row would
    // take an hour.
    const QString slow = sqlFile(
        "SELECT seq, repeat('x', 100) AS filler, IF(seq > 2500, SLEEP(3600), NULL) AS late FROM seq_1_to_5000");
    const ProgramRun run = tarnwell(QStringList{"--run", slow} + login + QStringList{"--pdf", out("first.pdf"), "--records", "3"},
                                    {}, {password});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QString text = outputOf(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), out("first.pdf"), "-"});
    EXPECT_TRUE(text.contains(QStringLiteral("xxxxxxxx"))) << text.toStdString();

    const ProgramRun wrong = tarnwell(QStringList{"--run", sqlFile("SELECT 1")} + login, {}, {"TARNWELL_PASSWORD=wrong"});
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_TRUE(wrong.err.startsWith(QStringLiteral("BDE_連線失敗: Access denied for user"))) << wrong.err.toStdString();
}

TEST_F(BatchRunTest, aFailureHalfWayKeepsTheExistingFileAndLeavesNothingElse) {
    // Row 5000 fails in the engine, after the first packets were written.
    const QString failing = sqlFile(
        "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 10000) "
        "SELECT n, CASE WHEN n = 5000 THEN abs(-9223372036854775807 - 1) ELSE n END AS v FROM c");
    for (const auto& [format, name] : {std::pair{"--csv", "kept.csv"}, {"--txt", "kept.txt"}, {"--xlsx", "kept.xlsx"},
                                       {"--pdf", "kept.pdf"}}) {
        keep(out(name), "the file of yesterday");
        const ProgramRun run = tarnwell({"--run", failing, "--alias", kLocal, format, out(name)});
        EXPECT_EQ(run.exitCode, 1) << format;
        EXPECT_EQ(run.err, QStringLiteral("BDE_查詢失敗: integer overflow\n")) << format;
        EXPECT_EQ(bytesOf(out(name)), "the file of yesterday") << format;
    }
    EXPECT_EQ(leftInOut(), (QStringList{"kept.csv", "kept.pdf", "kept.txt", "kept.xlsx"}));
}

TEST_F(BatchRunTest, aSpreadsheetTakesRowsUpToItsLimitAndNeverCutsSilently) {
    const auto records = [this](int count) {
        return sqlFile(QStringLiteral("WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < %1) "
                                      "SELECT n FROM c")
                           .arg(count));
    };
    const int most = XlsxSheet::kMaxRows - 2;  // the title row and the header row
    const ProgramRun full = tarnwell({"--run", records(most), "--alias", kLocal, "--xlsx", out("full.xlsx")});
    EXPECT_EQ(full.exitCode, 0) << full.err.toStdString();
    EXPECT_TRUE(QFile::exists(out("full.xlsx")));

    // On standard output, made in a temporary folder first: the message
    // names what the user named.
    const ProgramRun over = tarnwell({"--run", records(most + 1), "--alias", kLocal, "--xlsx", "-"});
    EXPECT_EQ(over.exitCode, 3);
    EXPECT_TRUE(over.err.contains(QString::number(most))) << over.err.toStdString();
    EXPECT_TRUE(over.err.trimmed().endsWith(QStringLiteral("未寫出 標準輸出"))) << over.err.toStdString();
    EXPECT_EQ(over.out, "");
    EXPECT_EQ(leftInOut(), QStringList{"full.xlsx"});
}

TEST_F(BatchRunTest, aStopBySignalLeavesNothingBehindAndEndsByTheSignal) {
    keep(out("endless.csv"), "kept");
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("tmp")));
    const QString temporary = folder.filePath(QStringLiteral("tmp"));
    const QString endless = QStringLiteral(
        "WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c) SELECT n, '繁體中文' FROM c");
    // A script's result is made in a private folder first.
    for (const QString& sql : {endless, QStringLiteral("SELECT 1;\n") + endless}) {
        const QStringList script = sql == endless ? QStringList() : QStringList{"--script"};
        QProcess process;
        process.setProcessEnvironment(programEnvironment({QStringLiteral("TMPDIR=") + temporary}));
        process.start(QStringLiteral(TARNWELL_BINARY),
                      QStringList{"--run", sqlFile(sql), "--alias", kLocal, "--csv", out("endless.csv")} + script);
        ASSERT_TRUE(process.waitForStarted(30000));
        // Once the program holds a file of the target's folder open (its
        // temporary file, which may have no name yet), the rows are being
        // written (a script's are about to be).
        const QString fds = QStringLiteral("/proc/%1/fd").arg(process.processId());
        const auto writing = [&] {
            for (const QFileInfo& fd : QDir(fds).entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
                if (fd.symLinkTarget().startsWith(folder.filePath(QStringLiteral("out/")))) {
                    return true;
                }
            }
            return false;
        };
        ASSERT_TRUE(waitUntil(writing, 60000));
        ::kill(static_cast<pid_t>(process.processId()), SIGINT);
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitStatus(), QProcess::CrashExit) << "ended by the signal, as the shell expects";
        EXPECT_EQ(process.readAllStandardError(), "");
        EXPECT_EQ(bytesOf(out("endless.csv")), "kept");
        EXPECT_EQ(leftInOut(), QStringList{"endless.csv"});
        EXPECT_EQ(QDir(temporary).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
    }
}

TEST_F(BatchRunTest, runsBesideARunningInstanceWithoutTouchingIt) {
    QTemporaryDir runtime;
    SingleInstance running({runtime.filePath(QStringLiteral("Tarnwell-%1").arg(::getuid())), false});
    ASSERT_TRUE(running.claim());
    QSignalSpy requests(&running, &SingleInstance::activationRequested);
    for (const char* format : {"--csv", "--pdf"}) {
        const ProgramRun run = tarnwell({"--run", sqlFile("SELECT id FROM mixed ORDER BY id"), "--alias", kLocal, format, "-"},
                                 {}, {QStringLiteral("XDG_RUNTIME_DIR=") + runtime.path()});
        EXPECT_EQ(run.exitCode, 0) << format << ": " << run.err.toStdString();
        EXPECT_FALSE(run.out.isEmpty()) << format;
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(requests.count(), 0) << "the running instance was not asked for anything";
}

// --- One statement, or a script ------------------------------------------------------

TEST_F(BatchRunTest, withoutScriptAFileIsOneStatementOnEveryEngine) {
    TARNWELL_REQUIRE_PG(server);
    (void)server;
    for (const char* alias : {kLocal, kPg}) {
        SCOPED_TRACE(alias);
        const auto batch = [&](const QString& sql) {
            return tarnwell(QStringList{"--run", sqlFile(sql)} + on(alias), {}, passwordFor(alias));
        };
        // Nothing runs: the table the second statement would drop is there.
        const ProgramRun two = batch(QStringLiteral("SELECT 1 AS a;\n\n-- then\nDROP TABLE mixed;\nSELECT 2 AS b"));
        EXPECT_EQ(two.exitCode, 2);
        EXPECT_EQ(two.out, "");
        EXPECT_TRUE(two.err.contains("holds 3 statements, the second from line 4")) << two.err.toStdString();
        EXPECT_TRUE(two.err.contains("--script runs them one by one")) << two.err.toStdString();

        const ProgramRun comments = batch(QStringLiteral("-- nothing;\n/* to run; */\n"));
        EXPECT_EQ(comments.exitCode, 2);
        EXPECT_TRUE(comments.err.contains("holds no SQL")) << comments.err.toStdString();

        // A semicolon ending the statement, or in a comment after it, ends nothing else.
        const ProgramRun one = batch(QStringLiteral("SELECT 'a;b' AS v; -- the end; really\n"));
        EXPECT_EQ(one.exitCode, 0) << one.err.toStdString();
        EXPECT_EQ(one.out, "v\r\na;b\r\n");
    }
    EXPECT_EQ(tarnwell({"--run", sqlFile("SELECT count(*) AS n FROM mixed"), "--alias", kLocal}).out, "n\r\n3\r\n")
        << "nothing ran";
    // The engine's own rules: a dollar quote holds a semicolon on PostgreSQL.
    const ProgramRun dollar = tarnwell(QStringList{"--run", sqlFile("SELECT $$a;b$$ AS v")} + on(kPg), {}, passwordFor(kPg));
    EXPECT_EQ(dollar.exitCode, 0) << dollar.err.toStdString();
    EXPECT_EQ(dollar.out, "v\r\na;b\r\n");
}

// The engines' own clients are the reference: the same script run by them
// and by the program, each on a table of its own, leaves the same rows, also
// when its third statement fails.
TEST_F(BatchRunTest, aScriptEndsAsTheEnginesOwnClientEndsIt) {
    TARNWELL_REQUIRE_PG(pg);
    TARNWELL_REQUIRE_MARIADB(maria);
    (void)pg;
    (void)maria;
    const QString suffix = QString::number(::getpid());
    for (const char* alias : {kLocal, kPg, kMaria}) {
        SCOPED_TRACE(alias);
        // A semicolon each engine's lexical rules hide.
        const QString trap = alias == std::string(kPg)      ? QStringLiteral("INSERT INTO {t} VALUES (3, $$dollar; quoted$$);")
                             : alias == std::string(kMaria) ? QStringLiteral("INSERT INTO {t} VALUES (3, 'back\\'slash; quote'); # hash; comment")
                                                            : QStringLiteral("INSERT INTO [{t}] VALUES (3, 'bracketed; name');");
        const QString setUp = QStringLiteral(
                                  "DROP TABLE IF EXISTS {t};\n"
                                  "CREATE TABLE {t} (n INTEGER, note VARCHAR(40));\n"
                                  "INSERT INTO {t} VALUES (1, 'semi;colon'); -- a comment; with a semicolon\n"
                                  "INSERT INTO {t} VALUES (2, 'it''s; quoted');\n") +
                              trap +
                              QStringLiteral("\nSELECT n, note FROM {t} ORDER BY n;\n"
                                             "UPDATE {t} SET n = n * 10 WHERE n = 2\n");
        const QString failing = QStringLiteral(
            "INSERT INTO {t} VALUES (4, 'fourth');\n"
            "INSERT INTO {t} VALUES (5, 'fifth');\n"
            "INSERT INTO {t}_missing VALUES (6, 'fails');\n"
            "INSERT INTO {t} VALUES (7, 'never');\n"
            "SELECT n FROM {t}\n");
        const QString reference = QStringLiteral("script_reference_") + suffix;
        const QString ours = QStringLiteral("script_ours_") + suffix;
        const auto rowsOf = [&](const QString& table) {
            return tarnwell(QStringList{"--run", sqlFile(QStringLiteral("SELECT n, note FROM %1 ORDER BY n").arg(table))} + on(alias),
                            {}, passwordFor(alias))
                .out;
        };
        const auto script = [&](const QString& text, const QString& output) {
            return tarnwell(QStringList{"--run", sqlFile(QString(text).replace("{t}", ours)), "--script"} + on(alias) +
                                QStringList{"--csv", output},
                            {}, passwordFor(alias));
        };

        const ProgramRun client = referenceClient(alias, sqlFile(QString(setUp).replace("{t}", reference)));
        EXPECT_EQ(client.exitCode, 0) << client.err.toStdString();
        const ProgramRun run = script(setUp, out("script.csv"));
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
        EXPECT_EQ(run.err, "") << "a script with a result is as quiet as a statement with one";
        const QByteArray third = alias == std::string(kPg)      ? "3,dollar; quoted"
                                 : alias == std::string(kMaria) ? "3,back'slash; quote"
                                                                : "3,bracketed; name";
        EXPECT_EQ(bytesOf(out("script.csv")), "n,note\r\n1,semi;colon\r\n2,it's; quoted\r\n" + third + "\r\n")
            << "the last result, read before the update after it";
        const QByteArray afterSetUp = rowsOf(ours);
        EXPECT_EQ(afterSetUp, rowsOf(reference));
        EXPECT_TRUE(afterSetUp.contains("\r\n20,it's; quoted\r\n")) << afterSetUp.toStdString();

        const QString failingFile = sqlFile(QString(failing).replace("{t}", reference));
        const ProgramRun clientFails = referenceClient(alias, failingFile);
        EXPECT_NE(clientFails.exitCode, 0);
        keep(out("kept.csv"), "the file of yesterday");
        const QString ourFailingFile = sqlFile(QString(failing).replace("{t}", ours));
        const ProgramRun fails = tarnwell(QStringList{"--run", ourFailingFile, "--script"} + on(alias) +
                                              QStringList{"--csv", out("kept.csv")},
                                          {}, passwordFor(alias));
        EXPECT_EQ(fails.exitCode, 1);
        EXPECT_TRUE(fails.err.startsWith(ourFailingFile + QStringLiteral(":3: "))) << fails.err.toStdString();
        EXPECT_TRUE(fails.err.contains(ours + QStringLiteral("_missing"))) << "the engine's words: " << fails.err.toStdString();
        EXPECT_EQ(bytesOf(out("kept.csv")), "the file of yesterday");
        const QByteArray afterFailure = rowsOf(ours);
        EXPECT_EQ(afterFailure, rowsOf(reference));
        EXPECT_TRUE(afterFailure.contains("\r\n4,fourth\r\n5,fifth\r\n")) << afterFailure.toStdString();
        EXPECT_FALSE(afterFailure.contains("never"));
    }
    EXPECT_EQ(leftInOut(), (QStringList{"kept.csv", "script.csv"}));

    // A connection that dies half-way stops the script at that statement.
    const QString ours = QStringLiteral("script_ours_") + suffix;
    const QString dies = sqlFile(QStringLiteral("INSERT INTO %1 VALUES (8, 'before');\n"
                                                "SELECT pg_terminate_backend(pg_backend_pid());\n"
                                                "INSERT INTO %1 VALUES (9, 'after')")
                                     .arg(ours));
    const ProgramRun died = tarnwell(QStringList{"--run", dies, "--script"} + on(kPg), {}, passwordFor(kPg));
    EXPECT_EQ(died.exitCode, 1);
    EXPECT_TRUE(died.err.startsWith(dies + QStringLiteral(":2: "))) << died.err.toStdString();
    const QByteArray rows =
        tarnwell(QStringList{"--run", sqlFile("SELECT note FROM " + ours)} + on(kPg), {}, passwordFor(kPg)).out;
    EXPECT_TRUE(rows.contains("before") && !rows.contains("after")) << rows.toStdString();
}

TEST_F(BatchRunTest, aScriptFromStandardInputCountsItsChangesAndNamesItsLines) {
    const ProgramRun changes =
        tarnwell({"--run", "-", "--alias", kLocal, "--script", "--csv", out("none.csv")},
                 "UPDATE mixed SET code = code WHERE id < 3;\nCREATE TABLE more (n INTEGER);\nDELETE FROM mixed WHERE id = 3");
    EXPECT_EQ(changes.exitCode, 0) << changes.err.toStdString();
    const QStringList lines = changes.err.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << changes.err.toStdString();
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("執行起始：")));
    EXPECT_EQ(lines[2], QStringLiteral("共 3 被異動")) << "the rows of every statement, as a text of several counts them";
    EXPECT_EQ(leftInOut(), QStringList()) << "no result, no file";

    // The last result is written, on standard output too, only once the script ran to its end.
    const ProgramRun last = tarnwell({"--run", "-", "--alias", kLocal, "--script", "--xlsx", "-"},
                                     "SELECT 1 AS first;\nSELECT id FROM mixed;\nINSERT INTO more SELECT 1;\n");
    EXPECT_EQ(last.exitCode, 0) << last.err.toStdString();
    keep(out("last.xlsx"), last.out);
    EXPECT_EQ(readXlsx(out("last.xlsx"))["cells"].toObject()["A2"].toObject()["value"].toString(), "id");
    const ProgramRun stopped = tarnwell({"--run", "-", "--alias", kLocal, "--script"},
                                        "SELECT id FROM mixed;\n\n  SELEC 2;\nDROP TABLE mixed");
    EXPECT_EQ(stopped.exitCode, 1);
    EXPECT_EQ(stopped.err, QStringLiteral("<stdin>:3: near \"SELEC\": syntax error\n"));
    EXPECT_EQ(stopped.out, "") << "nothing written";
    // A result that a later one replaces need not have the fields of the report.
    const ProgramRun fields = tarnwell({"--run", "-", "--alias", kLocal, "--script", "--pdf", out("b.pdf"), "--fields", "b"},
                                       "SELECT 1 AS a;\nSELECT 2 AS b");
    EXPECT_EQ(fields.exitCode, 0) << fields.err.toStdString();
    const ProgramRun lacking = tarnwell({"--run", "-", "--alias", kLocal, "--script", "--pdf", out("a.pdf"), "--fields", "b"},
                                        "SELECT 2 AS b;\nSELECT 1 AS a");
    EXPECT_EQ(lacking.exitCode, 2);
    EXPECT_TRUE(lacking.err.contains("no field 'b'")) << lacking.err.toStdString();
    // A target that cannot be replaced, and a NUL, are refused before anything runs.
    ASSERT_EQ(::mkfifo(QFile::encodeName(out("pipe")).constData(), 0600), 0);
    const ProgramRun pipe = tarnwell({"--run", "-", "--alias", kLocal, "--script", "--csv", out("pipe")},
                                     "DROP TABLE more;\nSELECT 1");
    EXPECT_EQ(pipe.exitCode, 1);
    EXPECT_TRUE(pipe.err.startsWith(QStringLiteral("無法儲存檔案 "))) << pipe.err.toStdString();
    EXPECT_EQ(leftInOut(), (QStringList{"b.pdf", "last.xlsx", "pipe"}));
    const ProgramRun nul = tarnwell({"--run", "-", "--alias", kLocal, "--script"},
                                    QByteArray("DROP TABLE more;\nSELECT 1") + '\0' + QByteArray(" AS x"));
    EXPECT_EQ(nul.exitCode, 1);
    EXPECT_TRUE(nul.err.startsWith(QStringLiteral("<stdin>:2: SQL 語法的第 9 個字是 NUL 字元"))) << nul.err.toStdString();
    EXPECT_EQ(tarnwell({"--run", "-", "--alias", kLocal}, "SELECT count(*) AS n FROM more").out, "n\r\n1\r\n");
}

// --- Targets that are not what they seem ----------------------------------------

mode_t modeOf(const QString& path) {
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode : 0;
}

TEST_F(BatchRunTest, everyFormatRefusesADeviceAPipeOrAReadOnlyFileAndKeepsAReplacedFilesMode) {
    ASSERT_EQ(::mkfifo(QFile::encodeName(out("pipe")).constData(), 0600), 0);
    // A device as /dev/null is one, where the system lets the test make one.
    const bool device = ::mknod(QFile::encodeName(out("null")).constData(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    keep(out("read-only"), "old");
    ASSERT_EQ(::chmod(QFile::encodeName(out("read-only")).constData(), 0444), 0);
    const QString file = sqlFile("SELECT * FROM mixed ORDER BY id");
    for (const char* format : {"--csv", "--txt", "--xlsx", "--pdf"}) {
        QStringList targets{"pipe"};
        if (device) {
            targets << "null";
        }
        if (format == std::string("--xlsx") || format == std::string("--pdf")) {
            targets << "read-only";
        }
        for (const QString& target : targets) {
            const ProgramRun refused = tarnwell({"--run", file, "--alias", kLocal, format, out(target)});
            EXPECT_EQ(refused.exitCode, 1) << format << " " << target.toStdString();
            EXPECT_TRUE(refused.err.startsWith(QStringLiteral("無法儲存檔案 \"%1\": ").arg(out(target))))
                << format << ": " << refused.err.toStdString();
        }
    }
    EXPECT_TRUE(S_ISFIFO(modeOf(out("pipe"))));
    EXPECT_EQ(bytesOf(out("read-only")), "old");
    if (device) {
        EXPECT_TRUE(S_ISCHR(modeOf(out("null"))));
    }

    for (const char* format : {"--xlsx", "--pdf"}) {
        keep(out("mine"), "old");
        ASSERT_EQ(::chmod(QFile::encodeName(out("mine")).constData(), 0600), 0);
        const ProgramRun replaced = tarnwell({"--run", file, "--alias", kLocal, format, out("mine")});
        EXPECT_EQ(replaced.exitCode, 0) << format << ": " << replaced.err.toStdString();
        EXPECT_NE(bytesOf(out("mine")), "old") << format;
        EXPECT_EQ(modeOf(out("mine")) & 07777, 0600u) << format;
    }
    QStringList expected{"mine", "pipe", "read-only"};
    if (device) {
        expected.insert(1, "null");
    }
    EXPECT_EQ(leftInOut(), expected);
}

TEST_F(BatchRunTest, twoRunsOntoOneTargetBothWriteAWholeSheetAndFollowNoPlantedLink) {
    keep(out("victim"), "not yours");
    // Where the spreadsheet used to be written before it took its name.
    ASSERT_TRUE(QFile::link(out("victim"), out("both.xlsx.part")));
    const QStringList arguments{"--run", sqlFile("SELECT * FROM mixed ORDER BY id"), "--alias", kLocal, "--xlsx",
                                out("both.xlsx")};
    QProcess first;
    QProcess second;
    for (QProcess* process : {&first, &second}) {
        process->setProcessEnvironment(programEnvironment({}));
        process->start(QStringLiteral(TARNWELL_BINARY), arguments);
    }
    for (QProcess* process : {&first, &second}) {
        const ProgramRun run = finished(*process, arguments);
        EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    }
    EXPECT_EQ(readXlsx(out("both.xlsx"))["max_row"].toInt(), 5) << "a whole workbook";
    EXPECT_TRUE(S_ISREG(modeOf(out("both.xlsx"))));
    EXPECT_EQ(bytesOf(out("victim")), "not yours");
    EXPECT_EQ(leftInOut(), (QStringList{"both.xlsx", "both.xlsx.part", "victim"}));
}

// The signal comes while the library zips the workbook, after the last row:
// the process is held still while the zip is being written and signalled
// then, so the stop certainly comes before the file could take its place.
TEST_F(BatchRunTest, aSignalWhileTheSpreadsheetIsFinishedKeepsTheOldFile) {
    keep(out("sheet.xlsx"), "the file of yesterday");
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("tmp")));
    const QString temporary = folder.filePath(QStringLiteral("tmp"));
    QProcess process;
    process.setProcessEnvironment(programEnvironment({QStringLiteral("TMPDIR=") + temporary}));
    process.start(QStringLiteral(TARNWELL_BINARY),
                  {"--run",
                   sqlFile("WITH RECURSIVE c(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM c WHERE n < 100000) "
                           "SELECT n, 'row ' || n AS label, n * 0.5 AS half FROM c"),
                   "--alias", kLocal, "--xlsx", out("sheet.xlsx")});
    ASSERT_TRUE(process.waitForStarted(30000));
    const auto pid = static_cast<pid_t>(process.processId());
    // The library's workbook exists in the run's private folder from the
    // start of the zip until it has been copied into the target's place.
    const auto zipping = [&] {
        for (const QFileInfo& made : QDir(temporary).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            if (QFile::exists(made.filePath() + QStringLiteral("/workbook.xlsx"))) {
                return true;
            }
        }
        return false;
    };
    ASSERT_TRUE(waitUntil(zipping, 120000));
    ::kill(pid, SIGSTOP);
    const auto stopped = [&] {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        return stat.open(QIODevice::ReadOnly) && stat.readAll().split(' ').value(2) == "T";
    };
    ASSERT_TRUE(waitUntil(stopped, 30000));
    const bool stillZipping = zipping();
    ::kill(pid, SIGTERM);
    ::kill(pid, SIGCONT);
    ASSERT_TRUE(stillZipping) << "held still after the zip: the workbook was finished too soon to test the stop";
    ASSERT_TRUE(process.waitForFinished(120000));
    EXPECT_EQ(process.exitStatus(), QProcess::CrashExit) << "ended by the signal";
    EXPECT_EQ(bytesOf(out("sheet.xlsx")), "the file of yesterday");
    EXPECT_EQ(leftInOut(), QStringList{"sheet.xlsx"});
    EXPECT_EQ(QDir(temporary).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

TEST_F(BatchRunTest, aStalledServerStillLetsASignalEndTheRun) {
    TARNWELL_REQUIRE_PG(server);
    (void)server;
    keep(out("stalled.csv"), "kept");
    const QString marker = QStringLiteral("stalled_run_%1").arg(::getpid());
    QProcess process;
    process.setProcessEnvironment(programEnvironment(passwordFor(kPg)));
    process.start(QStringLiteral(TARNWELL_BINARY),
                  QStringList{"--run",
                              sqlFile(QStringLiteral("SELECT g AS %1, repeat('x', 200), pg_sleep(0.001) "
                                                     "FROM generate_series(1, 1000000) g")
                                          .arg(marker))} +
                      on(kPg) + QStringList{"--csv", out("stalled.csv")});
    ASSERT_TRUE(process.waitForStarted(30000));
    qint64 backend = 0;
    ASSERT_TRUE(waitUntil([&] { return (backend = backendRunning(marker)) != 0; }, 60000));
    // The server's process for the run stops answering, whatever else
    // happens to the test.
    ::kill(static_cast<pid_t>(backend), SIGSTOP);
    const auto resume = qScopeGuard([backend] { ::kill(static_cast<pid_t>(backend), SIGCONT); });
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    EXPECT_TRUE(process.waitForFinished(30000)) << "a stalled server held the run after SIGTERM";
    EXPECT_EQ(process.exitStatus(), QProcess::CrashExit) << "ended by the signal";
    EXPECT_EQ(bytesOf(out("stalled.csv")), "kept");
    EXPECT_EQ(leftInOut(), QStringList{"stalled.csv"});
}

// --- NUL characters, empty results, closed streams ----------------------------------

TEST_F(BatchRunTest, aNulInTheSqlIsRefusedAndANulInAValueShowsInTheSheet) {
    const ProgramRun nul =
        tarnwell({"--run", "-", "--alias", kLocal}, QByteArray("SELECT 1") + '\0' + QByteArray("; DELETE FROM mixed"));
    EXPECT_EQ(nul.exitCode, 1);
    EXPECT_TRUE(nul.err.startsWith(QStringLiteral("BDE_查詢失敗: SQL 語法的第 9 個字是 NUL 字元"))) << nul.err.toStdString();
    EXPECT_EQ(nul.out, "");

    const QString value = sqlFile("SELECT 'a' || char(0) || 'b' AS v");
    const ProgramRun csv = tarnwell({"--run", value, "--alias", kLocal});
    EXPECT_EQ(csv.out, QByteArray("v\r\na") + '\0' + QByteArray("b\r\n")) << "the value's bytes, as the grid holds them";
    const ProgramRun xlsx = tarnwell({"--run", value, "--alias", kLocal, "--xlsx", out("nul.xlsx")});
    ASSERT_EQ(xlsx.exitCode, 0) << xlsx.err.toStdString();
    const QJsonObject cell = readXlsx(out("nul.xlsx"))["cells"].toObject()["A3"].toObject();
    EXPECT_EQ(cell["value"].toString(), QStringLiteral("a\uFFFDb")) << "not cut at the NUL";
}

TEST_F(BatchRunTest, aResultOfNoFieldsMakesAnEmptySheet) {
    TARNWELL_REQUIRE_PG(server);
    (void)server;
    useDatabase(kPg);
    const ProgramRun run = tarnwell(QStringList{"--run", sqlFile("SELECT FROM batch_mixed")} + on(kPg) +
                                        QStringList{"--xlsx", out("none.xlsx")},
                                    {}, passwordFor(kPg));
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_TRUE(readXlsx(out("none.xlsx"))["cells"].toObject().isEmpty());
}

TEST_F(BatchRunTest, aClosedStandardOutputIsNoPlaceForTheResultNorForAFile) {
    const QString file = sqlFile("SELECT id FROM mixed ORDER BY id");
    const auto withOutputClosed = [this](const QStringList& arguments) {
        QProcess process;
        process.setProcessEnvironment(programEnvironment({}));
        process.start(QStringLiteral("/bin/sh"),
                      QStringList{"-c", "exec \"$0\" \"$@\" >&-", QStringLiteral(TARNWELL_BINARY)} + arguments);
        return finished(process, arguments);
    };
    const ProgramRun toOutput = withOutputClosed({"--run", file, "--alias", kLocal});
    EXPECT_EQ(toOutput.exitCode, 1);
    EXPECT_TRUE(toOutput.err.contains(QStringLiteral("標準輸出"))) << toOutput.err.toStdString();

    const ProgramRun toFile = withOutputClosed({"--run", file, "--alias", kLocal, "--csv", out("ids.csv")});
    EXPECT_EQ(toFile.exitCode, 0) << toFile.err.toStdString();
    EXPECT_EQ(bytesOf(out("ids.csv")), "id\r\n1\r\n2\r\n3\r\n");
}

}  // namespace
}  // namespace tarnwell::test
