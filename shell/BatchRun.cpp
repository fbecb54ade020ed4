#include "shell/BatchRun.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <termios.h>
#include <thread>
#include <utility>
#include <unistd.h>

#include "dataaccess/AdoConnection.h"
#include "dataaccess/ClientDataSet.h"
#include "dataaccess/Connection.h"
#include "dataaccess/ConnectionString.h"
#include "dataaccess/Database.h"
#include "dataaccess/DbError.h"
#include "dataaccess/Query.h"
#include "dataaccess/RowStore.h"
#include "dataaccess/Session.h"
#include "dataaccess/TextTools.h"
#include "dataaccess/ValueText.h"
#include "output/DelimitedTextWriter.h"
#include "output/ResultSheet.h"
#include "output/TextFile.h"
#include "output/XlsxSheet.h"
#include "query/SqlFile.h"
#include "query/UQueryThread.h"
#include "report/ReportDefinition.h"
#include "report/ReportEngine.h"
#include "report/ReportListing.h"
#include "session/Workspace.h"
#include "shell/StandardStreams.h"
#include "shell/TerminalProgress.h"
#include "ui/Fonts.h"
#include "ui/FormFont.h"

namespace tarnwell {

namespace {

using Format = BatchOptions::Format;

// Rows fetched at a time: enough that a fetch costs little per row, few
// enough that the packet is nothing beside the process itself.
constexpr std::size_t kPacketRows = 2000;

// The local name of the batch run's database in the alias engine's session.
constexpr const char* kDatabaseName = "BDE_BATCH";

const QString kStandardOutput = QStringLiteral("標準輸出");
const QString kStandardInput = QStringLiteral("-");

// The print window's font, which its report's title and lines start with.
QFont printWindowFont() { return pixelFont("細明體", 13); }

// A run that ends before its end: the exit status and the words for standard
// error.
struct BatchStop {
    int exitCode;
    QString message;
};

BatchStop usageStop(const QString& message) {
    return {kBatchUsage, QStringLiteral("tarnwell: %1").arg(message)};
}

void printLine(const QString& text) {
    std::fputs((text + u'\n').toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

QString engineWords(const std::exception& error) { return QString::fromUtf8(error.what()); }

// --- Stops by signal --------------------------------------------------------------

// SIGINT, SIGTERM and SIGHUP are taken by a thread of their own rather than
// ending the process at once: once a file is being written, the signal stops
// the work (the statement in the engine too), the files in the making go, and
// then the process ends by the signal, as the shell expects. Before anything
// is written there is nothing to clean up, and the signal ends the process at
// once (a login that waits for an unreachable server, say).
class StopSignals {
public:
    StopSignals() {
        sigemptyset(&watched_);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, kWakeSignal}) {
            sigaddset(&watched_, signal);
        }
        // Made before any other thread, which all inherit the mask.
        pthread_sigmask(SIG_BLOCK, &watched_, &previousMask_);
        watcher_ = std::thread([this] { watch(); });
    }

    ~StopSignals() {
        done_ = true;
        pthread_kill(watcher_.native_handle(), kWakeSignal);
        watcher_.join();
        pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
    }

    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // What stops the running statement, called again and again from the
    // watcher after a signal until the work has ended, and what cuts its
    // connection once the engine has had db::kCancelGrace to answer.
    void setCancel(std::function<void()> cancel, std::function<void()> cut) {
        std::lock_guard lock(mutex_);
        cancel_ = std::move(cancel);
        cut_ = std::move(cut);
    }
    // While set, a signal asks the work to stop instead of ending the
    // process.
    void setCleanupPending(bool pending) { cleanupPending_ = pending; }
    // The terminal settings to put back when a signal ends the process.
    void setTerminalToRestore(const termios* settings) {
        std::lock_guard lock(mutex_);
        terminal_ = settings != nullptr ? std::optional<termios>(*settings) : std::nullopt;
    }

    // A signal sent but not yet taken by the watcher counts too, so that the
    // last check before a file replaces its target never misses one that
    // came before it.
    bool stopRequested() const {
        if (received_ != 0 || pendingSeen_ != 0) {
            return true;
        }
        sigset_t pending;
        if (sigpending(&pending) == 0) {
            for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
                if (sigismember(&pending, signal) == 1) {
                    pendingSeen_ = signal;
                    return true;
                }
            }
        }
        return false;
    }

