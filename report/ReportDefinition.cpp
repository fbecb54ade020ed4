#include "report/ReportDefinition.h"

#include <QPageSize>
#include <cmath>

namespace tarnwell {

namespace {

constexpr double kMillimetresPerInch = 25.4;

QString millimetres(double value) { return QString::number(value, 'g', 10) + QStringLiteral(" mm"); }

bool isFiniteAtLeast(double value, double least) { return std::isfinite(value) && value >= least; }

bool isPositive(double value) { return std::isfinite(value) && value > 0; }

void checkBand(const ReportBand& band, const QString& name) {
    if (!isFiniteAtLeast(band.height, 0)) {
        throw ReportError(QStringLiteral("報表的%1高度不正確: %2").arg(name, QString::number(band.height)));
    }
}

}  // namespace

double millimetresToReportPixels(double millimetres) {
    return millimetres * kReportPixelsPerInch / kMillimetresPerInch;
}

ReportError::ReportError(const QString& message) : std::runtime_error(message.toStdString()) {}

QPageLayout ReportPageSetup::pageLayout() const {
    const QPageSize size(QSizeF(widthMm, lengthMm), QPageSize::Millimeter);
    QPageLayout layout(size, orientation, marginsMm, QPageLayout::Millimeter, QMarginsF());
    // The pages place their text from the sheet's corner, margins included.
    layout.setMode(QPageLayout::FullPageMode);
    return layout;
}

ReportLabel& ReportBand::addLabel() { return labels.emplace_back(); }

QRectF reportBody(const ReportPageSetup& page) {
    const bool turned = page.orientation == QPageLayout::Landscape;
    const double sheetWidth = turned ? page.lengthMm : page.widthMm;
    const double sheetHeight = turned ? page.widthMm : page.lengthMm;
    const QMarginsF& m = page.marginsMm;
    return QRectF(millimetresToReportPixels(m.left()), millimetresToReportPixels(m.top()),
                  millimetresToReportPixels(sheetWidth - m.left() - m.right()),
                  millimetresToReportPixels(sheetHeight - m.top() - m.bottom()));
}

void checkReportDefinition(const ReportDefinition& definition) {
    const ReportPageSetup& page = definition.page;
    if (!isPositive(page.widthMm) || !isPositive(page.lengthMm)) {
        throw ReportError(QStringLiteral("紙張大小不正確: 寬 %1、長 %2")
                              .arg(millimetres(page.widthMm), millimetres(page.lengthMm)));
    }
    const QMarginsF& m = page.marginsMm;
    if (!isFiniteAtLeast(m.left(), 0) || !isFiniteAtLeast(m.top(), 0) ||
        !isFiniteAtLeast(m.right(), 0) || !isFiniteAtLeast(m.bottom(), 0)) {
        throw ReportError(QStringLiteral("紙張邊界不正確"));
    }
    const QRectF body = reportBody(page);
    if (body.width() <= 0 || body.height() <= 0) {
        throw ReportError(QStringLiteral("紙張 %1 × %2 扣除邊界後沒有可列印的地方")
                              .arg(millimetres(page.widthMm), millimetres(page.lengthMm)));
    }
    checkBand(definition.pageHeader, QStringLiteral("標題區"));
    checkBand(definition.columnHeader, QStringLiteral("欄名區"));
    checkBand(definition.detail, QStringLiteral("資料區"));
    checkBand(definition.summary, QStringLiteral("結尾區"));
    if (definition.detail.enabled && definition.detail.height <= 0) {
        throw ReportError(QStringLiteral("報表的資料區高度必須大於 0"));
    }
}

}  // namespace tarnwell
