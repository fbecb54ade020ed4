#include "output/DelimitedTextWriter.h"

#include "dataaccess/ClientDataSet.h"

#include <cstdint>
#include <cstring>

namespace tarnwell {

namespace {

// Bytes gathered before they go to the file: large enough that writing costs
// little per line, small enough not to count beside the result itself.
constexpr qsizetype kBlockBytes = 256 * 1024;

// Characters (not UTF-16 units) from 1 up to position `at`.
qsizetype characterNumber(QStringView text, qsizetype at) {
    return text.first(at).toUcs4().size() + 1;
}

// Every CR LF, then every tab, becomes one blank; in one pass, as neither
// replacement can make a place for the other.
template <typename Char, typename Out>
void blankLineBreaksAndTabs(const Char* in, const Char* end, Out&& put) {
    for (; in < end; ++in) {
        if (*in == Char('\r') && in + 1 < end && in[1] == Char('\n')) {
            put(Char(' '));
            ++in;
        } else if (*in == Char('\t')) {
            put(Char(' '));
        } else {
            put(*in);
        }
    }
}

template <typename Char>
const Char* firstLineBreakOrTab(const Char* in, const Char* end) {
    while (in < end && *in != Char('\r') && *in != Char('\t')) {
        ++in;
    }
    return in;
}

// Whether a word of eight bytes is all ASCII other than CR and tab: valid
// UTF-8 that needs no replacement, as most values are.
bool isPlainWord(std::uint64_t word) {
    constexpr std::uint64_t kOnes = 0x0101010101010101u;
    constexpr std::uint64_t kHighBits = 0x8080808080808080u;
    const std::uint64_t cr = word ^ (kOnes * '\r');
    const std::uint64_t tab = word ^ (kOnes * '\t');
    // A byte of cr or tab is 0 where the word has that character.
    return ((word | ((cr - kOnes) & ~cr) | ((tab - kOnes) & ~tab)) & kHighBits) == 0;
}

bool isPlainByte(char c) { return static_cast<unsigned char>(c) < 0x80 && c != '\r' && c != '\t'; }

// Copies `size` bytes to `out` if they are all plain (see above), eight at a
// time; false when they are not, with `out` then holding nothing of use.
bool copyPlainAscii(const char* in, std::size_t size, char* out) {
    std::uint64_t word;
    if (size < sizeof word) {
        for (std::size_t i = 0; i < size; ++i) {
            if (!isPlainByte(in[i])) {
                return false;
            }
            out[i] = in[i];
        }
        return true;
    }
    for (std::size_t at = 0; at < size - sizeof word; at += sizeof word) {
        std::memcpy(&word, in + at, sizeof word);
        if (!isPlainWord(word)) {
            return false;
        }
        std::memcpy(out + at, &word, sizeof word);
    }
    // The last eight bytes, which may overlap those already copied.
    std::memcpy(&word, in + size - sizeof word, sizeof word);
    if (!isPlainWord(word)) {
        return false;
    }
    std::memcpy(out + size - sizeof word, &word, sizeof word);
    return true;
}

}  // namespace

DelimitedTextWriter::DelimitedTextWriter(const QString& path, const QString& separator,
                                         const QByteArray& encoding)
    : path_(path), encoder_(encoding) {
    // Nothing is made for a file that could not be written anyway.
    prepareEncoding(separator);
    file_ = std::make_unique<AtomicFile>(path);
}

DelimitedTextWriter::DelimitedTextWriter(std::unique_ptr<ByteSink> sink, const QString& separator,
                                         const QByteArray& encoding)
    : path_(sink->path()), encoder_(encoding), file_(std::move(sink)) {
    prepareEncoding(separator);
}

void DelimitedTextWriter::prepareEncoding(const QString& separator) {
    if (!encoder_.isValid()) {
        throw saveError(path_, QStringLiteral("系統不支援 %1 編碼").arg(encoder_.name()));
    }
    if (const qsizetype at = encoder_.append(separator, separator_); at >= 0) {
        throw saveError(path_, QStringLiteral("分隔符號的 %1 無法以 %2 編碼儲存")
                                   .arg(describeCharacter(separator, at), encoder_.name()));
    }
    capacity_ = kBlockBytes + 64 * 1024;
    block_ = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(capacity_));
}

void DelimitedTextWriter::makeRoom(qsizetype bytes) {
    flush();
    if (bytes > capacity_) {
        block_ = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(bytes));
        capacity_ = bytes;
    }
}

void DelimitedTextWriter::addBytes(QByteArrayView bytes) {
    if (bytes.isEmpty()) {
        return;  // an empty separator may be a view of no memory at all
    }
    std::memcpy(room(bytes.size()), bytes.data(), static_cast<std::size_t>(bytes.size()));
    used_ += bytes.size();
}