    // Ends the process by the signal received, if any.
    void endIfStopped() {
        if (const int signal = received_ != 0 ? received_.load() : pendingSeen_.load()) {
            endBy(signal);
        }
    }

private:
    // Wakes the watcher for the end; never sent from outside.
    static constexpr int kWakeSignal = SIGUSR2;

    void watch() {
        int signal = 0;
        while (!done_) {
            if (sigwait(&watched_, &signal) != 0 || done_ || signal == kWakeSignal) {
                continue;
            }
            received_ = signal;
            if (!cleanupPending_) {
                endBy(signal);
            }
            // A cancel that reaches the engine before the statement does is
            // missed: it is repeated until the work has ended. A server that
            // does not answer it (a stalled backend) would hold the work for
            // ever: its connection is cut.
            const auto cutAt = std::chrono::steady_clock::now() + db::kCancelGrace;
            const timespec pause{0, 20'000'000};
            while (!done_) {
                {
                    std::lock_guard lock(mutex_);
                    if (cancel_) {
                        cancel_();
                    }
                    if (cut_ && std::chrono::steady_clock::now() >= cutAt) {
                        cut_();
                    }
                }
                sigtimedwait(&watched_, nullptr, &pause);
            }
        }
    }

    [[noreturn]] void endBy(int signal) {
        {
            std::lock_guard lock(mutex_);
            if (terminal_) {
                tcsetattr(STDIN_FILENO, TCSANOW, &*terminal_);
                std::fputs("\n", stderr);
            }
        }
        std::signal(signal, SIG_DFL);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, signal);
        pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
        raise(signal);
        std::_Exit(128 + signal);
    }

    sigset_t watched_{};
    sigset_t previousMask_{};
    std::thread watcher_;
    std::atomic<bool> done_{false};
    std::atomic<bool> cleanupPending_{false};
    std::atomic<int> received_{0};
    mutable std::atomic<int> pendingSeen_{0};
    std::mutex mutex_;
    std::function<void()> cancel_;
    std::function<void()> cut_;
    std::optional<termios> terminal_;
};

// --- Reading the SQL and the password ------------------------------------------------------

QByteArray readAllOf(int descriptor) {
    QByteArray bytes;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t count = ::read(descriptor, buffer, sizeof buffer);
        if (count == 0) {
            return bytes;
        }
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw openError(kStandardInput, systemMessage(errno));
        }
        bytes.append(buffer, count);
    }
}

// The statement as a query window runs it: the file's text as the memo holds
// it, one "\n" between lines. A file is read at once, so that a missing one
// is reported before a password is asked; standard input afterwards, as the
// password may come from the same terminal.
class StatementText {
public:
    explicit StatementText(const QString& file) : file_(file) {
        if (file != kStandardInput) {
            text_ = memoText(loadSqlFile(file));
        }
    }
    QString text() {
        if (!text_) {
            text_ = memoText(sqlTextFromBytes(readAllOf(STDIN_FILENO)));
        }
        if (db::trimBlanks(text_->toStdString()).empty()) {
            throw usageStop(QStringLiteral("'%1' holds no SQL to run").arg(file_));
        }
        return *text_;
    }

private:
    static QString memoText(QString text) { return text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")); }

    QString file_;
    std::optional<QString> text_;
};

// Asks on the terminal, without echo; blanks at the ends are dropped, as the
// login dialog drops them.
QString askPassword(const QString& question, StopSignals& stops) {
    std::fputs(question.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    termios original{};
    const bool quiet = tcgetattr(STDIN_FILENO, &original) == 0;
    if (quiet) {
        termios silent = original;
        silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        stops.setTerminalToRestore(&original);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    }
    QByteArray line;
    char c = 0;
    for (;;) {
        const ssize_t count = ::read(STDIN_FILENO, &c, 1);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0 || c == '\n') {
            break;
        }
        line.append(c);
    }
    if (quiet) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &original);
        stops.setTerminalToRestore(nullptr);
    }
    std::fputs("\n", stderr);
    return QString::fromLocal8Bit(line).trimmed();
}

// TARNWELL_PASSWORD when it is set, even empty.
std::optional<QString> passwordFromEnvironment() {
    if (!qEnvironmentVariableIsSet("TARNWELL_PASSWORD")) {
        return std::nullopt;
    }
    return qEnvironmentVariable("TARNWELL_PASSWORD");
}

bool canAsk() { return ::isatty(STDIN_FILENO) == 1; }

