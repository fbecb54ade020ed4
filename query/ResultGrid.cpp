#include "query/ResultGrid.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QStyle>
#include <algorithm>
#include <utility>
#include <vector>

#include "dataaccess/ClientDataSet.h"
#include "query/ResultGridModel.h"
#include "ui/Prompt.h"

namespace tarnwell {

namespace {

// Inclusive spans of rows or columns.
using Spans = std::vector<std::pair<int, int>>;

void mergeSpans(Spans& spans) {
    std::sort(spans.begin(), spans.end());
    Spans merged;
    for (const auto& span : spans) {
        if (!merged.empty() && span.first <= merged.back().second + 1) {
            merged.back().second = std::max(merged.back().second, span.second);
        } else {
            merged.push_back(span);
        }
    }
    spans = std::move(merged);
}

qsizetype spannedCount(const Spans& spans) {
    qsizetype count = 0;
    for (const auto& [first, last] : spans) {
        count += last - first + 1;
    }
    return count;
}

std::vector<int> spannedNumbers(const Spans& spans) {
    std::vector<int> numbers;
    for (const auto& [first, last] : spans) {
        for (int n = first; n <= last; ++n) {
            numbers.push_back(n);
        }
    }
    return numbers;
}

std::size_t positionOf(const std::vector<int>& numbers, int n) {
    return static_cast<std::size_t>(std::lower_bound(numbers.begin(), numbers.end(), n) - numbers.begin());
}

// A value as one field of tab-separated text that spreadsheets read back as
// it was.
void appendField(QString& text, const QString& value) {
    const bool quoted = value.contains(QLatin1Char('\t')) || value.contains(QLatin1Char('\n')) ||
                        value.contains(QLatin1Char('\r')) || value.startsWith(QLatin1Char('"'));
    if (!quoted) {
        text += value;
        return;
    }
    text += QLatin1Char('"');
    text += QString(value).replace(QLatin1Char('"'), QStringLiteral("\"\""));
    text += QLatin1Char('"');
}

QString tooMuchToCopy() {
    return QStringLiteral("選取的資料太多，無法複製：一次最多複製 %1 格、%2 個字")
        .arg(ResultGrid::kMostCopiedCells)
        .arg(ResultGrid::kMostCopiedCharacters);
}

}  // namespace

ResultGrid::ResultGrid(QWidget* parent) : QTableView(parent) {
    auto* copy = new QAction(QStringLiteral("複製"), this);
    copy->setObjectName(QStringLiteral("MenuCopy"));
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetShortcut);
    connect(copy, &QAction::triggered, this, [this] { copySelection(false); });
    auto* copyWithFieldNames = new QAction(QStringLiteral("複製(含欄位名稱)"), this);
    copyWithFieldNames->setObjectName(QStringLiteral("MenuCopyWithFieldNames"));
    connect(copyWithFieldNames, &QAction::triggered, this, [this] { copySelection(true); });
    addAction(copy);
    addAction(copyWithFieldNames);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

ResultGridModel* ResultGrid::resultModel() const { return qobject_cast<ResultGridModel*>(model()); }

void ResultGrid::setModel(QAbstractItemModel* newModel) {
    if (model() != nullptr) {
        disconnect(model(), nullptr, this, nullptr);
    }
    QTableView::setModel(newModel);
    widthsFor_.clear();
    widths_.clear();
    if (newModel == nullptr) {
        return;
    }
    // After the header's own handling of the reset, which gives every
    // section the default width.
    connect(newModel, &QAbstractItemModel::modelAboutToBeReset, this, &ResultGrid::rememberWidths);
    connect(newModel, &QAbstractItemModel::modelReset, this, &ResultGrid::startWidths);
    startWidths();
}

int ResultGrid::widthOfCharacters(int characters) const {
    const int margins = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1) +
                        (showGrid() ? 1 : 0);
    return characters * fontMetrics().averageCharWidth() + margins;
}

void ResultGrid::rememberWidths() {
    const QAbstractItemModel* current = model();
    const int columns = current->columnCount();
    // A result that closes before the next one opens leaves no columns to
    // remember: the widths of the one before stay.
    if (columns == 0) {
        return;
    }
    widthsFor_.clear();
    widths_.clear();
    for (int column = 0; column < columns; ++column) {
        widthsFor_ << current->headerData(column, Qt::Horizontal).toString();
        widths_ << columnWidth(column);
    }
}

void ResultGrid::startWidths() {
    const ResultGridModel* current = resultModel();
    if (current == nullptr) {
        return;
    }
    const int columns = current->columnCount();
    if (columns == 0) {
        return;
    }
    QStringList headers;
    for (int column = 0; column < columns; ++column) {
        headers << current->headerData(column, Qt::Horizontal).toString();
    }
    const bool sameFields = headers == widthsFor_;
    const int most = widthOfCharacters(kStartingCharacters);
    // The rows the result came with: its first packet.
    const int firstRows = std::min(current->rowCount(), kFittedRows);
    for (int column = 0; column < columns; ++column) {
        const int content = current->hasDeclaredWidth(column) ? widthOfCharacters(current->displayWidth(column))
                                                              : widestValue(column, 0, firstRows, most);
        const int width =
            sameFields ? widths_.at(column) : std::max(std::min(content, most), horizontalHeader()->sectionSizeHint(column));
        setColumnWidth(column, width);
    }
}

