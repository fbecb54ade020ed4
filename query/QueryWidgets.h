#pragma once

#include <QLabel>
#include <QList>
#include <QStatusBar>
#include <QStyledItemDelegate>

namespace tarnwell {

// A status bar of panels with fixed widths, each showing one text.
class PanelStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit PanelStatusBar(QWidget* parent = nullptr);

    // Replaces the panels by ones of these widths (the last one stretches).
    void setPanelWidths(const QList<int>& widths);
    int panelCount() const { return static_cast<int>(panels_.size()); }
    QLabel* panel(int index) const { return panels_.value(index); }
    QString panelText(int index) const;
    void setPanelText(int index, const QString& text);

private:
    QList<QLabel*> panels_;
};

// Draws a list's items as the style does, then the lines of a grid at their
// right and bottom edges, so a list in report style shows its cells ruled.
// The style paints selected rows, in every window state, in colours that it
// made to go together.
class GridLinesDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace tarnwell
