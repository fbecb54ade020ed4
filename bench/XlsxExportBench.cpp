// tarnwell-bench --export, the spreadsheet part: see XlsxExportBench.h.
#include "XlsxExportBench.h"

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <xlsxwriter.h>

#include "BenchWindows.h"
#include "dataaccess/ClientDataSet.h"
#include "dataaccess/Database.h"
#include "dataaccess/FieldKind.h"
#include "dataaccess/Query.h"
#include "dataaccess/Session.h"
#include "dataaccess/sqlite/SqliteConnection.h"
#include "output/Feedback.h"
#include "output/XlsxSheet.h"
#include "query/SpreadsheetExport.h"
#include "ui/Prompt.h"

namespace tarnwell::bench {

namespace {

constexpr int kRows = 65535;

void createTable(const std::string& path) {
    note("creating an SQLite table of " + std::to_string(kRows) + " rows of 10 columns in " + path);
    db::SqliteSettings settings;
    settings.path = path;
    settings.createIfMissing = true;
    auto connection = db::openSqlite(settings);
    connection->execute(
        "CREATE TABLE t (id INTEGER, qty SMALLINT, price REAL, amount NUMERIC(12,2), code VARCHAR(10), "
        "name VARCHAR(40), note TEXT, day DATE, stamp TIMESTAMP, flag BOOLEAN)");
    connection->execute(
        "INSERT INTO t WITH RECURSIVE g(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM g WHERE n < " +
        std::to_string(kRows) +
        ") SELECT n, n % 1000, n * 1.25, (n * 137) % 100000000 / 100.0, printf('%07d', n), "
        "'name-' || printf('%08x', n * 2654435761 % 4294967296), '說明文字 ' || n, "
        "date(1577836800 + n * 3600, 'unixepoch'), datetime(1577836800 + n * 17, 'unixepoch'), n % 3 = 0 FROM g");
}

// A query window's result: every row of the statement fetched into a client
// dataset through the alias engine.
class FetchedResult {
public:
    FetchedResult(const QTemporaryDir& scratch, const std::string& database, const std::string& sql) {
        const std::string aliasFile = scratch.filePath("bench.conf").toStdString();
        std::ofstream(aliasFile) << "[BENCH]\nTYPE=SQLITE\nPATH=" << database << "\n";
        session_ = std::make_unique<db::Session>(db::SessionConfig{aliasFile, "", false});
        database_ = std::make_unique<db::Database>(*session_, "BDE_SQL_1");
        database_->setAliasName("BENCH");
        database_->open();
        query_ = std::make_unique<db::Query>(*session_);
        query_->setDatabaseName("BDE_SQL_1");
        query_->setSql(sql);
        query_->open();
        provider_.setDataSet(query_.get());
        dataSet_.setProvider(&provider_);
        dataSet_.setPacketRecords(db::ClientDataSet::kAllRecords);
        dataSet_.open();
    }

