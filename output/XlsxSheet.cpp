#include "output/XlsxSheet.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <locale.h>
#include <sched.h>
#include <stdexcept>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>

#include <xlsxwriter.h>

#include "output/Feedback.h"
#include "output/TextColumns.h"

namespace tarnwell {

namespace {

constexpr double kDefaultFontSize = 11;  // the library's default font, Calibri 11
constexpr int xlLeft = -4131;
constexpr int xlLineStyleNone = -4142;

// The library prints numbers (cell values, widths, margins) with printf, which
// follows the thread's numeric locale: under a decimal comma the file would not
// open. Its calls run under the C locale instead.
class CNumericLocale {
public:
    CNumericLocale() : previous_(::uselocale(cLocale())) {}
    ~CNumericLocale() { ::uselocale(previous_); }
    CNumericLocale(const CNumericLocale&) = delete;
    CNumericLocale& operator=(const CNumericLocale&) = delete;

private:
    static locale_t cLocale() {
        static const locale_t c = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
        return c;
    }
    locale_t previous_;
};

// libxlsxwriter reports the failures of workbook_close() (a full disc, say)
// by printing on standard error itself, where a batch run's messages and a
// script's log would get them. Descriptor 2 belongs to every thread of the
// process, so it is not redirected: the close runs on a thread of its own
// that has its own copy of the descriptor table, whose descriptor 2 is a
// memory file read afterwards; every other thread writes where it did.
//
// What the library opened before the close (the rows' work file) is then
// closed by the library in the copy only, and closed here in the process's
// own table. Where the system refuses a table of its own, the close runs
// as it is and its words reach standard error as they always did.
lxw_error closeCapturingLibraryWords(lxw_workbook* workbook, FILE* rowFile, std::string& words) {
    const int captured = ::memfd_create("libxlsxwriter-messages", MFD_CLOEXEC);
    const int rowDescriptor = rowFile != nullptr ? ::fileno(rowFile) : -1;
    bool ownTable = false;
    lxw_error error = LXW_NO_ERROR;
    std::thread closing([&] {
        const CNumericLocale cLocale;
        ownTable = captured >= 0 && ::unshare(CLONE_FILES) == 0;
        if (ownTable) {
            ::dup2(captured, STDERR_FILENO);
        }
        error = workbook_close(workbook);
    });
    closing.join();
    if (ownTable && rowDescriptor >= 0) {
        ::close(rowDescriptor);
    }
    if (captured >= 0) {
        char buffer[4096];
        const ssize_t length = ::pread(captured, buffer, sizeof buffer, 0);
        if (length > 0) {
            words.assign(buffer, static_cast<std::size_t>(length));
        }
        ::close(captured);
    }
    return error;
}

// The system's reason in what the library said ("... System error = No
// space left on device"), or nothing.
QString systemReasonIn(const std::string& words) {
    const std::string::size_type at = words.rfind("System error = ");
    if (at == std::string::npos) {
        return {};
    }
    std::string reason = words.substr(at + 15);
    reason.erase(reason.find_last_not_of(" \r\n") + 1);
    return QString::fromLocal8Bit(reason);
}

// "B7" or "$B$7" into row and column; false when it is no cell name.
bool parseCell(QStringView text, int& row, int& column) {
    qsizetype i = 0;
    auto skipDollar = [&] {
        if (i < text.size() && text[i] == u'$') {
            ++i;
        }
    };
    skipDollar();
    long long col = 0;
    const qsizetype lettersStart = i;
    while (i < text.size() && text[i].isLetter() && text[i].unicode() < 128) {
        col = col * 26 + (text[i].toUpper().unicode() - u'A' + 1);
        if (col > XlsxSheet::kMaxColumns) {
            return false;
        }
        ++i;
    }
    if (i == lettersStart) {
        return false;
    }
    skipDollar();
    long long r = 0;
    const qsizetype digitsStart = i;
    while (i < text.size() && text[i].isDigit() && text[i].unicode() < 128) {
        r = r * 10 + (text[i].unicode() - u'0');
        if (r > XlsxSheet::kMaxRows) {
            return false;
        }
        ++i;
    }
    if (i == digitsStart || i != text.size() || r < 1) {
        return false;
    }
    row = static_cast<int>(r);
    column = static_cast<int>(col);
    return true;
}

// Readers turn _xHHHH_ in a text into the character it names (the library
// writes control characters that way); an underscore that would start such an
// escape is escaped itself, so texts come back as they were.
//
// A cell holds no NUL character (the file's XML cannot): one shows as U+FFFD,
// the replacement character, so that what follows it is kept and the cell
// shows that something stood there.
std::string sheetText(const QString& text) {
    static const QRegularExpression escapeStart(QStringLiteral("_(?=x[0-9A-Fa-f]{4}_)"));
    if (!text.contains(u"_x") && !text.contains(QChar(0))) {
        return text.toStdString();
    }
    return QString(text)
        .replace(QChar(0), QChar(QChar::ReplacementCharacter))
        .replace(escapeStart, QStringLiteral("_x005F_"))
        .toStdString();
}

lxw_format_alignments alignmentOf(int alignment) {
    switch (alignment) {
    case xlCenter: return LXW_ALIGN_CENTER;
    case xlRight: return LXW_ALIGN_RIGHT;
    case xlLeft: return LXW_ALIGN_LEFT;
    default: return LXW_ALIGN_NONE;
    }
}

}  // namespace

XlsxSheet::XlsxSheet(QString path) : XlsxSheet(std::move(path), Options()) {}

XlsxSheet::XlsxSheet(QString path, Options options) : path_(std::move(path)), options_(std::move(options)) {
    const QString point = options_.numberLocale.decimalPoint();
    const QString minus = options_.numberLocale.negativeSign();
    decimalPoint_ = point.size() == 1 ? point[0] : QChar(u'.');
    minusSign_ = minus.size() == 1 ? minus[0] : QChar(u'-');
}

XlsxSheet::~XlsxSheet() {
    if (!finished_) {
        discard();
    }
}

void XlsxSheet::discard() noexcept {
    if (workbook_ != nullptr) {
        // Freeing the workbook leaves the rows' work file open.
        if (worksheet_ != nullptr && worksheet_->optimize_tmpfile != nullptr) {
            std::fclose(worksheet_->optimize_tmpfile);
            worksheet_->optimize_tmpfile = nullptr;
        }
        lxw_workbook_free(workbook_);
        workbook_ = nullptr;
        worksheet_ = nullptr;
    }
    target_.reset();
    workFolder_.reset();
}

void XlsxSheet::check(int error, const char* what) const {
    if (error != LXW_NO_ERROR) {
        throw std::runtime_error(QStringLiteral("無法寫出試算表檔 %1: %2 (%3)")
                                     .arg(path_, QString::fromUtf8(lxw_strerror(static_cast<lxw_error>(error))),
                                          QString::fromLatin1(what))
                                     .toStdString());
    }
}

lxw_worksheet& XlsxSheet::sheet() {
    if (finished_) {
        throw std::logic_error("the sheet was written already");
    }
    if (worksheet_ == nullptr) {
        throw std::logic_error("no worksheet was added");
    }
    return *worksheet_;
}

// --- Workbook and sheet ------------------------------------------------------------

void XlsxSheet::addWorkbook() {
    if (workbook_ != nullptr || finished_) {
        throw std::logic_error("the sheet holds one workbook");
    }
    // A target that cannot be replaced is refused before any row is written.
    FileReplacement::Options replacement;
    replacement.createOnly = options_.createOnly;
    target_.emplace(path_, replacement);
    workFolder_ = std::make_unique<QTemporaryDir>();
    if (!workFolder_->isValid()) {
        const QString reason = workFolder_->errorString();
        target_.reset();
        workFolder_.reset();
        throw std::runtime_error(
            QStringLiteral("無法建立試算表檔 %1: 無法建立暫存資料夾: %2").arg(path_, reason).toStdString());
    }
    workbookPath_ = QFile::encodeName(workFolder_->filePath(QStringLiteral("workbook.xlsx"))).toStdString();
    tempDir_ = QFile::encodeName(workFolder_->path()).toStdString();
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    options.tmpdir = tempDir_.data();
    options.use_zip64 = LXW_TRUE;
    workbook_ = workbook_new_opt(workbookPath_.c_str(), &options);
    if (workbook_ == nullptr) {
        throw std::runtime_error(QStringLiteral("無法建立試算表檔 %1").arg(path_).toStdString());
    }
}

void XlsxSheet::addWorksheet() {
    if (workbook_ == nullptr) {
        throw std::logic_error("no workbook was added");
    }
    if (worksheet_ != nullptr) {
        throw std::logic_error("the workbook holds one sheet");
    }
    worksheet_ = workbook_add_worksheet(workbook_, nullptr);
    // Rows go to a work file in the private folder as they are written.
    if (worksheet_ == nullptr || worksheet_->optimize_tmpfile == nullptr) {
        worksheet_ = nullptr;
        throw std::runtime_error(QStringLiteral("無法在 %1 寫入暫存檔: %2")
                                     .arg(workFolder_->path(), QString::fromLocal8Bit(std::strerror(errno)))
                                     .toStdString());
    }
}

void XlsxSheet::setPageOrientation(int orientation) {
    lxw_worksheet& ws = sheet();
    if (orientation == xlLandscape) {
        worksheet_set_landscape(&ws);
    } else if (orientation == 1) {
        worksheet_set_portrait(&ws);
    } else {
        throw std::invalid_argument("unknown page orientation " + std::to_string(orientation));
    }
}

// --- Ranges ----------------------------------------------------------------------------

CellArea XlsxSheet::range(const QString& reference) {
    const QStringView text(reference);
    const qsizetype colon = text.indexOf(u':');
    CellArea area;
    const bool ok = colon < 0 ? parseCell(text, area.firstRow, area.firstColumn)
                              : parseCell(text.first(colon), area.firstRow, area.firstColumn) &&
                                    parseCell(text.sliced(colon + 1), area.lastRow, area.lastColumn);
    if (!ok) {
        throw std::runtime_error(
            QStringLiteral("「%1」不是試算表裡的儲存格範圍 (最多 %2 列、%3 欄)")
                .arg(reference)
                .arg(kMaxRows)
                .arg(kMaxColumns)
                .toStdString());
    }
    if (colon < 0) {
        area.lastRow = area.firstRow;
        area.lastColumn = area.firstColumn;
    }
    if (area.lastRow < area.firstRow) {
        std::swap(area.firstRow, area.lastRow);
    }
    if (area.lastColumn < area.firstColumn) {
        std::swap(area.firstColumn, area.lastColumn);
    }
    return area;
}

CellArea XlsxSheet::cells(int row, int column) {
    const CellArea area{row, column, row, column};
    checkArea(area);
    return area;
}

CellArea XlsxSheet::allCells() { return {1, 1, kMaxRows, kMaxColumns}; }

CellArea XlsxSheet::entireColumn(const CellArea& area) {
    return {1, area.firstColumn, kMaxRows, area.lastColumn};
}

void XlsxSheet::checkArea(const CellArea& area) const {
    if (area.firstRow < 1 || area.lastRow > kMaxRows || area.firstColumn < 1 || area.lastColumn > kMaxColumns ||
        area.firstRow > area.lastRow || area.firstColumn > area.lastColumn) {
        throw std::runtime_error(QStringLiteral("儲存格 (%1, %2) 到 (%3, %4) 超出試算表的範圍 (最多 %5 列、%6 欄)")
                                     .arg(area.firstRow)
                                     .arg(area.firstColumn)
                                     .arg(area.lastRow)
                                     .arg(area.lastColumn)
                                     .arg(kMaxRows)
                                     .arg(kMaxColumns)
                                     .toStdString());
    }
}

// --- Formats -------------------------------------------------------------------------------

void XlsxSheet::setFontName(const CellArea& area, const QString& name) {
    set(area, FontName, {0, name, 0});
}

void XlsxSheet::setFontSize(const CellArea& area, double points) {
    if (!(points >= 1 && points <= 409)) {
        throw std::invalid_argument("font size out of range");
    }
    set(area, FontSize, {0, QString(), points});
}

void XlsxSheet::setNumberFormatLocal(const CellArea& area, const QString& format) {
    set(area, NumberFormat, {0, format, 0});
}

void XlsxSheet::setHorizontalAlignment(const CellArea& area, int alignment) {
    if (alignment != xlCenter && alignment != xlRight && alignment != xlLeft) {
        throw std::invalid_argument("unknown horizontal alignment " + std::to_string(alignment));
    }
    set(area, Alignment, {0, QString(), static_cast<double>(alignment)});
}

void XlsxSheet::setBordersLineStyle(const CellArea& area, int lineStyle) {
    if (lineStyle != xlContinuous && lineStyle != xlLineStyleNone) {
        throw std::invalid_argument("unknown border line style " + std::to_string(lineStyle));
    }
    set(area, Border, {0, QString(), static_cast<double>(lineStyle)});
}

void XlsxSheet::set(const CellArea& area, Property property, Setting setting) {
    sheet();
    checkArea(area);
    setting.order = nextOrder_++;
    if (area.firstRow == area.lastRow) {
        // A range of one row belongs to the row being filled: its cells keep
        // the setting themselves and it is gone with the row.
        reachRow(area.firstRow);
        for (int column = area.firstColumn; column <= area.lastColumn; ++column) {
            PendingCell& cell = pendingCell(column);
            cell.touched = true;
            cell.settings[property] = setting;
        }
        return;
    }
    if (pendingRow_ > 0 && area.firstRow < pendingRow_) {
        throw std::logic_error("rows before " + std::to_string(pendingRow_) + " are written already");
    }
    if (rangeFormats_.empty() || !(rangeFormats_.back().area == area)) {
        rangeFormats_.push_back({area, {}});
    }
    rangeFormats_.back().settings[property] = std::move(setting);
    if (area.lastRow < kMaxRows) {
        highestFormattedRow_ = std::max(highestFormattedRow_, area.lastRow);
    }
}

XlsxSheet::PendingCell& XlsxSheet::pendingCell(int column) {
    const auto count = static_cast<std::size_t>(column);
    if (pendingCells_.size() < count) {
        pendingCells_.resize(count);
    }
    pendingColumns_ = std::max(pendingColumns_, count);
    return pendingCells_[count - 1];
}

XlsxSheet::Resolved XlsxSheet::resolved(int row, int column, const PendingCell* cell) const {
    static const Setting unset;
    Resolved out;
    for (int p = 0; p < kPropertyCount; ++p) {
        out[p] = cell != nullptr ? &cell->settings[p] : &unset;
    }
    for (const RangeFormat& format : rangeFormats_) {
        if (!format.area.contains(row, column)) {
            continue;
        }
        for (int p = 0; p < kPropertyCount; ++p) {
            if (format.settings[p].order > out[p]->order) {
                out[p] = &format.settings[p];
            }
        }
    }
    return out;
}

bool XlsxSheet::FormatKey::matches(const Resolved& r) const {
    const auto text = [](const Setting* s) { return s->order != 0 ? s->text : QString(); };
    const auto number = [](const Setting* s) { return s->order != 0 ? s->number : 0.0; };
    return fontSize == number(r[FontSize]) && alignment == static_cast<int>(number(r[Alignment])) &&
           border == static_cast<int>(number(r[Border])) && fontName == text(r[FontName]) &&
           numberFormat == text(r[NumberFormat]);
}

lxw_format* XlsxSheet::formatFor(const Resolved& settings) {
    if (std::all_of(settings.begin(), settings.end(), [](const Setting* s) { return s->order == 0; })) {
        return nullptr;
    }
    // A sheet has few formats, and neighbouring cells mostly share one.
    if (lastFormat_ < formats_.size() && formats_[lastFormat_].first.matches(settings)) {
        return formats_[lastFormat_].second;
    }
    for (std::size_t i = 0; i < formats_.size(); ++i) {
        if (formats_[i].first.matches(settings)) {
            lastFormat_ = i;
            return formats_[i].second;
        }
    }
    lxw_format* format = workbook_add_format(workbook_);
    if (format == nullptr) {
        throw std::runtime_error("無法寫出試算表檔: 記憶體不足");
    }
    FormatKey key;
    if (settings[FontName]->order != 0) {
        key.fontName = settings[FontName]->text;
        format_set_font_name(format, key.fontName.toUtf8().constData());
    }
    if (settings[FontSize]->order != 0) {
        key.fontSize = settings[FontSize]->number;
        format_set_font_size(format, key.fontSize);
    }
    if (settings[NumberFormat]->order != 0) {
        key.numberFormat = settings[NumberFormat]->text;
        format_set_num_format(format, key.numberFormat.toUtf8().constData());
    }
    if (settings[Alignment]->order != 0) {
        key.alignment = static_cast<int>(settings[Alignment]->number);
        format_set_align(format, alignmentOf(key.alignment));
    }
    if (settings[Border]->order != 0) {
        key.border = static_cast<int>(settings[Border]->number);
        if (key.border == xlContinuous) {
            format_set_border(format, LXW_BORDER_THIN);
        }
    }
    formats_.emplace_back(std::move(key), format);
    lastFormat_ = formats_.size() - 1;
    return format;
}

// A sign, digits with at most one decimal separator of the locale, and an
// exponent: what a spreadsheet takes as a number when it is typed in. "1,234"
// under a decimal point is no number (value texts never group their digits).
bool XlsxSheet::readNumber(const QString& text, double& number) const {
    char buffer[64];
    std::size_t length = 0;
    bool digits = false;
    bool point = false;
    bool exponent = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (length + 1 >= sizeof buffer) {
            return false;
        }
        const QChar ch = text[i];
        const bool signPlace = i == 0 || (exponent && (buffer[length - 1] == 'e'));
        if (ch.unicode() >= u'0' && ch.unicode() <= u'9') {
            buffer[length++] = static_cast<char>(ch.unicode());
            digits = true;
        } else if (ch == decimalPoint_ && !point && !exponent) {
            buffer[length++] = '.';
            point = true;
        } else if ((ch == minusSign_ || ch == u'-') && signPlace) {
            buffer[length++] = '-';
        } else if (ch == u'+' && signPlace) {
            // from_chars takes no plus sign.
        } else if ((ch == u'e' || ch == u'E') && digits && !exponent) {
            buffer[length++] = 'e';
            exponent = true;
        } else {
            return false;
        }
    }
    if (!digits || buffer[length - 1] == 'e' || buffer[length - 1] == '-') {
        return false;
    }
    const auto [end, error] = std::from_chars(buffer, buffer + length, number);
    return error == std::errc() && end == buffer + length && std::isfinite(number);
}