int ResultGrid::widestValue(int column, int first, int end, int most) const {
    const db::ClientDataSet& dataSet = resultModel()->dataSet();
    const int margins = widthOfCharacters(0);
    int widest = 0;
    for (int row = first; row < end && widest < most; ++row) {
        QString text = dataSet.text(static_cast<std::size_t>(row), static_cast<std::size_t>(column));
        // A cell shows its first line; more characters than fit would not
        // count.
        const qsizetype lineBreak = text.indexOf(QLatin1Char('\n'));
        text.truncate(std::min<qsizetype>(lineBreak < 0 ? text.size() : lineBreak, kFittedCharacters * 2));
        widest = std::max(widest, fontMetrics().horizontalAdvance(text) + margins);
    }
    return std::min(widest, most);
}

int ResultGrid::sizeHintForColumn(int column) const {
    const ResultGridModel* current = resultModel();
    if (current == nullptr) {
        return QTableView::sizeHintForColumn(column);
    }
    const int rows = current->rowCount();
    if (column < 0 || column >= current->columnCount() || rows == 0) {
        return 0;
    }
    const int first = std::max(0, rowAt(0));
    return widestValue(column, first, std::min(rows, first + kFittedRows), widthOfCharacters(kFittedCharacters));
}

std::optional<QString> ResultGrid::selectionText(bool withFieldNames, QString& refusal) const {
    const ResultGridModel* current = resultModel();
    if (current == nullptr || current->rowCount() == 0 || current->columnCount() == 0) {
        return std::nullopt;
    }
    QItemSelection selection = selectionModel()->selection();
    if (selection.isEmpty()) {
        if (!currentIndex().isValid()) {
            return std::nullopt;
        }
        selection.select(currentIndex(), currentIndex());
    }
    // The block of rows and columns that hold a selected cell.
    Spans rowSpans;
    Spans columnSpans;
    qsizetype selectedCells = 0;
    for (const QItemSelectionRange& range : std::as_const(selection)) {
        if (range.isValid()) {
            rowSpans.emplace_back(range.top(), range.bottom());
            columnSpans.emplace_back(range.left(), range.right());
            selectedCells += static_cast<qsizetype>(range.height()) * range.width();
        }
    }
    mergeSpans(rowSpans);
    mergeSpans(columnSpans);
    const qsizetype blockCells = spannedCount(rowSpans) * spannedCount(columnSpans);
    if (blockCells == 0) {
        return std::nullopt;
    }
    if (blockCells > kMostCopiedCells || selectedCells > kMostCopiedCells) {
        refusal = tooMuchToCopy();
        return std::nullopt;
    }
    const std::vector<int> rows = spannedNumbers(rowSpans);
    const std::vector<int> columns = spannedNumbers(columnSpans);
    // Which cells of the block are selected, unless one range is the block.
    std::vector<bool> selected;
    if (selection.size() > 1) {
        selected.assign(rows.size() * columns.size(), false);
        for (const QItemSelectionRange& range : std::as_const(selection)) {
            for (int row = range.top(); range.isValid() && row <= range.bottom(); ++row) {
                const std::size_t rowAt = positionOf(rows, row) * columns.size();
                for (int column = range.left(); column <= range.right(); ++column) {
                    selected[rowAt + positionOf(columns, column)] = true;
                }
            }
        }
    }

    const db::ClientDataSet& dataSet = current->dataSet();
    QString text;
    if (withFieldNames) {
        for (std::size_t j = 0; j < columns.size(); ++j) {
            if (j > 0) {
                text += QLatin1Char('\t');
            }
            appendField(text, current->headerData(columns[j], Qt::Horizontal).toString());
        }
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i > 0 || withFieldNames) {
            text += QLatin1Char('\n');
        }
        for (std::size_t j = 0; j < columns.size(); ++j) {
            if (j > 0) {
                text += QLatin1Char('\t');
            }
            if (selected.empty() || selected[i * columns.size() + j]) {
                appendField(text, dataSet.text(static_cast<std::size_t>(rows[i]),
                                               static_cast<std::size_t>(columns[j])));
            }
        }
        if (text.size() > kMostCopiedCharacters) {
            refusal = tooMuchToCopy();
            return std::nullopt;
        }
    }
    return text;
}

void ResultGrid::copySelection(bool withFieldNames) {
    QString refusal;
    const std::optional<QString> text = selectionText(withFieldNames, refusal);
    if (text) {
        QApplication::clipboard()->setText(*text);
    } else if (!refusal.isEmpty()) {
        prompt().showMessage(refusal);
    }
}

void ResultGrid::keyPressEvent(QKeyEvent* event) {
    // The view's own copy takes the current cell alone.
    if (event->matches(QKeySequence::Copy)) {
        copySelection(false);
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_End && event->modifiers() == Qt::ControlModifier) {
        emit lastRecordRequested();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

}  // namespace tarnwell