// --- Reading the result ----------------------------------------------------------------------

// The records of an open result, packet by packet: only the packet being
// written and the next one are held, so memory does not grow with the
// result. The next packet is fetched on a thread of its own while the one
// held is written, so that the engine's reading and the file's writing
// overlap; the source is only ever in one thread's hands, handed over under
// the lock.
class ResultStream {
public:
    // `cancel` stops a fetch under way, for a stream left before its end;
    // `cut` cuts the connection of an engine that does not answer it.
    ResultStream(db::RowSource& source, Feedback& feedback, std::function<void()> cancel, std::function<void()> cut)
        : source_(source),
          feedback_(feedback),
          cancel_(std::move(cancel)),
          cut_(std::move(cut)),
          rows_(source.columns().size()),
          next_(source.columns().size()) {
        fetching_ = !source_.atEnd();
        fetcher_ = std::thread([this] { fetchWhenAsked(); });
    }
    ~ResultStream() {
        std::unique_lock lock(mutex_);
        stopping_ = true;
        changed_.notify_all();
        // A fetch under way is stopped (again and again, as a cancel that
        // comes just before the engine starts can be missed) rather than
        // waited for: the result is being left.
        const auto cutAt = std::chrono::steady_clock::now() + db::kCancelGrace;
        while (fetching_) {
            lock.unlock();
            cancel_();
            if (std::chrono::steady_clock::now() >= cutAt) {
                cut_();
            }
            lock.lock();
            changed_.wait_for(lock, std::chrono::milliseconds(50), [this] { return !fetching_; });
        }
        lock.unlock();
        fetcher_.join();
    }
    ResultStream(const ResultStream&) = delete;
    ResultStream& operator=(const ResultStream&) = delete;

    const std::vector<db::Column>& columns() const { return source_.columns(); }

    // True once every record has been handed out; takes the next packet
    // when the one held is used up.
    bool atEnd() {
        while (row_ >= rows_.rowCount()) {
            if (!takeNextPacket()) {
                return true;
            }
            feedback_.setProgress(fetched_);
            feedback_.throwIfCanceled();
        }
        return false;
    }
    // The current record: row row() of rows().
    const db::RowStore& rows() const { return rows_; }
    std::size_t row() const { return row_; }
    void next() {
        ++row_;
        ++delivered_;
    }
    std::int64_t delivered() const { return delivered_; }

private:
    // False at the end of the result; throws what the fetch threw.
    bool takeNextPacket() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !fetching_; });
        if (failure_) {
            std::rethrow_exception(std::exchange(failure_, nullptr));
        }
        if (!packetReady_) {
            return false;  // the last packet was taken already
        }
        packetReady_ = false;
        std::swap(rows_, next_);
        row_ = 0;
        fetched_ += static_cast<std::int64_t>(rows_.rowCount());
        if (!finished_) {
            fetching_ = true;
            changed_.notify_all();
        }
        return true;
    }

    void fetchWhenAsked() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return fetching_ || stopping_; });
            if (!fetching_) {
                return;
            }
            lock.unlock();
            std::exception_ptr failure;
            bool finished = false;
            try {
                next_.clear();
                source_.fetch(next_, kPacketRows);
                finished = source_.atEnd();
            } catch (...) {
                failure = std::current_exception();
                finished = true;
            }
            lock.lock();
            failure_ = failure;
            finished_ = finished;
            packetReady_ = !failure;
            fetching_ = false;
            changed_.notify_all();
        }
    }

    db::RowSource& source_;
    Feedback& feedback_;
    std::function<void()> cancel_;
    std::function<void()> cut_;
    db::RowStore rows_;
    std::size_t row_ = 0;
    std::int64_t fetched_ = 0;
    std::int64_t delivered_ = 0;

    // What the fetching thread works on, and the lock it is handed over by.
    std::mutex mutex_;
    std::condition_variable changed_;
    db::RowStore next_;
    bool fetching_ = false;
    bool packetReady_ = false;
    bool finished_ = false;
    bool stopping_ = false;
    std::exception_ptr failure_;
    std::thread fetcher_;
};

// The report's records from the stream, which goes one way only: one report
// run reads it from its first record.
class StreamRecords final : public ListingRecords {
public:
    StreamRecords(ResultStream& stream, const db::ValueFormatter& formatter)
        : stream_(stream), formatter_(formatter) {}