// --- Values ------------------------------------------------------------------------------

void XlsxSheet::merge(const CellArea& area) {
    sheet();
    checkArea(area);
    if (area.firstRow != area.lastRow) {
        throw std::logic_error("a merge spans one row");
    }
    if (area.firstColumn == area.lastColumn) {
        return;
    }
    reachRow(area.firstRow);
    pendingCell(area.lastColumn);
    pendingMerges_.push_back(area);
}

void XlsxSheet::setValue(const CellArea& area, const QString& value) {
    sheet();
    checkArea(area);
    if (value.size() > kMaxTextLength) {
        throw std::runtime_error(QStringLiteral("第 %1 列第 %2 欄的內容有 %3 個字元，超過試算表一格最多 %4 個字元")
                                     .arg(area.firstRow)
                                     .arg(area.firstColumn)
                                     .arg(value.size())
                                     .arg(kMaxTextLength)
                                     .toStdString());
    }
    for (int row = area.firstRow; row <= area.lastRow; ++row) {
        reachRow(row);
        for (int column = area.firstColumn; column <= area.lastColumn; ++column) {
            PendingCell& cell = pendingCell(column);
            cell.touched = true;
            cell.shown = value;
            cell.kind = PendingCell::Kind::None;
            cell.text.clear();
            if (value.isEmpty()) {
                continue;
            }
            // The cell's format now decides, as when the text is typed in.
            const Setting* format = resolved(row, column, &cell)[NumberFormat];
            if ((format->order == 0 || format->text != QLatin1String("@")) && readNumber(value, cell.number)) {
                cell.kind = PendingCell::Kind::Number;
                continue;
            }
            cell.kind = PendingCell::Kind::Text;
            cell.text = sheetText(value);
        }
    }
}

