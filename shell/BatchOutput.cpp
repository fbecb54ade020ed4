#include "shell/BatchOutput.h"

#include <QDir>
#include <QFile>
#include <QFont>
#include <QStringList>
#include <unistd.h>

#include <stdexcept>
#include <vector>

#include "dataaccess/ClientDataSet.h"
#include "dataaccess/Column.h"
#include "dataaccess/TextTools.h"
#include "dataaccess/ValueText.h"
#include "output/DelimitedTextWriter.h"
#include "output/FileReplacement.h"
#include "output/ResultSheet.h"
#include "output/ResultStream.h"
#include "output/TextFile.h"
#include "output/XlsxSheet.h"
#include "report/ListingReport.h"
#include "ui/FormFont.h"

namespace tarnwell {

namespace {

using Format = BatchOptions::Format;

bool toStandardOutput(const QString& output) { return output == QLatin1String("-"); }

// The print window's font, which its report's title and lines start with.
QFont printWindowFont() { return pixelFont("細明體", 13); }

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

QStringList fieldNames(const std::vector<db::Column>& columns) {
    QStringList names;
    for (const db::Column& column : columns) {
        names << QString::fromStdString(column.name);
    }
    return names;
}

void writeDelimitedText(ResultStream& stream, const BatchOptions& options, const QString& path,
                        const db::ValueFormatter& formatter, const Feedback& feedback) {
    const QString separator = options.format == Format::Txt ? options.separator : QStringLiteral(",");
    const std::unique_ptr<DelimitedTextWriter> writer =
        toStandardOutput(path) ? std::make_unique<DelimitedTextWriter>(
                                     std::make_unique<StreamOutput>(STDOUT_FILENO, standardOutputName()), separator)
                               : std::make_unique<DelimitedTextWriter>(path, separator);
    writer->writeHeader(fieldNames(stream.columns()));
    while (!stream.atEnd()) {
        writer->writeRecord(stream.rows(), stream.row(), stream.columns(), formatter);
        stream.next();
    }
    writer->commit(feedback);
}

// `shownName` names the file in messages (the target the user named, for
// one made in a private folder first).
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

ListingSettings reportSettings(const BatchOptions& options) {
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
    settings.sqlFont = printWindowFont();
    return settings;
}

void writeReport(ResultStream& stream, const BatchOptions& options, const QString& path,
                 const db::ValueFormatter& formatter, const Feedback& feedback) {
    ListingReport report;
    report.setUp(reportSettings(options), std::make_unique<StreamRecords>(stream, formatter),
                 reportColumns(stream.columns(), options.fields, formatter), options.records);
    StopOnly pages(feedback);
    report.engine().writePdf(path, pages);
}

// Writes a file at `path`, or CSV and text onto standard output for "-".
void writeResultTo(ResultStream& stream, const BatchOptions& options, const QString& path, const QString& shownName,
                   const Feedback& feedback) {
    const db::ValueFormatter formatter;
    switch (options.format) {
    case Format::Csv:
    case Format::Txt:
        writeDelimitedText(stream, options, path, formatter, feedback);
        return;
    case Format::Xlsx:
        writeSpreadsheet(stream, path, shownName, formatter, feedback);
        return;
    case Format::Pdf:
        writeReport(stream, options, path, formatter, feedback);
        return;
    }
}

// A private folder (mode 0700) for files that are finished only at their
// end.
void requireValid(const QTemporaryDir& folder) {
    if (!folder.isValid()) {
        throw saveError(QDir::tempPath(), folder.errorString());
    }
}

QString scratchName(const BatchOptions& options) {
    switch (options.format) {
    case Format::Csv:
        return QStringLiteral("result.csv");
    case Format::Txt:
        return QStringLiteral("result.txt");
    case Format::Xlsx:
        return QStringLiteral("result.xlsx");
    case Format::Pdf:
        break;
    }
    return QStringLiteral("result.pdf");
}

void copyToStandardOutput(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw openError(path, file.errorString());
    }
    StreamOutput out(STDOUT_FILENO, standardOutputName());
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

}  // namespace

QString standardOutputName() { return QStringLiteral("標準輸出"); }

void writeResult(ResultStream& stream, const BatchOptions& options, const Feedback& feedback) {
    const bool streamed = options.format == Format::Csv || options.format == Format::Txt;
    if (streamed || !toStandardOutput(options.output)) {
        writeResultTo(stream, options, options.output, options.output, feedback);
        return;
    }
    QTemporaryDir scratch;
    requireValid(scratch);
    const QString path = scratch.filePath(scratchName(options));
    writeResultTo(stream, options, path, standardOutputName(), feedback);
    feedback.throwIfCanceled();
    copyToStandardOutput(path);
}

ScriptResult::ScriptResult(const BatchOptions& options) : options_(options) {
    if (!toStandardOutput(options.output)) {
        target_ = std::make_unique<FileReplacement>(options.output);
    }
    requireValid(scratch_);
    scratchFile_ = scratch_.filePath(scratchName(options));
}

ScriptResult::~ScriptResult() = default;

void ScriptResult::write(ResultStream& stream, const Feedback& feedback) {
    written_ = false;
    refused_.reset();
    QFile::remove(scratchFile_);
    const QString shownName = target_ ? options_.output : standardOutputName();
    try {
        writeResultTo(stream, options_, scratchFile_, shownName, feedback);
        written_ = true;
    } catch (const BatchStop& stop) {
        // A later result may take this one's place.
        refused_ = stop;
    }
    // The statement runs to its end, as in the engine's own client, also
    // past the records a report prints: the statements after it may depend
    // on what it did.
    while (!stream.atEnd()) {
        stream.next();
    }
}

void ScriptResult::discard() noexcept {
    if (target_) {
        target_->discard();
    }
    scratch_.remove();
    written_ = false;
    refused_.reset();
}

void ScriptResult::commit(const Feedback& stop) {
    if (refused_) {
        throw *refused_;
    }
    if (!written_) {
        return;
    }
    stop.throwIfCanceled();
    if (target_) {
        target_->copyFrom(scratchFile_);
        target_->commit(stop);
    } else {
        copyToStandardOutput(scratchFile_);
    }
}

}  // namespace tarnwell
