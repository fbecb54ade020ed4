#include "ui/Controls.h"

#include <QLineEdit>
#include <QPainter>
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

PanelStatusBar::PanelStatusBar(QWidget* parent) : QStatusBar(parent) { setSizeGripEnabled(false); }

void PanelStatusBar::setPanelWidths(const QList<int>& widths) {
    qDeleteAll(panels_);
    panels_.clear();
    for (qsizetype i = 0; i < widths.size(); ++i) {
        auto* label = new QLabel(this);
        label->setObjectName(QStringLiteral("SBarPanel%1").arg(i));
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        const bool last = i + 1 == widths.size();
        if (last) {
            // The last panel takes what is left, down to nothing, so a narrow
            // window still shows the first panels whole.
            label->setMinimumWidth(0);
            label->resize(widths.at(i), label->height());
        } else {
            label->setFixedWidth(widths.at(i));
        }
        addWidget(label, last ? 1 : 0);
        panels_ << label;
    }
}

QString PanelStatusBar::panelText(int index) const {
    const QLabel* label = panel(index);
    return label != nullptr ? label->text() : QString();
}

void PanelStatusBar::setPanelText(int index, const QString& text) {
    if (QLabel* label = panel(index)) {
        label->setText(text);
    }
}

void GridLinesDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    QStyledItemDelegate::paint(painter, option, index);
    painter->save();
    painter->setPen(QColor(0xc0, 0xc0, 0xc0));
    const QRect cell = option.rect;
    painter->drawLine(cell.topRight(), cell.bottomRight());
    painter->drawLine(cell.bottomLeft(), cell.bottomRight());
    painter->restore();
}

}  // namespace tarnwell