// --- Rows ------------------------------------------------------------------------------

void XlsxSheet::reachRow(int row) {
    if (row == pendingRow_) {
        return;
    }
    if (row < pendingRow_) {
        throw std::logic_error("row " + std::to_string(row) + " is written already: rows go in order");
    }
    const CNumericLocale cLocale;
    if (pendingRow_ > 0) {
        writePendingRow();
    }
    writeBlankRows(pendingRow_ + 1, row - 1);
    pendingRow_ = row;
    std::erase_if(rangeFormats_, [row](const RangeFormat& format) { return format.area.lastRow < row; });
}

void XlsxSheet::writePendingRow() {
    lxw_worksheet& ws = sheet();
    const int row = pendingRow_;
    const auto libraryRow = static_cast<lxw_row_t>(row - 1);
    for (const CellArea& merged : pendingMerges_) {
        const PendingCell& first = pendingCells_[static_cast<std::size_t>(merged.firstColumn - 1)];  // merge() made it
        lxw_format* format = formatFor(resolved(row, merged.firstColumn, &first));
        check(worksheet_merge_range(&ws, libraryRow, static_cast<lxw_col_t>(merged.firstColumn - 1), libraryRow,
                                    static_cast<lxw_col_t>(merged.lastColumn - 1), "", format),
              "merge_range");
    }
    int lastColumn = static_cast<int>(pendingColumns_);
    for (const RangeFormat& format : rangeFormats_) {
        if (format.area.lastRow < kMaxRows && format.area.contains(row, format.area.firstColumn)) {
            lastColumn = std::max(lastColumn, format.area.lastColumn);
        }
    }
    for (int column = 1; column <= lastColumn; ++column) {
        const PendingCell* cell = column <= static_cast<int>(pendingColumns_)
                                      ? &pendingCells_[static_cast<std::size_t>(column - 1)]
                                      : nullptr;
        if (cell != nullptr && !cell->touched) {
            cell = nullptr;
        }
        writeCell(row, column, cell);
    }
    for (std::size_t i = 0; i < pendingColumns_; ++i) {
        PendingCell& cell = pendingCells_[i];
        cell.touched = false;
        cell.kind = PendingCell::Kind::None;
        cell.text.clear();
        cell.shown.clear();
        for (Setting& setting : cell.settings) {
            setting.order = 0;
        }
    }
    pendingColumns_ = 0;
    pendingMerges_.clear();
}