    void first() override {
        if (stream_.delivered() != 0) {
            throw std::logic_error("a result read as it comes cannot start over");
        }
    }
    bool atEnd() override { return stream_.atEnd(); }
    QString value(int field) override {
        const auto column = static_cast<std::size_t>(field);
        if (field < 0 || column >= stream_.columns().size()) {
            return {};
        }
        return formatter_.text(stream_.columns()[column].kind, stream_.rows().cell(stream_.row(), column));
    }
    void next() override { stream_.next(); }

private:
    ResultStream& stream_;
    const db::ValueFormatter& formatter_;
};

// The report counts pages; the command line counts records, which the stream
// reports. Only a stop passes through.
class StopOnly final : public Feedback {
public:
    explicit StopOnly(const Feedback& inner) : inner_(inner) {}
    void setProgress(std::int64_t) override {}
    bool canceled() const override { return inner_.canceled(); }

private:
    const Feedback& inner_;
};

// --- The outputs --------------------------------------------------------------------------------

QStringList fieldNames(const std::vector<db::Column>& columns) {
    QStringList names;
    for (const db::Column& column : columns) {
        names << QString::fromStdString(column.name);
    }
    return names;
}

void writeDelimitedText(ResultStream& stream, const BatchOptions& options, const db::ValueFormatter& formatter,
                        const Feedback& feedback) {
    const QString separator = options.format == Format::Txt ? options.separator : QStringLiteral(",");
    const std::unique_ptr<DelimitedTextWriter> writer =
        options.output == QLatin1String("-")
            ? std::make_unique<DelimitedTextWriter>(std::make_unique<StreamOutput>(STDOUT_FILENO, kStandardOutput),
                                                    separator)
            : std::make_unique<DelimitedTextWriter>(options.output, separator);
    writer->writeHeader(fieldNames(stream.columns()));
    while (!stream.atEnd()) {
        writer->writeRecord(stream.rows(), stream.row(), stream.columns(), formatter);
        stream.next();
    }
    writer->commit(feedback);
}

// `shownName` names the file in messages (the standard output, for one
// made in a temporary folder first).
void writeSpreadsheet(ResultStream& stream, const QString& path, const QString& shownName,
                      const db::ValueFormatter& formatter, const Feedback& feedback) {
    constexpr std::size_t kMostRecords = XlsxSheet::kMaxRows - ResultSheet::kRowsBeforeRecords;
    XlsxSheet::Options sheetOptions;
    sheetOptions.stop = &feedback;
    XlsxSheet excel(path, sheetOptions);
    ResultSheet sheet(excel, stream.columns());
    sheet.formatTable(2, 2);
    std::size_t record = 0;
    while (!stream.atEnd()) {
        if (record == kMostRecords) {
            throw BatchStop{kBatchRowLimit,
                            QStringLiteral("結果超過試算表一頁的 %1 列 (標題列、欄位名稱列與 %2 筆資料)，未寫出 %3")
                                .arg(XlsxSheet::kMaxRows)
                                .arg(kMostRecords)
                                .arg(shownName)};
        }
        const int row = static_cast<int>(record) + ResultSheet::kRowsBeforeRecords + 1;
        sheet.formatTable(row, row);
        sheet.writeRecord(record, stream.rows(), stream.row(), formatter);
        stream.next();
        ++record;
    }
    sheet.fitColumns();
    excel.save();
}

// The report's columns: the fields named, or every field, each at the width
// given or its display width.
std::vector<ListingColumn> reportColumns(const std::vector<db::Column>& columns,
                                         const std::vector<BatchOptions::ReportField>& fields,
                                         const db::ValueFormatter& formatter) {
    const auto column = [&](std::size_t index, const std::optional<QString>& width) {
        const QString name = QString::fromStdString(columns[index].name);
        return ListingColumn{name,
                             width ? listingColumnWidth(*width, name)
                                   : std::min(db::displayWidth(columns[index], formatter), kMaxListingColumnWidth),
                             static_cast<int>(index)};
    };
    std::vector<ListingColumn> listing;
    if (fields.empty()) {
        for (std::size_t i = 0; i < columns.size(); ++i) {
            listing.push_back(column(i, std::nullopt));
        }
        return listing;
    }
    for (const BatchOptions::ReportField& field : fields) {
        const std::string name = field.name.toStdString();
        std::size_t i = 0;
        while (i < columns.size() && !db::equalsIgnoringCase(columns[i].name, name)) {
            ++i;
        }
        if (i == columns.size()) {
            throw usageStop(QStringLiteral("the result has no field '%1' (its fields: %2)")
                                .arg(field.name, fieldNames(columns).join(QStringLiteral(", "))));
        }
        listing.push_back(column(i, field.width));
    }
    return listing;
}

