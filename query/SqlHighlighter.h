#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QSyntaxHighlighter>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>
#include <utility>

#include "sqlsyntax/Dialect.h"
#include "sqlsyntax/Lexer.h"

namespace tarnwell {

// Colours SQL in a document by the lexer's tokens: keywords, strings, quoted
// names, numbers, parameters and comments. Each line keeps, as its block
// state, the lexer's state at its end (LexState::toInt()), so a line is
// coloured from where the line before left off.
//
// Qt's own highlighter colours every line whose start state changed before
// it returns: "/*" typed on the first line of a script of 100,000 lines would
// colour them all at once. This one colours the lines an edit touched and
// what follows from them for a few milliseconds, then goes on in slices
// between events; the lines on screen come first, so they show their colours
// at once (from the state the line above them had, until the slices reach
// them with the right one).
class SqlHighlighter : public QSyntaxHighlighter {
    Q_OBJECT
public:
    // The first and last block on screen.
    using VisibleBlocks = std::function<std::pair<QTextBlock, QTextBlock>()>;

    // Colours `document` from now on; it must be empty (its text is coloured
    // as it comes).
    SqlHighlighter(QTextDocument& document, VisibleBlocks visibleBlocks);

    sql::Dialect dialect() const noexcept { return dialect_; }
    // Colours the whole text again by another dialect's rules.
    void setDialect(sql::Dialect dialect);

    // No line waits to be coloured.
    bool settled() const noexcept { return pendingFrom_ < 0; }
    // Every line on screen shows the colours of its text.
    bool visibleColoured() const;
    // Colours whatever waits, now (for whoever must see the final colours at
    // once, such as a test).
    void settleNow();

    // The colour of a kind of token; invalid for the kinds left in the text's
    // own colour (words, operators, punctuation).
    static QColor colourOf(sql::TokenKind kind);

    // The lexer's state at the start of `block`, as last coloured.
    static sql::LexState stateBefore(const QTextBlock& block);
    // The document's table of dollar-quote tags, for lexing a line from
    // stateBefore() as the colours do.
    sql::Utf16DollarTags& dollarTags() { return *dollarTags_; }

protected:
    void highlightBlock(const QString& text) override;

private:
    void documentChanged(int from, int charsRemoved, int charsAdded);
    // Colours one block from `start`; the state at its end. The block's own
    // state is left for the caller.
    sql::LexState colour(const QTextBlock& block, sql::LexState start);
    // Colours waiting lines in order until none waits or `budgetNs` has
    // passed.
    void advance(qint64 budgetNs);
    void colourVisibleAhead();
    void continueLater();
    void continueNow();
    void waitFromStart();

    QTextDocument& document_;
    VisibleBlocks visibleBlocks_;
    sql::Dialect dialect_ = sql::Dialect::Generic;
    std::unique_ptr<sql::Utf16DollarTags> dollarTags_;
    std::array<QTextCharFormat, 12> formats_;
    std::array<bool, 12> coloured_{};

    // Lines from pendingFrom_ on wait; those up to mustThrough_ whatever
    // their start state, those after it only while the state at the end of
    // the line before them changes. -1: none waits.
    int pendingFrom_ = -1;
    int mustThrough_ = -1;
    int blockCount_ = 1;
    // Edits so far, and the lines on screen coloured ahead of pendingFrom_
    // since the last one (from, to, edit).
    int edits_ = 0;
    std::array<int, 3> visibleAhead_{-1, -1, -1};

    // What colour() hands to highlightBlock() and back.
    sql::LexState startState_;
    sql::LexState endState_;
    QTimer continueTimer_;
};

}  // namespace tarnwell
