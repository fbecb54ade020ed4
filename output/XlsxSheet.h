#pragma once

#include <QLocale>
#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "output/FileReplacement.h"
#include "output/SpreadsheetAutomation.h"

class QTemporaryDir;
struct lxw_format;
struct lxw_workbook;
struct lxw_worksheet;

namespace tarnwell {

// A spreadsheet application that writes its one workbook, of one sheet, to an
// .xlsx file: the query window's export and the command line's both drive it.
//
// Memory stays flat however many rows come: a row is written out as soon as a
// later row is touched, so rows must come in order (a call on a row already
// written throws std::logic_error), and a format set on a range is kept as a
// rectangle, not per cell. A merge spans one row. Column widths are fitted at
// autoFit() from every text written so far (a wide CJK character counts two).
//
// A text set as a value is written as a number when the cell's number format
// is not text ("@") and the text reads as a number (a sign, digits with
// `numberLocale`'s decimal separator, an exponent; no digit groups), as a
// spreadsheet does with what is typed into it; otherwise it stays the text it
// was. Numbers are written in the file's own form whatever the process's C
// locale.
//
// The library writes its work files and the workbook by name: they go to a
// folder of the process's own (mode 0700) in the system's temporary folder,
// and the workbook reaches its path through FileReplacement.h, so the
// target is checked (a device, a pipe or a read-only file is refused) before
// any row is written, and replaced in one step. The file appears at its
// path only when release() or save() has written it whole; until then
// nothing is there, and destroying the sheet unsaved leaves nothing behind.
// What the library would print on standard error when it fails goes into
// the error's message instead.
class XlsxSheet final : public SpreadsheetApplication {
public:
    struct Options {
        QLocale numberLocale = QLocale::system();
        // Called by release() with the written file when the sheet was made
        // visible: shows it to the user.
        std::function<void(const QString& path)> show;
        // Make a new file, never replace one (a name chosen to be free).
        bool createOnly = false;
        // Asked right before the file replaces its target: a stop then
        // keeps the target as it was (save() throws OperationCanceled).
        const Feedback* stop = nullptr;
    };

    static constexpr int kMaxRows = 1'048'576;
    static constexpr int kMaxColumns = 16'384;
    static constexpr int kMaxTextLength = 32'767;
    static constexpr double kMaxColumnWidth = 255;

    explicit XlsxSheet(QString path);
    XlsxSheet(QString path, Options options);
    ~XlsxSheet() override;
    XlsxSheet(const XlsxSheet&) = delete;
    XlsxSheet& operator=(const XlsxSheet&) = delete;

    const QString& path() const noexcept { return path_; }

    // Writes the file; the sheet takes no further calls.
    void save();

    void setVisible(bool visible) override { visible_ = visible; }
    void addWorkbook() override;
    void addWorksheet() override;
    void setPageOrientation(int orientation) override;
    CellArea range(const QString& reference) override;
    CellArea cells(int row, int column) override;
    CellArea allCells() override;
    CellArea entireColumn(const CellArea& area) override;
    void merge(const CellArea& area) override;
    void setFontName(const CellArea& area, const QString& name) override;
    void setFontSize(const CellArea& area, double points) override;
    void setNumberFormatLocal(const CellArea& area, const QString& format) override;
    void setHorizontalAlignment(const CellArea& area, int alignment) override;
    void setValue(const CellArea& area, const QString& value) override;
    void setBordersLineStyle(const CellArea& area, int lineStyle) override;
    void autoFit(const CellArea& area) override;
    void release() override;

private:
    enum Property { FontName, FontSize, NumberFormat, Alignment, Border, kPropertyCount };
    // One property as the latest call set it; `order` tells which call came
    // last where a cell's own setting and a range's meet (0: never set).
    struct Setting {
        std::uint64_t order = 0;
        QString text;
        double number = 0;
    };
    using Settings = std::array<Setting, kPropertyCount>;
    // What a cell ends up with: for each property the setting that came last,
    // pointing into the cell or a range (valid until the next call).
    using Resolved = std::array<const Setting*, kPropertyCount>;
    // A format of the library, by what it sets (unset: empty or 0).
    struct FormatKey {
        QString fontName;
        double fontSize = 0;
        QString numberFormat;
        int alignment = 0;
        int border = 0;
        bool matches(const Resolved& resolved) const;
    };
    struct RangeFormat {
        CellArea area;
        Settings settings;
    };
    struct PendingCell {
        enum class Kind : std::uint8_t { None, Text, Number } kind = Kind::None;
        bool touched = false;
        std::string text;  // UTF-8
        double number = 0;
        QString shown;     // what the cell shows, for the column width
        Settings settings;
    };

    lxw_worksheet& sheet();
    void checkArea(const CellArea& area) const;
    void set(const CellArea& area, Property property, Setting setting);
    // Makes `row` the row being filled, writing out the one before.
    void reachRow(int row);
    void writePendingRow();
    void writeBlankRows(int fromRow, int toRow);
    void writeCell(int row, int column, const PendingCell* cell);
    Resolved resolved(int row, int column, const PendingCell* cell) const;
    PendingCell& pendingCell(int column);
    lxw_format* formatFor(const Resolved& settings);
    bool readNumber(const QString& text, double& number) const;
    void noteWidth(int column, const QString& shown, const Resolved& settings);
    double widthOf(const QString& shown, const Resolved& settings) const;
    void check(int error, const char* what) const;
    void checkRowFile();
    int closeWorkbook(std::string& libraryWords);
    void discard() noexcept;

    QString path_;
    Options options_;
    std::optional<FileReplacement> target_;
    std::unique_ptr<QTemporaryDir> workFolder_;
    std::string workbookPath_;  // where the library writes the workbook, in workFolder_
    std::string tempDir_;
    lxw_workbook* workbook_ = nullptr;
    lxw_worksheet* worksheet_ = nullptr;
    bool visible_ = false;
    bool finished_ = false;
    std::uint64_t nextOrder_ = 1;

    std::vector<RangeFormat> rangeFormats_;
    int pendingRow_ = 0;  // 0: none yet
    // By column - 1; the first pendingColumns_ belong to the row, the rest are
    // kept for the rows to come so that their buffers are not made anew.
    std::vector<PendingCell> pendingCells_;
    std::size_t pendingColumns_ = 0;
    std::vector<CellArea> pendingMerges_;
    int highestFormattedRow_ = 0;

    QChar decimalPoint_;
    QChar minusSign_;
    std::vector<std::pair<FormatKey, lxw_format*>> formats_;
    std::size_t lastFormat_ = 0;
    std::vector<double> contentWidths_;  // by column - 1
    std::map<int, double> fittedWidths_;
};

}  // namespace tarnwell
