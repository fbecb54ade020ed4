#include "query/ResultGridModel.h"

#include <exception>
#include <limits>

#include "dataaccess/ClientDataSet.h"
#include "shell/Application.h"

namespace tarnwell {

namespace {

// The grid's row indicator at the current row.
const QString kCurrentRowMark = QStringLiteral("▸");

int clampedInt(std::size_t value) {
    return value > static_cast<std::size_t>(std::numeric_limits<int>::max())
               ? std::numeric_limits<int>::max()
               : static_cast<int>(value);
}

}  // namespace

ResultGridModel::ResultGridModel(db::ClientDataSet& dataSet, QObject* parent)
    : QAbstractTableModel(parent), dataSet_(dataSet) {
    knownRows_ = dataSet_.active() ? clampedInt(dataSet_.recordCount()) : 0;
    knownColumns_ = clampedInt(dataSet_.fieldCount());
    dataSet_.setBeforeReset([this] { beginResetModel(); });
    dataSet_.setAfterReset([this] {
        knownRows_ = dataSet_.active() ? clampedInt(dataSet_.recordCount()) : 0;
        knownColumns_ = clampedInt(dataSet_.fieldCount());
        currentRow_ = -1;
        endResetModel();
    });
    dataSet_.setRowsAppended([this](std::size_t first, std::size_t count) { rowsAppended(first, count); });
}

ResultGridModel::~ResultGridModel() { detach(); }

void ResultGridModel::detach() {
    if (!attached_) {
        return;
    }
    attached_ = false;
    dataSet_.setBeforeReset({});
    dataSet_.setAfterReset({});
    dataSet_.setRowsAppended({});
}

void ResultGridModel::rowsAppended(std::size_t first, std::size_t count) {
    const int last = clampedInt(first + count) - 1;
    if (last < knownRows_) {
        return;
    }
    beginInsertRows({}, knownRows_, last);
    knownRows_ = last + 1;
    endInsertRows();
}

int ResultGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : knownRows_;
}

int ResultGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : knownColumns_;
}

QVariant ResultGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= knownRows_ || index.column() >= knownColumns_) {
        return {};
    }
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        return dataSet_.text(static_cast<std::size_t>(index.row()),
                             static_cast<std::size_t>(index.column()));
    }
    return {};
}

QVariant ResultGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= knownColumns_) {
            return {};
        }
        return QString::fromStdString(dataSet_.field(static_cast<std::size_t>(section)).displayName);
    }
    return section == currentRow_ ? kCurrentRowMark : QString();
}

Qt::ItemFlags ResultGridModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled;
}

bool ResultGridModel::canFetchMore(const QModelIndex& parent) const {
    // After a failed fetch the grid stops asking: each ask would only show
    // the same error again.
    return !parent.isValid() && !fetchingHeld_ && dataSet_.active() && !dataSet_.allFetched() &&
           !dataSet_.fetchFailed();
}

void ResultGridModel::fetchMore(const QModelIndex& parent) {
    if (!canFetchMore(parent)) {
        return;
    }
    try {
        dataSet_.fetchMore();
    } catch (const std::exception& error) {
        // The view asks from deep inside its painting and scrolling; the
        // error goes to the general handler here rather than through Qt.
        reportUnhandledError(error);
    }
}

void ResultGridModel::dataSetScrolled() {
    const int previous = currentRow_;
    currentRow_ = dataSet_.active() && !dataSet_.isEmpty() ? clampedInt(dataSet_.currentRow()) : -1;
    if (previous >= 0 && previous < knownRows_) {
        emit headerDataChanged(Qt::Vertical, previous, previous);
    }
    if (currentRow_ >= 0) {
        emit headerDataChanged(Qt::Vertical, currentRow_, currentRow_);
        emit currentRowChanged(currentRow_);
    }
}

}  // namespace tarnwell
