#include "dataaccess/ClientDataSet.h"

#include <QDate>
#include <QTime>

#include <algorithm>
#include <atomic>
#include <limits>

#include "dataaccess/DbError.h"
#include "dataaccess/ParamList.h"

namespace tarnwell::db {

namespace {

constexpr std::size_t kEveryRow = std::numeric_limits<std::size_t>::max();

// Bookmarks of one dataset never match another dataset's or another opening's.
std::uint64_t nextGeneration() {
    static std::atomic<std::uint64_t> counter{0};
    return ++counter;
}

int widthOfSample(const ValueFormatter& formatter, FieldKind kind, const char* canonical) {
    const RowStore::Cell cell{false, canonical};
    return static_cast<int>(formatter.text(kind, cell).size());
}

}  // namespace

int displayWidth(const Column& column, const ValueFormatter& formatter) {
    switch (column.kind) {
        case FieldKind::String:
        case FieldKind::FixedChar:
        case FieldKind::WideString:
            return column.size > 0 ? column.size : 20;
        case FieldKind::Smallint:
            return 6;
        case FieldKind::Word:
            return 5;
        case FieldKind::Integer:
        case FieldKind::AutoInc:
            return 11;
        case FieldKind::LargeInt:
            return 20;
        case FieldKind::Boolean:
            return 5;
        case FieldKind::Float:
            return 10;
        case FieldKind::BCD:
        case FieldKind::FMTBcd:
        case FieldKind::Currency:
            return column.precision > 0 ? column.precision + 2 : 10;
        case FieldKind::Date:
            return widthOfSample(formatter, FieldKind::Date, "2000-12-28");
        case FieldKind::Time:
            return widthOfSample(formatter, FieldKind::Time, "23:59:59");
        case FieldKind::DateTime:
        case FieldKind::TimeStamp:
            return widthOfSample(formatter, FieldKind::DateTime, "2000-12-28 23:59:59");
        case FieldKind::Guid:
            return 38;
        default:
            return 10;
    }
}

ClientDataSet::ClientDataSet() = default;
ClientDataSet::~ClientDataSet() = default;

void ClientDataSet::checkActive() const {
    if (!active_) {
        throw DbError("Cannot perform this operation on a closed dataset");
    }
}

RowSource& ClientDataSet::currentSource() const {
    if (source_ == nullptr || !source_->active() || source_->runId() != sourceRun_) {
        throw DbError(kResultClosedOrRunAgain);
    }
    return *source_;
}

std::size_t ClientDataSet::rowsPerPacket() const noexcept {
    return packetRecords_ > 0 ? static_cast<std::size_t>(packetRecords_) : kEveryRow;
}

std::size_t ClientDataSet::fetchPacket(std::size_t wanted, bool notify) {
    if (allFetched_) {
        return 0;
    }
    RowSource& source = currentSource();
    const std::size_t before = rows_.rowCount();
    std::size_t fetched = 0;
    try {
        fetched = source.fetchFromRun(rows_, wanted, sourceRun_);
    } catch (...) {
        fetchFailed_ = true;
        // Rows that came before the failure are kept and shown.
        if (notify) {
            notifyAppended(before);
        }
        throw;
    }
    if (fetched < wanted || source.atEnd()) {
        allFetched_ = true;
    }
    if (notify) {
        notifyAppended(before);
    }
    return fetched;
}

void ClientDataSet::notifyAppended(std::size_t first) {
    const std::size_t count = rows_.rowCount() - first;
    if (count > 0 && rowsAppended_) {
        rowsAppended_(first, count);
    }
}

void ClientDataSet::scrolled() {
    if (afterScroll_) {
        afterScroll_();
    }
}

void ClientDataSet::buildFields() {
    fields_.clear();
    fields_.reserve(columns_.size());
    int position = 0;
    for (const Column& column : columns_) {
        Field field;
        field.fieldName = column.name;
        field.fullName = column.name;
        field.displayLabel = column.name;
        field.displayName = column.name;
        field.displayWidth = displayWidth(column, formatter_);
        field.dataType = column.kind;
        field.size = column.size;
        field.precision = column.precision;
        field.fieldNo = ++position;
        fields_.push_back(std::move(field));
    }
}

void ClientDataSet::open() {
    if (active_) {
        return;
    }
    RowSource* source = provider_ != nullptr ? provider_->dataSet() : nullptr;
    if (source == nullptr || !source->active()) {
        throw DbError("Missing data provider or data packet");
    }
    if (beforeReset_) {
        beforeReset_();
    }
    source_ = source;
    sourceRun_ = source->runId();
    columns_ = source->columns();
    buildFields();
    rows_.reset(columns_.size());
    allFetched_ = false;
    fetchFailed_ = false;
    current_ = 0;
    generation_ = nextGeneration();
    try {
        fetchPacket(rowsPerPacket(), false);
    } catch (...) {
        source_ = nullptr;
        columns_.clear();
        fields_.clear();
        rows_.reset(0);
        if (afterReset_) {
            afterReset_();
        }
        throw;
    }
    active_ = true;
    bof_ = true;
    eof_ = rows_.rowCount() == 0;
    if (afterReset_) {
        afterReset_();
    }
    if (rows_.rowCount() > 0) {
        scrolled();
    }
}

void ClientDataSet::close() {
    if (!active_) {
        return;
    }
    if (beforeReset_) {
        beforeReset_();
    }
    active_ = false;
    source_ = nullptr;
    sourceRun_ = 0;
    columns_.clear();
    fields_.clear();
    rows_.reset(0);
    allFetched_ = false;
    current_ = 0;
    bof_ = eof_ = true;
    generation_ = 0;
    if (afterReset_) {
        afterReset_();
    }
}

void ClientDataSet::setActive(bool active) {
    if (active) {
        open();
    } else {
        close();
    }
}

void ClientDataSet::first() {
    checkActive();
    current_ = 0;
    bof_ = true;
    eof_ = rows_.rowCount() == 0;
    scrolled();
}

void ClientDataSet::prior() {
    checkActive();
    if (current_ > 0) {
        --current_;
        bof_ = false;
    } else {
        bof_ = true;
    }
    eof_ = rows_.rowCount() == 0;
    scrolled();
}

void ClientDataSet::next() {
    checkActive();
    if (current_ + 1 >= rows_.rowCount()) {
        fetchPacket(rowsPerPacket(), true);
    }
    if (current_ + 1 < rows_.rowCount()) {
        ++current_;
        bof_ = false;
        eof_ = false;
    } else {
        eof_ = true;
    }
    scrolled();
}

void ClientDataSet::last() {
    checkActive();
    fetchPacket(kEveryRow, true);
    const std::size_t count = rows_.rowCount();
    current_ = count > 0 ? count - 1 : 0;
    bof_ = count == 0;
    eof_ = true;
    scrolled();
}

bool ClientDataSet::moveTo(std::size_t row) {
    checkActive();
    while (row >= rows_.rowCount() && !allFetched_) {
        fetchPacket(rowsPerPacket(), true);
    }
    if (row >= rows_.rowCount()) {
        return false;
    }
    current_ = row;
    bof_ = false;
    eof_ = false;
    scrolled();
    return true;
}

void ClientDataSet::refresh() {
    checkActive();
    if (source_ == nullptr || source_->runId() != sourceRun_) {
        currentSource();  // throws the reason
    }
    const std::size_t wanted = allFetched_ ? kEveryRow : rows_.rowCount();
    // Until the new rows are in, the rows held stay, and they stay tied to
    // the earlier run: should this fail, no later fetch appends rows of the
    // new run to them.
    source_->rerun();
    std::vector<Column> columns = source_->columns();
    RowStore fresh(columns.size());
    const std::size_t fetched = wanted == 0 ? 0 : source_->fetch(fresh, wanted);
    const bool all = fetched < wanted || source_->atEnd();
    sourceRun_ = source_->runId();

    if (beforeReset_) {
        beforeReset_();
    }
    const bool sameColumns = columns.size() == columns_.size() &&
                             std::equal(columns.begin(), columns.end(), columns_.begin(),
                                        [](const Column& a, const Column& b) {
                                            return a.name == b.name && a.kind == b.kind && a.size == b.size;
                                        });
    if (!sameColumns) {
        columns_ = std::move(columns);
        buildFields();
    }
    rows_ = std::move(fresh);
    allFetched_ = all;
    fetchFailed_ = false;
    const std::size_t count = rows_.rowCount();
    current_ = count == 0 ? 0 : std::min(current_, count - 1);
    bof_ = current_ == 0;
    eof_ = count == 0;
    if (afterReset_) {
        afterReset_();
    }
    scrolled();
}

Bookmark ClientDataSet::bookmark() const {
    checkActive();
    return Bookmark{current_, generation_};
}

bool ClientDataSet::bookmarkValid(const Bookmark& bookmark) const noexcept {
    return active_ && bookmark.generation != 0 && bookmark.generation == generation_ &&
           bookmark.row < rows_.rowCount();
}

void ClientDataSet::gotoBookmark(const Bookmark& bookmark) {
    checkActive();
    if (!bookmarkValid(bookmark)) {
        throw DbError("Record not found");
    }
    current_ = bookmark.row;
    bof_ = false;
    eof_ = false;
    scrolled();
}

std::size_t ClientDataSet::fetchMore() {
    if (!active_ || allFetched_) {
        return 0;
    }
    return fetchPacket(rowsPerPacket(), true);
}

void ClientDataSet::appendFetched(RowStore&& rows, bool endReached, bool failed) {
    if (!active_) {
        return;
    }
    const std::size_t before = rows_.rowCount();
    rows_.append(std::move(rows));
    allFetched_ = allFetched_ || endReached;
    fetchFailed_ = fetchFailed_ || failed;
    notifyAppended(before);
}

int ClientDataSet::fieldIndex(std::string_view name) const noexcept {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (equalsIgnoringCase(fields_[i].fieldName, name)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

QString ClientDataSet::text(std::size_t row, std::size_t column) const {
    return formatter_.text(columns_.at(column).kind, rows_.cell(row, column));
}

QString ClientDataSet::fieldText(std::size_t column) const {
    checkActive();
    if (rows_.rowCount() == 0) {
        return QString();
    }
    return text(current_, column);
}

void ClientDataSet::setValueFormatter(const ValueFormatter& formatter) {
    formatter_ = formatter;
    buildFields();
}

}  // namespace tarnwell::db