    db::ClientDataSet& dataSet() { return dataSet_; }

private:
    std::unique_ptr<db::Session> session_;
    std::unique_ptr<db::Database> database_;
    std::unique_ptr<db::Query> query_;
    db::DataSetProvider provider_;
    db::ClientDataSet dataSet_;
};

// Every workbook goes to the same file, written anew each time.
class FileServer final : public SpreadsheetServer {
public:
    explicit FileServer(QString path) : path_(std::move(path)) {}
    std::unique_ptr<SpreadsheetApplication> create() override {
        QFile::remove(path_);
        return std::make_unique<XlsxSheet>(path_, XlsxSheet::Options{QLocale::system(), {}});
    }

private:
    QString path_;
};

double exportSeconds(db::ClientDataSet& dataSet) {
    NoFeedback nobody;
    const Clock::time_point start = Clock::now();
    exportToSpreadsheet(dataSet, nobody);
    return secondsSince(start);
}

// --- libxlsxwriter alone ----------------------------------------------------------

struct LibraryCell {
    std::string text;
    double number = 0;
    bool isNumber = false;
};

struct LibrarySheet {
    std::vector<std::string> header;
    std::vector<std::vector<LibraryCell>> rows;
};

// The values the export writes, decided ahead as it decides them.
LibrarySheet libraryValues(const db::ClientDataSet& dataSet) {
    using K = db::FieldKind;
    LibrarySheet sheet;
    const QLocale locale = QLocale::system();
    for (const db::Field& field : dataSet.fields()) {
        sheet.header.push_back(field.fullName);
    }
    for (std::size_t r = 0; r < dataSet.recordCount(); ++r) {
        std::vector<LibraryCell>& row = sheet.rows.emplace_back();
        for (std::size_t c = 0; c < dataSet.fieldCount(); ++c) {
            const K kind = dataSet.field(c).dataType;
            const QString text = dataSet.text(r, c);
            LibraryCell& cell = row.emplace_back();
            bool ok = false;
            if (kind == K::Smallint || kind == K::Integer || kind == K::Word || kind == K::Float ||
                kind == K::Currency) {
                cell.number = locale.toDouble(text, &ok);
            }
            cell.isNumber = ok;
            cell.text = text.toStdString();
        }
    }
    return sheet;
}

double librarySeconds(const LibrarySheet& sheet, const std::string& path) {
    std::remove(path.c_str());
    const Clock::time_point start = Clock::now();
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    lxw_workbook* book = workbook_new_opt(path.c_str(), &options);
    lxw_worksheet* ws = workbook_add_worksheet(book, nullptr);
    worksheet_set_landscape(ws);
    lxw_format* title = workbook_add_format(book);
    format_set_font_name(title, "標楷體");
    format_set_font_size(title, 18);
    format_set_num_format(title, "@");
    format_set_align(title, LXW_ALIGN_CENTER);
    lxw_format* number = workbook_add_format(book);
    format_set_font_name(number, "標楷體");
    format_set_font_size(number, 12);
    format_set_align(number, LXW_ALIGN_RIGHT);
    format_set_border(number, LXW_BORDER_THIN);
    lxw_format* text = workbook_add_format(book);
    format_set_font_name(text, "標楷體");
    format_set_font_size(text, 12);
    format_set_align(text, LXW_ALIGN_RIGHT);
    format_set_border(text, LXW_BORDER_THIN);
    format_set_num_format(text, "@");
    const auto columns = static_cast<lxw_col_t>(sheet.header.size());
    worksheet_merge_range(ws, 0, 0, 0, columns - 1, "", title);
    for (lxw_col_t c = 0; c < columns; ++c) {
        worksheet_write_string(ws, 1, c, sheet.header[c].c_str(), number);
    }
    lxw_row_t r = 2;
    for (const std::vector<LibraryCell>& row : sheet.rows) {
        for (lxw_col_t c = 0; c < columns; ++c) {
            const LibraryCell& cell = row[c];
            if (cell.isNumber) {
                worksheet_write_number(ws, r, c, cell.number, number);
            } else if (cell.text.empty()) {
                worksheet_write_blank(ws, r, c, text);
            } else {
                worksheet_write_string(ws, r, c, cell.text.c_str(), text);
            }
        }
        ++r;
    }
    for (lxw_col_t c = 0; c < columns; ++c) {
        worksheet_set_column(ws, c, c, 14, nullptr);
    }
    if (workbook_close(book) != LXW_NO_ERROR) {
        throw std::runtime_error("libxlsxwriter could not write " + path);
    }
    return secondsSince(start);
}

// --- Memory ---------------------------------------------------------------------------

double statusMegabytes(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0) {
            return std::stod(line.substr(prefix.size())) * 1024 / 1e6;
        }
    }
    throw std::runtime_error(std::string("no ") + key + " in /proc/self/status");
}

void measureExtraMemory(const QTemporaryDir& scratch, const std::string& database, int rows) {
    BenchPrompt prompter({QStringLiteral("存檔完成")});
    FileServer server(scratch.filePath("rss.xlsx"));
    SpreadsheetServerOverride toFile(server);
    FetchedResult result(scratch, database, "SELECT * FROM t LIMIT " + std::to_string(rows));
    const double before = statusMegabytes("VmRSS");
    // The peak from here on: the kernel starts the high-water mark afresh.
    std::ofstream("/proc/self/clear_refs") << "5";
    exportSeconds(result.dataSet());
    const double peak = statusMegabytes("VmHWM");
    report("export.xlsx_extra_rss_mb_at_" + std::to_string(rows), peak - before, "MB");
    if (prompter.failed()) {
        throw std::runtime_error("the export failed");
    }
}

}  // namespace

int runXlsxExportBench(const Options& options) {
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        note("cannot make a temporary directory");
        return 1;
    }
    const std::string database = scratch.filePath("export.db").toStdString();
    createTable(database);
    int failures = 0;
    failures += runInFreshProcess([&] {
        BenchPrompt prompter({QStringLiteral("存檔完成")});
        FileServer server(scratch.filePath("export.xlsx"));
        SpreadsheetServerOverride toFile(server);
        FetchedResult result(scratch, database, "SELECT * FROM t");
        const LibrarySheet values = libraryValues(result.dataSet());
        const std::string path = scratch.filePath("library.xlsx").toStdString();
        // Turn about, so that a change in the machine's load falls on both.
        std::vector<double> ours;
        std::vector<double> theirs;
        for (int run = 0; run < options.repetitions; ++run) {
            ours.push_back(exportSeconds(result.dataSet()));
            theirs.push_back(librarySeconds(values, path));
        }
        if (prompter.failed()) {
            throw std::runtime_error("the export failed");
        }
        const double tarnwell = median(ours);
        const double library = median(theirs);
        report("export.xlsx_rows_per_s", kRows / tarnwell, "rows/s");
        report("export.xlsx_library_rows_per_s", kRows / library, "rows/s");
        report("export.xlsx_share_of_library", library / tarnwell, "");
    });
    for (const int rows : {10000, kRows}) {
        failures += runInFreshProcess([&] { measureExtraMemory(scratch, database, rows); });
    }
    return failures == 0 ? 0 : 1;
}

}  // namespace tarnwell::bench
