#include "ui/Fonts.h"

#include <QApplication>
#include <QFont>
#include <QStringList>

namespace tarnwell {

void registerFontSubstitutions() {
    // The Ming face draws every CJK character exactly twice as wide as an
    // ASCII one, which the text report's column widths rely on.
    const QString ming = QStringLiteral("AR PL UMing TW");
    const QString kai = QStringLiteral("AR PL UKai TW");
    // Nimbus Sans has Helvetica's metrics, as Arial has; the window captions
    // in Chinese then fall to the Traditional Chinese sans face.
    const QString latinSans = QStringLiteral("Nimbus Sans");
    const QString chineseSans = QStringLiteral("Noto Sans CJK TC");

    QFont::insertSubstitutions(QStringLiteral("細明體"), {ming});
    QFont::insertSubstitutions(QStringLiteral("標楷體"), {kai});
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), {latinSans, chineseSans, ming});
    QFont::insertSubstitutions(QStringLiteral("Arial"), {latinSans, chineseSans, ming});
}

void setUpFonts() {
    registerFontSubstitutions();
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(9);
    QApplication::setFont(font);
}

}  // namespace tarnwell
