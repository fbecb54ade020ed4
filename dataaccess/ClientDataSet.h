#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "dataaccess/Column.h"
#include "dataaccess/RowSource.h"
#include "dataaccess/RowStore.h"
#include "dataaccess/ValueText.h"

namespace tarnwell::db {

// Hands the rows of its source (an opened Query or AdoQuery) to a client
// dataset, packet by packet. Owns nothing: the source belongs to its window.
class DataSetProvider {
public:
    void setDataSet(RowSource* source) noexcept { source_ = source; }
    RowSource* dataSet() const noexcept { return source_; }

private:
    RowSource* source_ = nullptr;
};

// One field of a client dataset, as the field list, the exports and the print
// window read it.
struct Field {
    std::string fieldName;
    std::string fullName;      // the same as the name: fields are never nested
    std::string displayLabel;  // the name; nothing renames a field
    std::string displayName;   // the display label
    // Characters a column needs: the declared size of a string field, else a
    // width that fits the kind's text (numbers, dates in the locale's format).
    int displayWidth = 0;
    FieldKind dataType = FieldKind::Unknown;
    int size = 0;       // the declared size (Column.h)
    int precision = 0;  // numeric fields' declared precision
    int fieldNo = 0;    // 1-based position
};

// A place in a dataset to come back to. Valid in the dataset that gave it
// until that dataset is closed or opened again.
struct Bookmark {
    std::size_t row = 0;
    std::uint64_t generation = 0;  // 0: no bookmark
};

// The result dataset of a query window: the rows fetched so far from the
// provider's source, kept compactly in a RowStore, with a current row.
//
// Rows come PacketRecords at a time: the first packet when the dataset opens,
// the next one whenever navigation moves past the rows fetched so far, all of
// them for last(). The record count is the number of rows fetched so far.
//
// A client dataset belongs to one thread (the user-interface thread). It
// reads from the source it was opened on until it is closed; that source must
// not be closed, run again or destroyed by another thread meanwhile (close
// the dataset first). A source that was run again since is noticed: fetching
// then fails with a DbError instead of mixing two results.
//
// Navigation, bookmarks and refresh on a closed dataset throw
// DbError("Cannot perform this operation on a closed dataset"); the read-only
// questions (record count, eof, field count, ...) answer as for an empty one.
class ClientDataSet {
public:
    // PacketRecords value that fetches every row in one packet.
    static constexpr int kAllRecords = -1;

    ClientDataSet();
    ~ClientDataSet();
    ClientDataSet(const ClientDataSet&) = delete;
    ClientDataSet& operator=(const ClientDataSet&) = delete;

    void setProvider(DataSetProvider* provider) noexcept { provider_ = provider; }
    DataSetProvider* provider() const noexcept { return provider_; }

    // Rows per packet; values below 1 mean all rows at once. May change while
    // the dataset is open: it applies to the next packet fetched.
    int packetRecords() const noexcept { return packetRecords_; }
    void setPacketRecords(int rows) noexcept { packetRecords_ = rows; }

    // Takes the columns of the provider's opened source and fetches the first
    // packet at once. Throws DbError when there is no provider, no source or
    // no open result ("Missing data provider or data packet"), or when the
    // first fetch fails (the dataset then stays closed). Does nothing when
    // already open.
    void open();
    // Drops the rows; the source stays as it is.
    void close();
    bool active() const noexcept { return active_; }
    void setActive(bool active);

    std::size_t recordCount() const noexcept { return rows_.rowCount(); }
    bool isEmpty() const noexcept { return rows_.rowCount() == 0; }
    bool eof() const noexcept { return !active_ || eof_; }
    bool bof() const noexcept { return !active_ || bof_; }
    // 0-based position of the current row (0 for an empty dataset).
    std::size_t currentRow() const noexcept { return current_; }

    void first();
    void prior();
    // Fetches the next packet when the current row is the last fetched one.
    void next();
    // Fetches every remaining row first.
    void last();
    // Runs the source's statement again and fetches as many rows as were
    // held (all of them when all had been fetched); the current row stays at
    // its position (or the last row, when fewer come back). When the source
    // fails, the rows held so far stay.
    void refresh();
    // Makes row `row` (0-based) current, fetching packets until it is there;
    // false, with the position unchanged, when the result has fewer rows.
    bool moveTo(std::size_t row);