void XlsxSheet::writeBlankRows(int fromRow, int toRow) {
    for (int row = fromRow; row <= std::min(toRow, highestFormattedRow_); ++row) {
        for (const RangeFormat& format : rangeFormats_) {
            if (format.area.lastRow == kMaxRows || !format.area.contains(row, format.area.firstColumn)) {
                continue;
            }
            for (int column = format.area.firstColumn; column <= format.area.lastColumn; ++column) {
                writeCell(row, column, nullptr);
            }
        }
    }
}

void XlsxSheet::writeCell(int row, int column, const PendingCell* cell) {
    const Resolved settings = resolved(row, column, cell);
    lxw_format* format = formatFor(settings);
    const auto r = static_cast<lxw_row_t>(row - 1);
    const auto c = static_cast<lxw_col_t>(column - 1);
    const PendingCell::Kind kind = cell != nullptr ? cell->kind : PendingCell::Kind::None;
    switch (kind) {
    case PendingCell::Kind::Text:
        check(worksheet_write_string(worksheet_, r, c, cell->text.c_str(), format), "write_string");
        break;
    case PendingCell::Kind::Number:
        check(worksheet_write_number(worksheet_, r, c, cell->number, format), "write_number");
        break;
    case PendingCell::Kind::None:
        if (format == nullptr) {
            return;
        }
        check(worksheet_write_blank(worksheet_, r, c, format), "write_blank");
        return;
    }
    // Merged cells take no part in fitting their columns.
    for (const CellArea& merged : pendingMerges_) {
        if (merged.contains(row, column)) {
            return;
        }
    }
    noteWidth(column, cell->shown, settings);
}

