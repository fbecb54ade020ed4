#include "report/ReportListing.h"

#include <QStringList>
#include <algorithm>
#include <cmath>

#include "output/TextColumns.h"
#include "report/ReportDocument.h"

namespace tarnwell {

namespace {

constexpr double kA4LengthMm = 297;
constexpr double kA4WidthMm = 210;
constexpr double kMarginMm = 10;
constexpr double kLabelTop = 2;
constexpr double kSummaryHeight = 25;
constexpr int kSqlTabColumns = 4;

bool isBlankOrControl(QChar c) { return c.unicode() <= 0x20 || (c.unicode() >= 0x7F && c.unicode() < 0xA0); }

bool isControl(QChar c) { return c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() < 0xA0); }

QStringView trimmedOfBlanks(QStringView text) {
    qsizetype start = 0;
    qsizetype end = text.size();
    while (start < end && isBlankOrControl(text.at(start))) {
        ++start;
    }
    while (end > start && isBlankOrControl(text.at(end - 1))) {
        --end;
    }
    return text.sliced(start, end - start);
}

// Line separators too: a label would start a new line at them.
QString withControlsAsBlanks(const QString& text) {
    QString result = text;
    for (QChar& c : result) {
        if (isControl(c) || c == QChar::LineSeparator || c == QChar::ParagraphSeparator) {
            c = u' ';
        }
    }
    return result;
}

void appendPiece(QString& line, const QString& text, int width) {
    const QString cut = leadingColumns(withControlsAsBlanks(text), width).toString();
    line += padColumn(cut, QStringLiteral(" "), u'R', width);
    line += u' ';
}

// Tabs would vanish from the page (a label draws no control characters).
QString withTabsExpanded(const QString& text) {
    if (!text.contains(u'\t')) {
        return text;
    }
    QString result;
    int column = 0;
    for (const QChar c : text) {
        if (c == u'\t') {
            const int blanks = kSqlTabColumns - column % kSqlTabColumns;
            result += QString(blanks, u' ');
            column += blanks;
        } else {
            result += c;
            column = (c == u'\n' || c == u'\r') ? 0 : column + displayColumns(QStringView(&c, 1));
        }
    }
    return result;
}

int lineCount(const QString& text) {
    QString normalized = text;
    normalized.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    return static_cast<int>(normalized.count(u'\n')) + 1;
}

// The line spacing the engine gives text of `font`, in report pixels.
double lineSpacingOf(const QFont& font) {
    ReportDefinition probe;
    probe.summary.addLabel().font = font;
    return ReportPageFormat(probe).lineSpacing(0);
}

}  // namespace

QString padColumn(const QString& text, const QString& fill, QChar side, int width) {
    const int n = std::max(0, width - displayColumns(trimmedOfBlanks(text)));
    const QString padding = fill.repeated(n);
    return side == u'R' ? text + padding : padding + text;
}

int listingColumnWidth(const QString& text, const QString& fieldName) {
    bool valid = false;
    const int width = text.toInt(&valid, 10);
    if (!valid) {
        throw ReportError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    }
    if (width < 0 || width > kMaxListingColumnWidth) {
        throw ReportError(QStringLiteral("欄位「%1」的長度 %2 不在 0 到 %3 之間")
                              .arg(fieldName, text, QString::number(kMaxListingColumnWidth)));
    }
    return width;
}

QString listingHeaderLine(const std::vector<ListingColumn>& columns) {
    QString line;
    for (const ListingColumn& column : columns) {
        appendPiece(line, column.caption, column.width);
    }
    return line;
}

QString listingRecordLine(const std::vector<ListingColumn>& columns, const std::function<QString(int field)>& valueOf) {
    QString line;
    for (const ListingColumn& column : columns) {
        appendPiece(line, valueOf(column.field), column.width);
    }
    return line;
}

double listingFontPoints(const QFont& font) {
    if (font.pointSizeF() > 0) {
        return font.pointSizeF();
    }
    if (font.pixelSize() > 0) {
        return font.pixelSize() * 72.0 / kReportPixelsPerInch;
    }
    return 0;
}

// --- ListingFeed ---

void ListingFeed::setRecords(std::unique_ptr<ListingRecords> records) { records_ = std::move(records); }

void ListingFeed::restart() {
    delivered_ = 0;
    if (records_) {
        records_->first();
    }
}

bool ListingFeed::next(QString& line) {
    if (!records_ || records_->atEnd() || (limit_ != 0 && delivered_ >= limit_)) {
        delivered_ = 0;
        return false;
    }
    line = listingRecordLine(columns_, [this](int field) { return records_->value(field); });
    records_->next();
    ++delivered_;
    return true;
}

// --- The report definition ---

ListingBands defineListing(ReportDefinition& definition) {
    definition.page.lengthMm = kA4LengthMm;
    definition.page.widthMm = kA4WidthMm;
    definition.page.orientation = QPageLayout::Portrait;
    definition.page.marginsMm = QMarginsF(kMarginMm, kMarginMm, kMarginMm, kMarginMm);

    ListingBands bands;
    bands.definition = &definition;
    bands.pageHeader = &definition.pageHeader;
    bands.columnHeader = &definition.columnHeader;
    bands.detail = &definition.detail;
    bands.summary = &definition.summary;
    bands.pageHeader->ruleBelow = true;
    bands.columnHeader->ruleBelow = true;
    bands.summary->height = kSummaryHeight;

    bands.title = &bands.pageHeader->addLabel();
    bands.title->alignment = Qt::AlignHCenter;
    bands.fieldNames = &bands.columnHeader->addLabel();
    bands.data = &bands.detail->addLabel();
    bands.sql = &bands.summary->addLabel();
    for (ReportLabel* label : {bands.title, bands.fieldNames, bands.data, bands.sql}) {
        label->top = kLabelTop;
    }
    return bands;
}

void applyListingSettings(const ListingBands& bands, const ListingSettings& settings) {
    ReportPageSetup& page = bands.definition->page;
    page.lengthMm = settings.paperLengthMm;
    page.widthMm = settings.paperWidthMm;
    page.orientation = settings.portrait ? QPageLayout::Portrait : QPageLayout::Landscape;

    bands.title->text = settings.title;
    bands.title->font = settings.titleFont;
    bands.pageHeader->height = 2 * listingFontPoints(settings.titleFont) + 4;
    bands.pageHeader->enabled = settings.printTitle;

    const double detailPoints = listingFontPoints(settings.detailFont);
    bands.fieldNames->font = settings.detailFont;
    bands.columnHeader->height = 2 * detailPoints + 2;
    bands.fieldNames->text = settings.headerLine;
    bands.data->font = settings.detailFont;
    bands.detail->height = 2 * detailPoints + 1;

    bands.definition->documentTitle = settings.printTitle ? settings.title : QString();

    // An empty summary band would only push a page of headers out after a
    // full last page.
    bands.sql->text = settings.printSql ? withTabsExpanded(settings.sql) : QString();
    bands.sql->font = settings.sqlFont;
    bands.summary->height = kSummaryHeight;
    bands.summary->enabled = !bands.sql->text.isEmpty();
    if (bands.summary->enabled) {
        const double needed = 2 * kLabelTop + lineCount(bands.sql->text) * lineSpacingOf(settings.sqlFont);
        // A summary taller than a page could never be placed whole.
        double room = reportBody(page).height() - bands.columnHeader->height;
        if (bands.pageHeader->enabled) {
            room -= bands.pageHeader->height;
        }
        bands.summary->height = std::max(kSummaryHeight, std::min(std::ceil(needed), room));
    }
}

}  // namespace tarnwell
