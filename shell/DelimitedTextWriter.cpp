#include "shell/DelimitedTextWriter.h"

#include "dataaccess/ClientDataSet.h"

namespace tarnwell {

namespace {

// Bytes gathered before they go to the file: large enough that writing costs
// little per line, small enough not to count beside the result itself.
constexpr qsizetype kBlockBytes = 256 * 1024;

// Characters (not UTF-16 units) from 1 up to position `at`.
qsizetype characterNumber(QStringView text, qsizetype at) {
    return text.first(at).toUcs4().size() + 1;
}

}  // namespace

DelimitedTextWriter::DelimitedTextWriter(const QString& path, const QString& separator,
                                         const QByteArray& encoding)
    : path_(path), separator_(separator), encoder_(encoding) {
    if (!encoder_.isValid()) {
        throw saveError(path, QStringLiteral("系統不支援 %1 編碼").arg(QString::fromLatin1(encoding)));
    }
    QByteArray ignored;
    if (const qsizetype at = encoder_.append(separator_, ignored); at >= 0) {
        throw saveError(path, QStringLiteral("分隔符號的 %1 無法以 %2 編碼儲存")
                                  .arg(describeCharacter(separator_, at), encoder_.name()));
    }
    file_.emplace(path);
    buffer_.reserve(kBlockBytes + 4096);
}

void DelimitedTextWriter::beginLine() {
    line_.resize(0);
    fieldStarts_.clear();
}

void DelimitedTextWriter::addField(QStringView text) {
    if (!fieldStarts_.empty()) {
        line_ += separator_;
    }
    fieldStarts_.push_back(line_.size());
    line_ += text;
}

void DelimitedTextWriter::addValue(QStringView text) {
    addField(text);
    // The separator is written as given: only the value's own text changes.
    const qsizetype start = fieldStarts_.back();
    const qsizetype end = line_.size();
    QChar* chars = line_.data();
    qsizetype first = start;
    while (first < end && chars[first] != u'\r' && chars[first] != u'\t') {
        ++first;
    }
    qsizetype out = first;
    for (qsizetype in = first; in < end; ++in) {
        const QChar c = chars[in];
        if (c == u'\r' && in + 1 < end && chars[in + 1] == u'\n') {
            chars[out++] = u' ';
            ++in;
        } else if (c == u'\t') {
            chars[out++] = u' ';
        } else {
            chars[out++] = c;
        }
    }
    line_.truncate(out);
}

void DelimitedTextWriter::endLine(Line line) {
    line_ += QLatin1String("\r\n");
    if (const qsizetype at = encoder_.append(line_, buffer_); at >= 0) {
        refuseCharacter(line, at);
    }
    if (buffer_.size() >= kBlockBytes) {
        flush();
    }
}

void DelimitedTextWriter::refuseCharacter(Line line, qsizetype at) const {
    std::size_t field = 0;
    while (field + 1 < fieldStarts_.size() && fieldStarts_[field + 1] <= at) {
        ++field;
    }
    const qsizetype start = fieldStarts_.empty() ? 0 : fieldStarts_[field];
    const QString name = names_.value(static_cast<qsizetype>(field), QString::number(field + 1));
    const QString where = line == Line::Header
                              ? QStringLiteral("標題列的欄位 %1").arg(name)
                              : QStringLiteral("第 %1 筆資料的欄位 %2").arg(records_).arg(name);
    throw saveError(path_, QStringLiteral("%1 第 %2 個字 %3 無法以 %4 編碼儲存")
                               .arg(where)
                               .arg(characterNumber(QStringView(line_).sliced(start), at - start))
                               .arg(describeCharacter(line_, at), encoder_.name()));
}

void DelimitedTextWriter::flush() {
    file_->write(buffer_);
    buffer_.resize(0);
}

void DelimitedTextWriter::writeHeader(const QStringList& displayNames) {
    names_ = displayNames;
    beginLine();
    for (const QString& name : displayNames) {
        addField(name);
    }
    endLine(Line::Header);
}

void DelimitedTextWriter::writeRecord(const db::RowStore& rows, std::size_t row,
                                      const std::vector<db::Column>& columns,
                                      const db::ValueFormatter& formatter) {
    ++records_;
    beginLine();
    for (std::size_t column = 0; column < columns.size(); ++column) {
        const db::RowStore::Cell cell = rows.cell(row, column);
        if (cell.isNull) {
            addField({});
        } else {
            addValue(formatter.text(columns[column].kind, cell));
        }
    }
    endLine(Line::Record);
}

void DelimitedTextWriter::commit() {
    flush();
    file_->commit();
}

void writeDataSetAsText(db::ClientDataSet& dataSet, const QString& path, const QString& separator,
                        Feedback& feedback, const QByteArray& encoding) {
    dataSet.setActive(true);
    dataSet.first();
    DelimitedTextWriter writer(path, separator, encoding);
    QStringList names;
    for (const db::Field& field : dataSet.fields()) {
        names << QString::fromStdString(field.displayName);
    }
    writer.writeHeader(names);
    while (!dataSet.eof()) {
        writer.writeRecord(dataSet.rows(), dataSet.currentRow(), dataSet.columns(), dataSet.valueFormatter());
        feedback.setProgress(writer.recordsWritten());
        feedback.throwIfCanceled();
        dataSet.next();
    }
    writer.commit();
}

}  // namespace tarnwell