void DelimitedTextWriter::addText(QString text, Line line, std::size_t field) {
    if (line == Line::Record) {
        const QChar* begin = text.constData();
        const QChar* end = begin + text.size();
        const QChar* first = firstLineBreakOrTab(begin, end);
        if (first != end) {
            QChar* out = text.data() + (first - begin);
            blankLineBreaksAndTabs(text.constData() + (first - begin), text.constData() + text.size(),
                                   [&out](QChar c) { *out++ = c; });
            text.truncate(out - text.constData());
        }
    }
    char* out = room(encoder_.maxBytes(text.size()));
    if (const qsizetype at = encoder_.write(text, out); at >= 0) {
        refuseCharacter(line, field, text, at);
    }
    used_ = out - block_.get();
}

// Text that is its own bytes in UTF-8 goes to a UTF-8 file as it is, but for
// the two replacements; false, with nothing added, for bytes that are not
// valid UTF-8 (the formatter's text then shows what stands for them).
bool DelimitedTextWriter::addStoredText(std::string_view utf8) {
    const char* begin = utf8.data();
    const char* end = begin + utf8.size();
    char* out = room(static_cast<qsizetype>(utf8.size()));
    if (copyPlainAscii(begin, utf8.size(), out)) {
        used_ += static_cast<qsizetype>(utf8.size());
        return true;
    }
    if (!QByteArrayView(begin, end).isValidUtf8()) {
        return false;
    }
    const char* first = firstLineBreakOrTab(begin, end);
    std::memcpy(out, begin, static_cast<std::size_t>(first - begin));
    out += first - begin;
    if (first != end) {
        blankLineBreaksAndTabs(first, end, [&out](char c) { *out++ = c; });
    }
    used_ = out - block_.get();
    return true;
}

// The formatter's UTF-8 goes straight into the block; it holds nothing the
// two replacements would change.
bool DelimitedTextWriter::addFormattedUtf8(std::size_t field, db::FieldKind kind, std::string_view bytes,
                                           const db::ValueFormatter& formatter) {
    const std::size_t most = formatter.utf8Room(kind, bytes.size());
    if (most == 0) {
        return false;
    }
    char* const begin = room(static_cast<qsizetype>(most));
    char* const end = formatter.writeUtf8(kind, bytes, begin, &memos_[field]);
    if (end == nullptr) {
        return false;
    }
    used_ = end - block_.get();
    return true;
}

void DelimitedTextWriter::endLine() {
    char* out = room(2);
    out[0] = '\r';
    out[1] = '\n';
    used_ += 2;
    if (used_ >= kBlockBytes) {
        flush();
    }
}

void DelimitedTextWriter::refuseCharacter(Line line, std::size_t field, QStringView text, qsizetype at) const {
    const QString name = names_.value(static_cast<qsizetype>(field), QString::number(field + 1));
    const QString where = line == Line::Header
                              ? QStringLiteral("標題列的欄位 %1").arg(name)
                              : QStringLiteral("第 %1 筆資料的欄位 %2").arg(records_).arg(name);
    // In one pass: a field name may hold "%1" itself.
    throw saveError(path_, QStringLiteral("%1 第 %2 個字 %3 無法以 %4 編碼儲存")
                               .arg(where, QString::number(characterNumber(text, at)),
                                    describeCharacter(text, at), encoder_.name()));
}

void DelimitedTextWriter::flush() {
    file_->write(QByteArrayView(block_.get(), used_));
    used_ = 0;
}

void DelimitedTextWriter::writeHeader(const QStringList& displayNames) {
    names_ = displayNames;
    for (qsizetype field = 0; field < displayNames.size(); ++field) {
        if (field > 0) {
            addBytes(separator_);
        }
        addText(displayNames.at(field), Line::Header, static_cast<std::size_t>(field));
    }
    endLine();
}

void DelimitedTextWriter::writeRecord(const db::RowStore& rows, std::size_t row,
                                      const std::vector<db::Column>& columns,
                                      const db::ValueFormatter& formatter) {
    ++records_;
    if (&formatter != memoFormatter_ || memos_.size() != columns.size()) {
        memos_.assign(columns.size(), {});
        memoFormatter_ = &formatter;
    }
    cells_.resize(rows.columnCount());
    rows.cells(row, cells_.data());
    const bool utf8 = encoder_.isUtf8();
    for (std::size_t field = 0; field < columns.size(); ++field) {
        if (field > 0) {
            addSeparator();
        }
        const db::RowStore::Cell& cell = cells_[field];
        if (cell.isNull) {
            continue;
        }
        const db::FieldKind kind = columns[field].kind;
        if (utf8) {
            if (formatter.showsAsStored(kind)) {
                if (addStoredText(cell.bytes)) {
                    continue;
                }
            } else if (addFormattedUtf8(field, kind, cell.bytes, formatter)) {
                continue;
            }
        }
        addText(formatter.text(kind, cell), Line::Record, field);
    }
    endLine();
}

void DelimitedTextWriter::commit(const Feedback& stop) {
    flush();
    file_->commit(stop);
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
    writer.commit(feedback);
}

}  // namespace tarnwell
