#pragma once

#include <QLabel>
#include <QList>
#include <QSpinBox>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTabBar>
#include <QTabWidget>

namespace tarnwell {

// A page control whose tabs all have one width, whatever their captions.
class PageControl : public QTabWidget {
    Q_OBJECT
    Q_PROPERTY(int tabWidth READ tabWidth WRITE setTabWidth)
public:
    explicit PageControl(QWidget* parent = nullptr);

    int tabWidth() const;
    void setTabWidth(int width);
};

// An integer box of at most six characters. Text that is not an integer reads
// as the minimum; a value out of range reads as the nearest bound and is
// written back in range when the box is left.
class SpinEdit : public QSpinBox {
    Q_OBJECT
public:
    explicit SpinEdit(QWidget* parent = nullptr);

    // Takes any integer, as long as its text is; text that is not an integer
    // then reads as 0.
    void setUnbounded();

    // The value the text stands for now, by the rule above.
    int Value() const;
    using QAbstractSpinBox::lineEdit;

protected:
    QValidator::State validate(QString& input, int& pos) const override;
    int valueFromText(const QString& text) const override;
    void fixup(QString& input) const override;

private:
    bool unbounded_ = false;
};

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
