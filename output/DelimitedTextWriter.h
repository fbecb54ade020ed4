#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "dataaccess/Column.h"
#include "dataaccess/RowStore.h"
#include "dataaccess/ValueText.h"
#include "output/Feedback.h"
#include "output/TextFile.h"

namespace tarnwell {

namespace db {
class ClientDataSet;
}

// A result as delimited text, the file both text exports and the batch run
// write, so that they make the same bytes:
//   line 1        the fields' display names joined by the separator, as they are;
//   one a record  the values' text joined by the separator: the text the grid
//                 shows (ValueText.h; NULL gives nothing), in which every CR LF
//                 and then every tab becomes one blank (a lone CR or LF stays);
//   every line    ends with CR LF.
// Nothing is quoted, escaped or trimmed: a value holding the separator adds
// columns to its line. The separator may be any text, also empty.
//
// The file is in one encoding (the locale's), without a byte-order mark. A
// character that encoding cannot hold is refused, naming the record, the field
// and the character, rather than written as a substitute.
//
// Lines go to a temporary file beside the target as they come, in blocks, and
// the target is replaced only by commit(): memory stays the same however long
// the file gets, and a writer that goes without commit() (an error, a cancel)
// leaves an existing file byte for byte as it was and nothing else behind.
// Every failure throws TextFileError.
class DelimitedTextWriter {
public:
    DelimitedTextWriter(const QString& path, const QString& separator,
                        const QByteArray& encoding = localeTextEncoding());
    // The same lines into `sink` (standard output, say), which commit() then
    // commits.
    DelimitedTextWriter(std::unique_ptr<ByteSink> sink, const QString& separator,
                        const QByteArray& encoding = localeTextEncoding());
    DelimitedTextWriter(const DelimitedTextWriter&) = delete;
    DelimitedTextWriter& operator=(const DelimitedTextWriter&) = delete;

    void writeHeader(const QStringList& displayNames);

    // The line of row `row` of `rows`, whose cells are of the kinds of
    // `columns` and become text through `formatter`.
    void writeRecord(const db::RowStore& rows, std::size_t row, const std::vector<db::Column>& columns,
                     const db::ValueFormatter& formatter);

    // The file replaces its target, unless `stop` asks to stop by then.
    void commit(const Feedback& stop = NoFeedback());

    std::int64_t recordsWritten() const { return records_; }

private:
    enum class Line { Header, Record };

    void prepareEncoding(const QString& separator);

    void addText(QString text, Line line, std::size_t field);
    bool addStoredText(std::string_view utf8);
    bool addFormattedUtf8(std::size_t field, db::FieldKind kind, std::string_view bytes,
                          const db::ValueFormatter& formatter);
    void addBytes(QByteArrayView bytes);
    void addSeparator() {
        if (separator_.size() == 1) {
            *room(1) = separator_.front();
            ++used_;
        } else {
            addBytes(separator_);
        }
    }
    void endLine();
    // Room for `bytes` more bytes at the end of the block, which goes to the
    // file first when they would not fit.
    char* room(qsizetype bytes) {
        if (capacity_ - used_ < bytes) {
            makeRoom(bytes);
        }
        return block_.get() + used_;
    }
    void makeRoom(qsizetype bytes);
    [[noreturn]] void refuseCharacter(Line line, std::size_t field, QStringView text, qsizetype at) const;
    void flush();

    QString path_;
    StrictEncoder encoder_;
    QByteArray separator_;
    std::unique_ptr<ByteSink> file_;
    QStringList names_;
    std::unique_ptr<char[]> block_;
    qsizetype capacity_ = 0;
    qsizetype used_ = 0;
    std::vector<db::RowStore::Cell> cells_;
    // What the formatter keeps from record to record, a memo for each field.
    std::vector<db::ValueFormatter::Utf8Memo> memos_;
    const db::ValueFormatter* memoFormatter_ = nullptr;
    std::int64_t records_ = 0;
};

// The records of `dataSet` from its first to its last as a delimited text
// file: the dataset is opened when closed, walked record by record (fetching
// its packets as the walk reaches them) and afterwards stands on its last
// record. `feedback` hears of every record written; a cancel through it
// throws OperationCanceled and, like every failure, leaves no file.
void writeDataSetAsText(db::ClientDataSet& dataSet, const QString& path, const QString& separator,
                        Feedback& feedback, const QByteArray& encoding = localeTextEncoding());

}  // namespace tarnwell
