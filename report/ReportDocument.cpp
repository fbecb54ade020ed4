#include "report/ReportDocument.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QHash>
#include <QPaintDevice>
#include <QPainter>
#include <QVarLengthArray>
#include <algorithm>
#include <utility>

namespace tarnwell {

namespace {

// The TrueType Ming face: CJK characters exactly twice as wide as ASCII ones,
// and outlines that a PDF file embeds faithfully (faces with CFF outlines come
// out of the PDF writer mangled, so the report does not use them).
const QString kReportFallbackFamily = QStringLiteral("AR PL UMing TW");

// Text size in report pixels; a size given in points counts 96/72 of them.
double reportPixelSize(const QFont& font) {
    if (font.pixelSize() > 0) {
        return font.pixelSize();
    }
    return font.pointSizeF() > 0 ? font.pointSizeF() * kReportPixelsPerInch / 72.0 : 12.0;
}

bool hasTrueTypeOutlines(const QRawFont& raw) {
    static QHash<QString, bool> known;
    const QString key = raw.familyName() + u'\n' + raw.styleName();
    auto it = known.constFind(key);
    if (it == known.constEnd()) {
        it = known.insert(key, !raw.fontTable("loca").isEmpty());
    }
    return *it;
}

// A raw font reports the weight asked of it, not the face's own: the family's
// styles tell whether a real bold or italic face exists.
bool needsSynthesizedStyle(const QFont& font, const QString& family) {
    const bool bold = font.weight() >= QFont::DemiBold;
    if (!bold && !font.italic()) {
        return false;
    }
    bool hasBold = false;
    bool hasItalic = false;
    for (const QString& style : QFontDatabase::styles(family)) {
        hasBold = hasBold || QFontDatabase::weight(family, style) >= QFont::DemiBold;
        hasItalic = hasItalic || QFontDatabase::italic(family, style);
    }
    return (bold && !hasBold) || (font.italic() && !hasItalic);
}

QFont withFamily(QFont font, const QString& family) {
    font.setFamilies({family});
    return font;
}

QFont withFallbackFamily(QFont font) {
    QStringList families = font.families();
    if (families.isEmpty()) {
        families.append(font.family());
    }
    if (!families.contains(kReportFallbackFamily)) {
        families.append(kReportFallbackFamily);
    }
    font.setFamilies(families);
    return font;
}

// Characters the glyph-by-glyph path draws right: every script that needs no
// shaping. Marks, joiners and variation selectors need the text shaper.
bool drawsGlyphByGlyph(char32_t character) {
    switch (QChar::category(character)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Other_Format:
        return false;
    default:
        break;
    }
    if ((character >= 0x1100 && character <= 0x11FF) || (character >= 0xA960 && character <= 0xA97F) ||
        (character >= 0xD7B0 && character <= 0xD7FF)) {
        return false;  // conjoining Hangul letters
    }
    switch (QChar::script(character)) {
    case QChar::Script_Common:
    case QChar::Script_Latin:
    case QChar::Script_Greek:
    case QChar::Script_Cyrillic:
    case QChar::Script_Armenian:
    case QChar::Script_Georgian:
    case QChar::Script_Han:
    case QChar::Script_Hiragana:
    case QChar::Script_Katakana:
    case QChar::Script_Bopomofo:
    case QChar::Script_Hangul:
    case QChar::Script_Yi:
        return true;
    default:
        return false;
    }
}

bool isControl(char32_t character) { return character < 0x20 || (character >= 0x7F && character < 0xA0); }

struct Glyphs {
    QVarLengthArray<quint32, 256> indexes;
    QVarLengthArray<QPointF, 256> positions;
    QVarLengthArray<bool, 256> fromFallback;
};

void drawGlyphs(QPainter& painter, const QRawFont& raw, const QFont& font, QPointF origin,
                const quint32* indexes, const QPointF* positions, int count) {
    QGlyphRun run;
    run.setRawFont(raw);
    run.setRawData(indexes, positions, count);
    run.setUnderline(font.underline());
    run.setStrikeOut(font.strikeOut());
    painter.drawGlyphRun(origin, run);
}

double alignedLeft(const ReportTextRun& run, const QRectF& body, double width) {
    switch (run.alignment) {
    case ReportTextRun::kCentre:
        return body.left() + (body.width() - width) / 2;
    case ReportTextRun::kRight:
        return body.right() - width;
    default:
        return run.x;
    }
}

}  // namespace

// --- ReportPage ---

void ReportPage::addText(QStringView text, int font, std::uint16_t alignment, double x, double y) {
    ReportTextRun run;
    run.offset = static_cast<std::uint32_t>(text_.size());
    run.length = static_cast<std::uint32_t>(text.size());
    run.x = static_cast<float>(x);
    run.y = static_cast<float>(y);
    run.font = static_cast<std::uint16_t>(font);
    run.alignment = alignment;
    text_.append(text);
    runs_.push_back(run);
}

void ReportPage::addRule(double left, double right, double y) {
    rules_.push_back({static_cast<float>(left), static_cast<float>(right), static_cast<float>(y)});
}

void ReportPage::squeeze() {
    text_.squeeze();
    runs_.shrink_to_fit();
    rules_.shrink_to_fit();
}

QStringView ReportPage::textOf(const ReportTextRun& run) const {
    return QStringView(text_).sliced(run.offset, run.length);
}

std::size_t ReportPage::bytesHeld() const {
    return sizeof(ReportPage) + static_cast<std::size_t>(text_.capacity()) * sizeof(QChar) +
           runs_.capacity() * sizeof(ReportTextRun) + rules_.capacity() * sizeof(ReportRule);
}

// --- ReportPageFormat ---

ReportPageFormat::ReportPageFormat(const ReportDefinition& definition)
    : layout_(definition.page.pageLayout()),
      body_(reportBody(definition.page)),
      title_(definition.documentTitle) {
    const QSizeF sheet = layout_.fullRect(QPageLayout::Millimeter).size();
    sheet_ = QSizeF(millimetresToReportPixels(sheet.width()), millimetresToReportPixels(sheet.height()));
    for (const ReportBand* band : {&definition.pageHeader, &definition.columnHeader, &definition.detail,
                                   &definition.summary}) {
        for (const ReportLabel& label : band->labels) {
            if (fontIndex(label.font) < 0) {
                faces_.push_back(faceFor(label.font));
            }
        }
    }
}

ReportPageFormat::Face ReportPageFormat::faceFor(const QFont& font) {
    QFont request = font;
    request.setHintingPreference(QFont::PreferNoHinting);
    const double pixels = reportPixelSize(font);
    Face face;
    face.requested = font;
    face.font = font;
    face.fallback = QRawFont::fromFont(withFamily(request, kReportFallbackFamily));
    face.primary = QRawFont::fromFont(request);
    if (!face.primary.isValid() || !hasTrueTypeOutlines(face.primary)) {
        face.primary = face.fallback;
        face.font = withFamily(font, kReportFallbackFamily);
    }
    face.font = withFallbackFamily(face.font);
    face.synthesized = needsSynthesizedStyle(font, face.primary.familyName());
    face.primary.setPixelSize(pixels);
    face.fallback.setPixelSize(pixels);
    face.ascent = face.primary.ascent();
    face.lineSpacing = face.primary.ascent() + face.primary.descent() + face.primary.leading();
    return face;
}

int ReportPageFormat::fontIndex(const QFont& font) const {
    for (std::size_t i = 0; i < faces_.size(); ++i) {
        if (faces_[i].requested == font) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

const QFont& ReportPageFormat::font(int index) const {
    return faces_.at(static_cast<std::size_t>(index)).requested;
}

double ReportPageFormat::lineSpacing(int font) const {
    return faces_.at(static_cast<std::size_t>(font)).lineSpacing;
}

void ReportPageFormat::paint(QPainter& painter, const ReportPage& page) const {
    painter.save();
    painter.setClipRect(body_, Qt::IntersectClip);
    QPen pen(Qt::black);
    pen.setWidthF(1.0);
    painter.setPen(pen);
    for (const ReportRule& rule : page.rules()) {
        painter.drawLine(QLineF(rule.left, rule.y, rule.right, rule.y));
    }
    for (const ReportTextRun& run : page.runs()) {
        paintRun(painter, page, run);
    }
    painter.restore();
}

void ReportPageFormat::paintRun(QPainter& painter, const ReportPage& page, const ReportTextRun& run) const {
    const Face& face = faces_[run.font];
    const QStringView text = page.textOf(run);
    if (face.synthesized) {
        paintShaped(painter, text, run);
        return;
    }
    if (paintPlain(painter, face, text, run)) {
        return;
    }
    Glyphs glyphs;
    double pen = 0;
    for (qsizetype at = 0; at < text.size();) {
        const qsizetype start = at;
        char32_t character = text.at(at++).unicode();
        if (QChar::isHighSurrogate(character) && at < text.size() && text.at(at).isLowSurrogate()) {
            character = QChar::surrogateToUcs4(static_cast<char16_t>(character), text.at(at++).unicode());
        }
        if (isControl(character)) {
            continue;
        }
        if (!drawsGlyphByGlyph(character)) {
            paintShaped(painter, text, run);
            return;
        }
        const int units = static_cast<int>(at - start);
        quint32 index = 0;
        int count = 1;
        bool fallback = false;
        if (!face.primary.glyphIndexesForChars(text.data() + start, units, &index, &count) || index == 0) {
            count = 1;
            fallback = face.fallback.glyphIndexesForChars(text.data() + start, units, &index, &count) &&
                       index != 0;
            if (!fallback) {
                paintShaped(painter, text, run);
                return;
            }
        }
        QPointF advance;
        (fallback ? face.fallback : face.primary)
            .advancesForGlyphIndexes(&index, &advance, 1,
                                     QRawFont::SeparateAdvances | QRawFont::UseDesignMetrics);
        glyphs.indexes.append(index);
        glyphs.positions.append(QPointF(pen, 0));
        glyphs.fromFallback.append(fallback);
        pen += advance.x();
    }
    const QPointF origin(alignedLeft(run, body_, pen), run.y + face.ascent);
    // One glyph run per stretch of glyphs from the same face.
    for (qsizetype first = 0; first < glyphs.indexes.size();) {
        qsizetype end = first + 1;
        while (end < glyphs.indexes.size() && glyphs.fromFallback[end] == glyphs.fromFallback[first]) {
            ++end;
        }
        drawGlyphs(painter, glyphs.fromFallback[first] ? face.fallback : face.primary, face.font, origin,
                   glyphs.indexes.constData() + first, glyphs.positions.constData() + first,
                   static_cast<int>(end - first));
        first = end;
    }
}

bool ReportPageFormat::paintPlain(QPainter& painter, const Face& face, QStringView text,
                                  const ReportTextRun& run) const {
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        if (unit < 0x20 || (unit >= 0x7F && (unit < 0xA0 || c.isSurrogate() || !drawsGlyphByGlyph(unit)))) {
            return false;
        }
    }
    const int length = static_cast<int>(text.size());
    QVarLengthArray<quint32, 256> indexes(length);
    int count = length;
    if (!face.primary.glyphIndexesForChars(text.data(), length, indexes.data(), &count) || count != length ||
        std::find(indexes.begin(), indexes.end(), 0u) != indexes.end()) {
        return false;
    }
    QVarLengthArray<QPointF, 256> positions(length);
    face.primary.advancesForGlyphIndexes(indexes.constData(), positions.data(), length,
                                         QRawFont::SeparateAdvances | QRawFont::UseDesignMetrics);
    double pen = 0;
    for (QPointF& position : positions) {
        const double advance = position.x();
        position = QPointF(pen, 0);
        pen += advance;
    }
    drawGlyphs(painter, face.primary, face.font, QPointF(alignedLeft(run, body_, pen), run.y + face.ascent),
               indexes.constData(), positions.constData(), length);
    return true;
}

void ReportPageFormat::paintShaped(QPainter& painter, QStringView text, const ReportTextRun& run) const {
    const Face& face = faces_[run.font];
    QFont font = face.font;
    // Point sizes count in the device's own resolution, while the painter is
    // already scaled from report pixels to the device.
    const int dpi = painter.device() ? painter.device()->logicalDpiY() : 96;
    font.setPointSizeF(reportPixelSize(face.font) * 72.0 / std::max(dpi, 1));
    painter.setFont(font);
    const QFontMetricsF metrics(font, painter.device());
    const QString string = text.toString();
    const double left = alignedLeft(run, body_, metrics.horizontalAdvance(string));
    painter.drawText(QPointF(left, run.y + metrics.ascent()), string);
}

// --- ReportDocument ---

ReportDocument::ReportDocument(std::shared_ptr<const ReportPageFormat> format) : format_(std::move(format)) {}

const ReportPage& ReportDocument::page(int index) const { return pages_.at(static_cast<std::size_t>(index)); }

void ReportDocument::paintPage(QPainter& painter, int index) const { format_->paint(painter, page(index)); }

std::size_t ReportDocument::bytesHeld() const {
    std::size_t bytes = sizeof(ReportDocument) + (pages_.capacity() - pages_.size()) * sizeof(ReportPage);
    for (const ReportPage& page : pages_) {
        bytes += page.bytesHeld();
    }
    return bytes;
}

void ReportDocument::appendPage(ReportPage page) {
    page.squeeze();
    pages_.push_back(std::move(page));
    emit pageReady(pageCount());
}

void ReportDocument::finish(State state, const QString& failure) {
    if (state_ != State::Producing) {
        return;
    }
    state_ = state;
    failure_ = failure;
    emit productionEnded();
}

}  // namespace tarnwell
