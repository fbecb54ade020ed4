#pragma once

#include <QList>
#include <QStringList>
#include <QTableView>
#include <optional>

namespace tarnwell {

class ResultGridModel;

// The result grid: a table of a ResultGridModel whose columns start at the
// width of their field's display width in the grid's font, or, for text of
// no declared size, of the widest value of the rows the result came with
// (at least the header's, at most kStartingCharacters characters), keep the widths the
// user gave them while the same fields come back (a refresh, the same
// statement run again), and fit their contents on a double click on a
// header's border (the rows shown and the next ones, up to kFittedRows rows,
// at most kFittedCharacters characters wide).
//
// Its selected cells are copied as tab-separated text (Ctrl+C, or "複製" in
// its context menu; "複製(含欄位名稱)" puts the field names first): a line
// per selected row, a value per selected column, empty where a cell of the
// block is not selected, lines ending in a line feed except the last. A
// value holding a tab, a line break or a leading double quote is put in
// double quotes with its own doubled, as spreadsheets read it. A selection of
// more than kMostCopiedCells cells, or whose text grows past
// kMostCopiedCharacters characters, is refused with a message, and the
// clipboard keeps what it held.
class ResultGrid : public QTableView {
    Q_OBJECT
public:
    static constexpr int kStartingCharacters = 40;
    static constexpr int kFittedCharacters = 100;
    static constexpr int kFittedRows = 1000;
    static constexpr qsizetype kMostCopiedCells = 1000000;
    static constexpr qsizetype kMostCopiedCharacters = 16 * 1024 * 1024;

    explicit ResultGrid(QWidget* parent = nullptr);

    void setModel(QAbstractItemModel* model) override;

    // Puts the selected cells (the current one when none is selected) on the
    // clipboard.
    void copySelection(bool withFieldNames);

    int sizeHintForColumn(int column) const override;

signals:
    // Ctrl+End: the last record of the result, not merely the last row held
    // (whoever shows the grid fetches the rest).
    void lastRecordRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    ResultGridModel* resultModel() const;
    // The widest first line of the values of `column` in rows `first` to
    // `end` - 1, in pixels with the cell's margins, at most `most`.
    int widestValue(int column, int first, int end, int most) const;
    // The text of a copy; nothing when there is nothing to copy, or too
    // much (`refusal` then says why).
    std::optional<QString> selectionText(bool withFieldNames, QString& refusal) const;
    // The widths of the pixels that `characters` average characters and a
    // cell's margins take in the grid's font.
    int widthOfCharacters(int characters) const;
    void rememberWidths();
    void startWidths();

    // The columns' headers and widths before the model was reset.
    QStringList widthsFor_;
    QList<int> widths_;
};

}  // namespace tarnwell