ListingSettings reportSettings(const BatchOptions& options, const std::vector<ListingColumn>& columns) {
    ListingSettings settings;
    settings.paperLengthMm = options.paperLengthMm;
    settings.paperWidthMm = options.paperWidthMm;
    settings.portrait = !options.landscape;
    settings.printTitle = options.title.has_value();
    settings.title = options.title.value_or(QString());
    settings.titleFont = printWindowFont();
    settings.detailFont = printWindowFont();
    if (!options.fontFamily.isEmpty()) {
        settings.detailFont = QFont(options.fontFamily);
        settings.detailFont.setPointSizeF(options.fontPoints);
    }
    settings.headerLine = listingHeaderLine(columns);
    settings.sqlFont = printWindowFont();
    return settings;
}

void writeReport(ResultStream& stream, const BatchOptions& options, const QString& path,
                 const db::ValueFormatter& formatter, const Feedback& feedback) {
    std::vector<ListingColumn> columns = reportColumns(stream.columns(), options.fields, formatter);
    ReportEngine engine;
    const ListingBands bands = defineListing(engine.definition());
    applyListingSettings(bands, reportSettings(options, columns));
    checkReportDefinition(engine.definition());
    ListingFeed feed;
    feed.setRecords(std::make_unique<StreamRecords>(stream, formatter));
    feed.setColumns(std::move(columns));
    feed.setLimit(options.records);
    engine.setBeforePrint([&feed](ReportEngine&) { feed.restart(); });
    engine.setDataRequest([&feed, &bands](ReportEngine&, bool& moreData) {
        QString line;
        moreData = feed.next(line);
        if (moreData) {
            bands.data->text = std::move(line);
        }
    });
    StopOnly pages(feedback);
    engine.writePdf(path, pages);
}

void copyToStandardOutput(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw openError(path, file.errorString());
    }
    StreamOutput out(STDOUT_FILENO, kStandardOutput);
    QByteArray block(256 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 count = file.read(block.data(), block.size());
        if (count < 0) {
            throw openError(path, file.errorString());
        }
        if (count == 0) {
            return;
        }
        out.write(QByteArrayView(block.constData(), count));
    }
}

void writeResult(ResultStream& stream, const BatchOptions& options, const Feedback& feedback) {
    const db::ValueFormatter formatter;
    if (options.format == Format::Csv || options.format == Format::Txt) {
        writeDelimitedText(stream, options, formatter, feedback);
        return;
    }
    // A spreadsheet and a PDF file are finished only at their end: for
    // standard output they are made in a folder of their own, then copied.
    std::optional<QTemporaryDir> scratch;
    QString path = options.output;
    if (options.output == QLatin1String("-")) {
        scratch.emplace();
        if (!scratch->isValid()) {
            throw saveError(QDir::tempPath(), scratch->errorString());
        }
        path = scratch->filePath(options.format == Format::Xlsx ? QStringLiteral("result.xlsx")
                                                                : QStringLiteral("result.pdf"));
    }
    if (options.format == Format::Xlsx) {
        writeSpreadsheet(stream, path, scratch ? kStandardOutput : path, formatter, feedback);
    } else {
        writeReport(stream, options, path, formatter, feedback);
    }
    if (scratch) {
        feedback.throwIfCanceled();
        copyToStandardOutput(path);
    }
}

// --- The run -----------------------------------------------------------------------------------

// While the statement runs and its result is written, a signal stops them
// through `cancel` rather than ending the process.
class CancelScope {
public:
    CancelScope(StopSignals& stops, std::function<void()> cancel, std::function<void()> cut) : watched_(stops) {
        watched_.setCancel(std::move(cancel), std::move(cut));
        watched_.setCleanupPending(true);
    }
    ~CancelScope() {
        watched_.setCleanupPending(false);
        watched_.setCancel({}, {});
    }
    CancelScope(const CancelScope&) = delete;
    CancelScope& operator=(const CancelScope&) = delete;

private:
    StopSignals& watched_;
};