// --- Column widths -----------------------------------------------------------------------

double XlsxSheet::widthOf(const QString& shown, const Resolved& settings) const {
    if (shown.isEmpty()) {
        return 0;
    }
    const double points = settings[FontSize]->order != 0 ? settings[FontSize]->number : kDefaultFontSize;
    // Widths count characters of the default font; a larger font needs more,
    // and a little room keeps the text off the cell's edges.
    return displayColumns(shown) * points / kDefaultFontSize + 1.0;
}

void XlsxSheet::noteWidth(int column, const QString& shown, const Resolved& settings) {
    const auto index = static_cast<std::size_t>(column - 1);
    if (contentWidths_.size() <= index) {
        contentWidths_.resize(index + 1, 0);
    }
    contentWidths_[index] = std::max(contentWidths_[index], widthOf(shown, settings));
}

void XlsxSheet::autoFit(const CellArea& area) {
    sheet();
    std::vector<double> widths = contentWidths_;
    for (std::size_t i = 0; i < pendingColumns_; ++i) {
        const PendingCell& cell = pendingCells_[i];
        const int column = static_cast<int>(i) + 1;
        const bool merged = std::any_of(pendingMerges_.begin(), pendingMerges_.end(),
                                        [&](const CellArea& m) { return m.contains(pendingRow_, column); });
        if (!cell.touched || cell.kind == PendingCell::Kind::None || merged) {
            continue;
        }
        if (widths.size() <= i) {
            widths.resize(i + 1, 0);
        }
        widths[i] = std::max(widths[i], widthOf(cell.shown, resolved(pendingRow_, column, &cell)));
    }
    const int last = std::min(area.lastColumn, static_cast<int>(widths.size()));
    for (int column = area.firstColumn; column <= last; ++column) {
        const double width = widths[static_cast<std::size_t>(column - 1)];
        if (width > 0) {
            fittedWidths_[column] = std::min(width, kMaxColumnWidth);
        }
    }
}

