#pragma once

#include <QList>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QTimer>
#include <optional>

#include "sqlsyntax/Dialect.h"

class QAction;

namespace tarnwell {

class SqlHighlighter;

// The SQL memo of a query window: a plain text editor that colours SQL by
// the dialect of the window's connection, numbers its lines in a gutter at
// the left, marks the caret's line faintly and the bracket that matches the
// one at the caret, and marks for a moment what is being run and, until the
// next edit, where a statement went wrong.
class SqlEditor : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit SqlEditor(QWidget* parent = nullptr);
    ~SqlEditor() override;

    sql::Dialect dialect() const;
    void setDialect(sql::Dialect dialect);
    SqlHighlighter& highlighter() const { return *highlighter_; }

    // Marks the text from `begin` to `end` (document positions) for about a
    // second, as a statement is sent.
    void flashRange(int begin, int end);
    // Marks the word (or the character) at `position` with a wavy underline
    // and its line with a band, until the text is next edited or clearErrorMark() runs;
    // only the line when `lineOnly`. A position at the text's end marks the
    // character before it.
    void markError(int position, bool lineOnly = false);
    void clearErrorMark();
    // The document position the error mark is on.
    std::optional<int> errorMark() const { return errorMark_; }
    // Edits of the text so far: positions taken before an edit no longer
    // hold after it.
    int textEdits() const { return textEdits_; }

    // Added to the context menu after the text edit's own items.
    void setContextActions(const QList<QAction*>& actions) { contextActions_ = actions; }

    // Where the bracket matching the one at the caret is marked (both
    // brackets' positions), or the unmatched one alone.
    QList<int> bracketMarks() const;

    int lineNumberAreaWidth() const;
    // Draws the line numbers of the gutter (called by the gutter).
    void paintLineNumbers(QPaintEvent* event);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void updateGutterWidth();
    void updateGutter(const QRect& rect, int dy);
    void caretMoved();
    void textEdited(int from, int charsRemoved, int charsAdded);
    void refreshSelections();
    int errorMarkEnd() const;
    void findBracketMatch();

    QWidget* gutter_ = nullptr;
    SqlHighlighter* highlighter_ = nullptr;
    QList<QAction*> contextActions_;
    QTimer flashTimer_;
    std::optional<std::pair<int, int>> flash_;
    std::optional<int> errorMark_;
    bool errorLineOnly_ = false;
    // Positions of the bracket at the caret and of its match (-1: none).
    int bracket_ = -1;
    int bracketMatch_ = -1;
    int textEdits_ = 0;
};

}  // namespace tarnwell