// One of the two engines, connected: the statement to run and the prefixes
// of the query window's messages for it.
struct Engine {
    db::Statement* statement = nullptr;
    QString queryFailure;
    std::function<void()> cancel;
    std::function<void()> cut;
};

// The messages of a run without a result set, as the query window's
// Messages page gets them.
void reportRowsAffected(const QString& started, std::int64_t rowsAffected, qint64 milliseconds) {
    printLine(QStringLiteral("執行起始：") + started);
    printLine(QStringLiteral("執行結束：") + currentDateTimeText());
    if (rowsAffected >= 0) {
        printLine(QStringLiteral("共 %1 被異動").arg(rowsAffected));
    }
    printLine(QStringLiteral("共 ") + secondsText(static_cast<double>(milliseconds) / 1000.0) +
              QStringLiteral(" 秒"));
}

int runStatement(Engine& engine, const QString& sql, const BatchOptions& options, StopSignals& stops) {
    const CancelScope cancelScope(stops, engine.cancel, engine.cut);
    TerminalProgress progress(STDERR_FILENO, [&stops] { return stops.stopRequested(); });
    const QString started = currentDateTimeText();
    QElapsedTimer clock;
    clock.start();
    try {
        engine.statement->setSql(sql.toStdString());
        if (!engine.statement->run()) {
            reportRowsAffected(started, engine.statement->rowsAffected(), clock.elapsed());
            return kBatchDone;
        }
        ResultStream stream(*engine.statement, progress, engine.cancel, engine.cut);
        writeResult(stream, options, progress);
        progress.finish();
    } catch (const db::DbError& error) {
        progress.finish();
        // The writers and what they made are gone by now: a stop ends the
        // process here, without waiting on the engine any further.
        stops.endIfStopped();
        throw BatchStop{kBatchFailed, engine.queryFailure + engineWords(error)};
    } catch (const OperationCanceled&) {
        progress.finish();
        stops.endIfStopped();
        throw;
    }
    return kBatchDone;
}

db::ParamList aliasParamsOf(db::Session& session, const QString& alias) {
    try {
        return session.aliasParams(alias.toStdString());
    } catch (const db::DbError&) {
        QStringList known;
        for (const std::string& name : session.aliasNames()) {
            known << QString::fromStdString(name);
        }
        QString message = QStringLiteral("unknown alias '%1' (aliases: %2)").arg(alias, known.join(QStringLiteral(", ")));
        for (const std::string& problem : session.configurationProblems()) {
            message += u'\n' + QString::fromStdString(problem);
        }
        throw usageStop(message);
    }
}

int runOnAlias(Workspace& workspace, const BatchOptions& options, StopSignals& stops) {
    db::Session& session = workspace.Session1();
    StatementText statement(options.sqlFile);
    const db::ParamList aliasParams = aliasParamsOf(session, options.alias);
    std::optional<QString> password = passwordFromEnvironment();
    const bool needsPassword = !db::equalsIgnoringCase(session.aliasDriverName(options.alias.toStdString()), "SQLITE");
    if (!password && !aliasParams.contains("PASSWORD") && needsPassword && canAsk()) {
        const QString user = options.user.value_or(QString::fromStdString(aliasParams.value("USER NAME")));
        password = askPassword(QStringLiteral("%1 的密碼%2: ")
                                   .arg(options.alias, user.isEmpty() ? QString() : QStringLiteral(" (") + user + u')'),
                               stops);
    }
    const QString sql = statement.text();

    db::Database database(session, kDatabaseName);
    database.setAliasName(options.alias.toStdString());
    if (options.user) {
        database.params().append("USER NAME", options.user->toStdString());
    }
    if (password) {
        database.params().append("PASSWORD", password->toStdString());
    }
    try {
        database.open();
    } catch (const db::DbError& error) {
        throw BatchStop{kBatchFailed, QStringLiteral("BDE_連線失敗: ") + engineWords(error)};
    }
    db::Query query(session);
    query.setDatabaseName(kDatabaseName);
    Engine engine{&query, QStringLiteral("BDE_查詢失敗: "),
                  [&query, &database] {
                      query.cancel();
                      database.cancel();
                  },
                  [&database] { database.cutConnection(); }};
    return runStatement(engine, sql, options, stops);
}

