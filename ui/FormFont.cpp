#include "ui/FormFont.h"

#include <QFont>
#include <QWidget>

namespace tarnwell {

void setFormFont(QWidget& root, const QFont& font) {
    root.setFont(font);
    const QList<QWidget*> controls = root.findChildren<QWidget*>();
    for (QWidget* control : controls) {
        control->setFont(font);
    }
}

QFont pixelFont(const char* family, int pixels) {
    QFont font(QString::fromUtf8(family));
    font.setPixelSize(pixels);
    return font;
}

}  // namespace tarnwell
