#include "ui/Controls.h"

#include <QLineEdit>
#include <algorithm>
#include <limits>

namespace tarnwell {

namespace {

class FixedWidthTabBar : public QTabBar {
public:
    explicit FixedWidthTabBar(QWidget* parent) : QTabBar(parent) {}

    int width_ = 100;

protected:
    QSize tabSizeHint(int index) const override {
        QSize size = QTabBar::tabSizeHint(index);
        size.setWidth(width_);
        return size;
    }
    QSize minimumTabSizeHint(int index) const override { return tabSizeHint(index); }
};

constexpr int kSpinEditMaxLength = 6;

}  // namespace

PageControl::PageControl(QWidget* parent) : QTabWidget(parent) {
    setTabBar(new FixedWidthTabBar(this));
}

int PageControl::tabWidth() const { return static_cast<FixedWidthTabBar*>(tabBar())->width_; }

void PageControl::setTabWidth(int width) {
    static_cast<FixedWidthTabBar*>(tabBar())->width_ = width;
    tabBar()->updateGeometry();
    tabBar()->update();
}

SpinEdit::SpinEdit(QWidget* parent) : QSpinBox(parent) {
    lineEdit()->setMaxLength(kSpinEditMaxLength);
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
}

void SpinEdit::setUnbounded() {
    unbounded_ = true;
    setRange(std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    lineEdit()->setMaxLength(static_cast<int>(QString::number(std::numeric_limits<int>::min()).size()));
}

int SpinEdit::Value() const { return valueFromText(lineEdit()->text()); }

QValidator::State SpinEdit::validate(QString& input, int& /*pos*/) const {
    if (input.size() > lineEdit()->maxLength()) {
        return QValidator::Invalid;
    }
    bool ok = false;
    input.trimmed().toInt(&ok);
    // Anything may be typed; only a whole number is a value yet.
    return ok ? QValidator::Acceptable : QValidator::Intermediate;
}

int SpinEdit::valueFromText(const QString& text) const {
    bool ok = false;
    const long long typed = text.trimmed().toLongLong(&ok);
    if (!ok) {
        return unbounded_ ? 0 : minimum();
    }
    return static_cast<int>(std::clamp<long long>(typed, minimum(), maximum()));
}

void SpinEdit::fixup(QString& input) const { input = QString::number(valueFromText(input)); }

}  // namespace tarnwell