int runOnConnectionString(Workspace& workspace, const BatchOptions& options, StopSignals& stops) {
    StatementText statement(options.sqlFile);
    db::ConnectionString string;
    bool readable = true;
    try {
        string = db::ConnectionString::parse(options.connectionString.toStdString());
    } catch (const db::DbError&) {
        readable = false;  // the connection says what is wrong with it
    }
    std::optional<QString> password = passwordFromEnvironment();
    const bool needsPassword = readable && !string.contains("FILE NAME") &&
                               db::canonicalProviderName(string.value("Provider")) != db::kProviderSqlite;
    if (!password && needsPassword && canAsk()) {
        password = askPassword(QStringLiteral("密碼: "), stops);
    }
    QString text = options.connectionString;
    if (password && readable) {
        string.set("Password", password->toStdString());
        text = QString::fromStdString(string.text());
    }
    const QString sql = statement.text();

    db::AdoConnection& connection = workspace.ADOCon1();
    // A batch runs unattended, as long as its statement takes.
    connection.setCommandTimeout(0);
    connection.setConnectionString(text.toStdString());
    try {
        connection.open();
    } catch (const db::DbError& error) {
        throw BatchStop{kBatchFailed, QStringLiteral("ADO_連線失敗: ") + engineWords(error)};
    }
    db::AdoQuery& query = workspace.ADQ1();
    Engine engine{&query, QStringLiteral("ADO_查詢失敗: "), [&connection] { connection.cancel(); },
                  [&connection] { connection.cutConnection(); }};
    return runStatement(engine, sql, options, stops);
}

// The application object the run needs: fonts for a report (on the
// offscreen platform, so no display is needed), the locale and its encoding
// for everything.
// Standard error carries the run's own messages, which scripts read: Qt's
// notes on its environment (no runtime directory, say) are not among them.
void keepQtNotesOffStandardError(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        printLine(message);
    }
}

std::unique_ptr<QCoreApplication> makeApplication(const BatchOptions& options) {
    qInstallMessageHandler(&keepQtNotesOffStandardError);
    static char program[] = "tarnwell";
    static char platformOption[] = "-platform";
    static char offscreen[] = "offscreen";
    static char* arguments[] = {program, platformOption, offscreen, nullptr};
    static int count = 3;
    std::unique_ptr<QCoreApplication> application;
    if (options.format == Format::Pdf) {
        // A desktop's platform theme would reach for the display.
        qunsetenv("QT_QPA_PLATFORMTHEME");
        application = std::make_unique<QGuiApplication>(count, arguments);
        registerFontSubstitutions();
    } else {
        count = 1;
        application = std::make_unique<QCoreApplication>(count, arguments);
    }
    QCoreApplication::setApplicationName(QStringLiteral("Tarnwell"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARNWELL_VERSION));
    return application;
}

int runBatchOrStop(const BatchOptions& options, StopSignals& stops) {
    const std::unique_ptr<QCoreApplication> application = makeApplication(options);
    if (options.output == QLatin1String("-") && standardOutputWasClosed()) {
        throw BatchStop{kBatchFailed, QString::fromUtf8(saveError(kStandardOutput, QStringLiteral("標準輸出已關閉")).what())};
    }
    Workspace workspace;
    try {
        return options.alias.isEmpty() ? runOnConnectionString(workspace, options, stops)
                                       : runOnAlias(workspace, options, stops);
    } catch (const OperationCanceled&) {
        // Whatever was being written is gone by now.
        stops.endIfStopped();
        throw;
    } catch (const StreamClosedError&) {
        // The reader of standard output has gone (`| head`): the process
        // ends as a writer into a closed pipe does.
        std::signal(SIGPIPE, SIG_DFL);
        raise(SIGPIPE);
        throw;
    } catch (const BatchStop&) {
        stops.endIfStopped();
        throw;
    } catch (const std::exception& error) {
        stops.endIfStopped();
        // Files and the spreadsheet and report writers say what failed.
        throw BatchStop{kBatchFailed, engineWords(error)};
    }
}

}  // namespace

int runBatch(const BatchOptions& options) {
    // A pipe whose reader went away is an error of the write, not the end of
    // the process before the files in the making are cleaned up.
    std::signal(SIGPIPE, SIG_IGN);
    StopSignals stops;
    try {
        const int code = runBatchOrStop(options, stops);
        stops.endIfStopped();
        return code;
    } catch (const BatchStop& stop) {
        printLine(stop.message);
        return stop.exitCode;
    } catch (const OperationCanceled&) {
        return kBatchFailed;
    }
}

}  // namespace tarnwell