    Bookmark bookmark() const;
    bool bookmarkValid(const Bookmark& bookmark) const noexcept;
    void gotoBookmark(const Bookmark& bookmark);

    // For a grid model: fetch one more packet without moving; returns the
    // number of rows it brought (0 when closed or all are in).
    std::size_t fetchMore();
    bool allFetched() const noexcept { return !active_ || allFetched_; }
    // True once a fetch of this opening failed: no further rows can come
    // (fetching throws again), until the dataset is opened or refreshed.
    bool fetchFailed() const noexcept { return active_ && fetchFailed_; }

    // Fetching elsewhere, on a thread that may wait for the engine while this
    // dataset's thread goes on: the source the open dataset reads (null when
    // closed) and the run of it whose rows it holds (fetch with
    // RowSource::fetchFromRun); the opening, which changes at every open.
    // Rows fetched so are handed back with appendFetched(), in order, and
    // only while opening() and sourceRun() are still the ones fetched for.
    RowSource* source() const noexcept { return active_ ? source_ : nullptr; }
    std::uint64_t sourceRun() const noexcept { return sourceRun_; }
    std::uint64_t opening() const noexcept { return generation_; }
    // Appends rows fetched elsewhere; `endReached`: the source has no more,
    // `failed`: the fetch failed after them (fetchFailed() from now on). The
    // current row stays; rowsAppended is told. Does nothing when closed.
    void appendFetched(RowStore&& rows, bool endReached, bool failed);

    std::size_t fieldCount() const noexcept { return fields_.size(); }
    const Field& field(std::size_t index) const { return fields_.at(index); }
    const std::vector<Field>& fields() const noexcept { return fields_; }
    const std::vector<Column>& columns() const noexcept { return columns_; }
    // Position of the first field of that name (ASCII case ignored), or -1.
    int fieldIndex(std::string_view name) const noexcept;

    // A cell's text as users see it (ValueText.h), and its canonical bytes.
    QString text(std::size_t row, std::size_t column) const;
    RowStore::Cell cell(std::size_t row, std::size_t column) const { return rows_.cell(row, column); }
    // The same for the current row.
    QString fieldText(std::size_t column) const;
    const RowStore& rows() const noexcept { return rows_; }

    void setValueFormatter(const ValueFormatter& formatter);
    const ValueFormatter& valueFormatter() const noexcept { return formatter_; }

    // Notifications, all on the dataset's thread, after the change:
    // the current row changed or a navigation call ended (also after open
    // when there is a first row, and after refresh);
    void setAfterScroll(std::function<void()> callback) { afterScroll_ = std::move(callback); }
    // rows [first, first + count) were fetched and appended;
    void setRowsAppended(std::function<void(std::size_t first, std::size_t count)> callback) {
        rowsAppended_ = std::move(callback);
    }
    // every row and field is about to change / has changed (open, close,
    // refresh): a model drops what it knows before and reads again after.
    void setBeforeReset(std::function<void()> callback) { beforeReset_ = std::move(callback); }
    void setAfterReset(std::function<void()> callback) { afterReset_ = std::move(callback); }

private:
    void checkActive() const;
    RowSource& currentSource() const;
    std::size_t fetchPacket(std::size_t wanted, bool notify);
    std::size_t rowsPerPacket() const noexcept;
    void buildFields();
    void notifyAppended(std::size_t first);
    void scrolled();

    DataSetProvider* provider_ = nullptr;
    RowSource* source_ = nullptr;
    std::uint64_t sourceRun_ = 0;
    int packetRecords_ = kAllRecords;
    bool active_ = false;
    bool allFetched_ = false;
    bool fetchFailed_ = false;
    bool bof_ = true;
    bool eof_ = true;
    std::size_t current_ = 0;
    std::uint64_t generation_ = 0;
    std::vector<Column> columns_;
    std::vector<Field> fields_;
    RowStore rows_;
    ValueFormatter formatter_;
    std::function<void()> afterScroll_;
    std::function<void(std::size_t, std::size_t)> rowsAppended_;
    std::function<void()> beforeReset_;
    std::function<void()> afterReset_;
};

// The characters a field of this column needs on screen (Field::displayWidth).
int displayWidth(const Column& column, const ValueFormatter& formatter);

}  // namespace tarnwell::db
