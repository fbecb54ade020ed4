#pragma once

#include <QSpinBox>
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

}  // namespace tarnwell
