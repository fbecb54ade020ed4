#include "query/QueryWidgets.h"

#include <QPainter>

namespace tarnwell {

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