// --- Writing the file ----------------------------------------------------------------------

void XlsxSheet::save() {
    if (finished_) {
        throw std::logic_error("the sheet was written already");
    }
    if (workbook_ == nullptr) {
        throw std::logic_error("no workbook was added");
    }
    {
        const CNumericLocale cLocale;
        if (worksheet_ != nullptr) {
            if (pendingRow_ > 0) {
                writePendingRow();
            }
            writeBlankRows(pendingRow_ + 1, highestFormattedRow_);
            for (const auto& [column, width] : fittedWidths_) {
                const auto c = static_cast<lxw_col_t>(column - 1);
                check(worksheet_set_column(worksheet_, c, c, width, nullptr), "set_column");
            }
        }
    }
    checkRowFile();
    std::string libraryWords;
    const int error = closeWorkbook(libraryWords);
    if (error != LXW_NO_ERROR) {
        QString reason = QString::fromUtf8(lxw_strerror(static_cast<lxw_error>(error)));
        if (const QString system = systemReasonIn(libraryWords); !system.isEmpty()) {
            reason += QStringLiteral(" (") + system + u')';
        }
        discard();
        throw std::runtime_error(QStringLiteral("無法寫出試算表檔 %1: %2").arg(path_, reason).toStdString());
    }
    try {
        target_->copyFrom(QFile::decodeName(workbookPath_.c_str()));
        std::remove(workbookPath_.c_str());
        if (options_.stop != nullptr) {
            target_->commit(*options_.stop);
        } else {
            target_->commit();
        }
    } catch (...) {
        discard();
        throw;
    }
    discard();
}

