#include "query/ResultGridModel.h"

#include <QStringList>
#include <algorithm>
#include <exception>
#include <limits>

#include "dataaccess/ClientDataSet.h"
#include "dataaccess/FieldKind.h"

namespace tarnwell {

namespace {

// The grid's row indicator at the current row.
const QString kCurrentRowMark = QStringLiteral("▸");

int clampedInt(std::size_t value) {
    return value > static_cast<std::size_t>(std::numeric_limits<int>::max())
               ? std::numeric_limits<int>::max()
               : static_cast<int>(value);
}

// Where a line of at most `length` characters starting at `from` ends: at
// the last blank of its second half when there is one, and never between the
// two halves of a character outside the basic plane.
qsizetype lineEnd(const QString& text, qsizetype from, qsizetype length) {
    qsizetype end = from + length;
    if (end >= text.size()) {
        return text.size();
    }
    for (qsizetype blank = end; blank > from + length / 2; --blank) {
        if (text.at(blank - 1) == QLatin1Char(' ')) {
            return blank;
        }
    }
    if (text.at(end).isLowSurrogate()) {
        --end;
    }
    return end;
}

}  // namespace

QString toolTipExcerpt(const QString& value) {
    qsizetype cut = std::min<qsizetype>(value.size(), kToolTipCharacters);
    if (cut < value.size() && value.at(cut).isLowSurrogate()) {
        --cut;
    }
    bool shortened = cut < value.size();
    QString kept = value.left(cut);
    kept.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    kept.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QStringList lines;
    const QStringList paragraphs = kept.split(QLatin1Char('\n'));
    for (qsizetype paragraph = 0; paragraph < paragraphs.size() && !(shortened && lines.size() == kToolTipLines);
         ++paragraph) {
        const QString& text = paragraphs.at(paragraph);
        qsizetype from = 0;
        do {
            if (lines.size() == kToolTipLines) {
                shortened = true;  // more text than lines
                break;
            }
            const qsizetype end = lineEnd(text, from, kToolTipLineLength);
            lines << text.mid(from, end - from);
            from = end;
        } while (from < text.size());
    }
    if (shortened) {
        lines.last() += QStringLiteral("…");
    }
    for (QString& line : lines) {
        line = line.toHtmlEscaped();
    }
    return QStringLiteral("<p style=\"white-space:pre-wrap\">") + lines.join(QStringLiteral("<br>")) +
           QStringLiteral("</p>");
}

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
    const auto row = static_cast<std::size_t>(index.row());
    const auto column = static_cast<std::size_t>(index.column());
    switch (role) {
        case Qt::DisplayRole: {
            QString text = dataSet_.text(row, column);
            if (text.size() > kShownCharacters) {
                text.truncate(text.at(kShownCharacters).isLowSurrogate() ? kShownCharacters - 1 : kShownCharacters);
                text += QStringLiteral("…");
            }
            return text;
        }
        case Qt::ToolTipRole: {
            const QString text = dataSet_.text(row, column);
            return text.isEmpty() ? QVariant() : QVariant(toolTipExcerpt(text));
        }
        case Qt::TextAlignmentRole:
            return QVariant::fromValue(
                Qt::Alignment(db::isNumberKind(dataSet_.field(column).dataType) ? Qt::AlignRight : Qt::AlignLeft) |
                Qt::AlignVCenter);
        default:
            return {};
    }
}

int ResultGridModel::displayWidth(int column) const {
    if (column < 0 || column >= knownColumns_) {
        return 0;
    }
    return dataSet_.field(static_cast<std::size_t>(column)).displayWidth;
}

bool ResultGridModel::hasDeclaredWidth(int column) const {
    if (column < 0 || column >= knownColumns_) {
        return false;
    }
    const db::Field& field = dataSet_.field(static_cast<std::size_t>(column));
    using K = db::FieldKind;
    switch (field.dataType) {
    case K::String:
    case K::FixedChar:
    case K::WideString:
        return field.size > 0;
    case K::Memo:
    case K::FmtMemo:
    case K::Unknown:
        return false;
    default:
        return true;
    }
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
    if (fetchRequest_) {
        fetchRequest_();
        return;
    }
    try {
        dataSet_.fetchMore();
    } catch (const std::exception& error) {
        // The view asks from deep inside its painting and scrolling: the
        // error must not pass through Qt.
        emit fetchFailed(QString::fromUtf8(error.what()));
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