// The library writes the rows to its work file as they come and never looks
// whether that worked: a full disc would leave a workbook without its last
// rows and no word of it.
void XlsxSheet::checkRowFile() {
    FILE* rowFile = worksheet_ != nullptr ? worksheet_->optimize_tmpfile : nullptr;
    if (rowFile == nullptr) {
        return;
    }
    errno = 0;
    if (std::fflush(rowFile) != 0 || std::ferror(rowFile) != 0) {
        const int code = errno;
        discard();
        throw std::runtime_error(QStringLiteral("無法寫出試算表檔 %1: %2")
                                     .arg(path_, code != 0 ? QString::fromLocal8Bit(std::strerror(code))
                                                           : QStringLiteral("暫存檔寫入失敗"))
                                     .toStdString());
    }
}

// Writes the workbook into the private folder; the library's own words on
// a failure come back in `libraryWords`.
int XlsxSheet::closeWorkbook(std::string& libraryWords) {
    FILE* rowFile = worksheet_ != nullptr ? worksheet_->optimize_tmpfile : nullptr;
    lxw_workbook* workbook = std::exchange(workbook_, nullptr);
    worksheet_ = nullptr;
    finished_ = true;
    return closeCapturingLibraryWords(workbook, rowFile, libraryWords);
}

void XlsxSheet::release() {
    if (finished_ || workbook_ == nullptr) {
        // Nothing was started that could be shown.
        finished_ = true;
        return;
    }
    save();
    if (visible_ && options_.show) {
        options_.show(path_);
    }
}

}  // namespace tarnwell
