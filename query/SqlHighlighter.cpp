#include "query/SqlHighlighter.h"

#include <QTextDocument>
#include <algorithm>
#include <string_view>

#include "query/MemoText.h"

namespace tarnwell {

namespace {

// How long colouring may hold the window: the lines an edit touched and what
// follows from them, inside the edit; then a slice between events. Both stay
// far below a frame at 60 Hz, so typing and scrolling never wait for them.
constexpr qint64 kEditBudgetNs = 4'000'000;
constexpr qint64 kSliceBudgetNs = 8'000'000;

std::size_t indexOf(sql::TokenKind kind) { return static_cast<std::size_t>(kind); }

}  // namespace

QColor SqlHighlighter::colourOf(sql::TokenKind kind) {
    // Dark enough to read on the windows' white, and apart from each other.
    switch (kind) {
    case sql::TokenKind::Keyword:
        return QColor(0x00, 0x00, 0xc0);
    case sql::TokenKind::String:
        return QColor(0xa3, 0x15, 0x15);
    case sql::TokenKind::QuotedIdentifier:
        return QColor(0x80, 0x00, 0x80);
    case sql::TokenKind::Number:
        return QColor(0x00, 0x7a, 0x7a);
    case sql::TokenKind::Parameter:
        return QColor(0xb0, 0x5a, 0x00);
    case sql::TokenKind::Comment:
        return QColor(0x3f, 0x7f, 0x5f);
    case sql::TokenKind::ExecutableComment:
        return QColor(0x7a, 0x6a, 0x00);
    default:
        return {};
    }
}

SqlHighlighter::SqlHighlighter(QTextDocument& document, VisibleBlocks visibleBlocks)
    : QSyntaxHighlighter(&document),
      document_(document),
      visibleBlocks_(std::move(visibleBlocks)),
      dollarTags_(std::make_unique<sql::Utf16DollarTags>()),
      blockCount_(document.blockCount()) {
    for (std::size_t kind = 0; kind < formats_.size(); ++kind) {
        const QColor colour = colourOf(static_cast<sql::TokenKind>(kind));
        coloured_[kind] = colour.isValid();
        formats_[kind].setForeground(colour);
    }
    // The base class would colour every changed line and all that follow
    // from it inside the edit; the edits come here instead.
    disconnect(&document, &QTextDocument::contentsChange, this, nullptr);
    connect(&document, &QTextDocument::contentsChange, this, &SqlHighlighter::documentChanged);
    continueTimer_.setSingleShot(true);
    continueTimer_.setInterval(0);
    connect(&continueTimer_, &QTimer::timeout, this, &SqlHighlighter::continueNow);
}

void SqlHighlighter::setDialect(sql::Dialect dialect) {
    if (dialect == dialect_) {
        return;
    }
    dialect_ = dialect;
    // The states of the lines number their tags in the old table.
    dollarTags_ = std::make_unique<sql::Utf16DollarTags>();
    waitFromStart();
}

void SqlHighlighter::waitFromStart() {
    pendingFrom_ = 0;
    mustThrough_ = document_.blockCount() - 1;
    ++edits_;
    continueLater();
}

sql::LexState SqlHighlighter::stateBefore(const QTextBlock& block) {
    const QTextBlock previous = block.previous();
    return previous.isValid() ? sql::LexState::fromInt(previous.userState()) : sql::LexState{};
}

void SqlHighlighter::highlightBlock(const QString& text) {
    sql::Utf16Lexer lexer(dialect_, utf16Units(text), startState_, dollarTags_.get());
    sql::Token token;
    while (lexer.next(token)) {
        const std::size_t kind = indexOf(token.kind);
        if (coloured_[kind]) {
            setFormat(static_cast<int>(token.begin), static_cast<int>(token.end - token.begin), formats_[kind]);
        }
    }
    endState_ = lexer.state();
}

sql::LexState SqlHighlighter::colour(const QTextBlock& block, sql::LexState start) {
    startState_ = start;
    // highlightBlock() leaves the block's state alone, so the base class
    // colours this block only.
    rehighlightBlock(block);
    return endState_;
}

void SqlHighlighter::documentChanged(int from, int charsRemoved, int charsAdded) {
    ++edits_;
    const int count = document_.blockCount();
    const int delta = count - blockCount_;
    blockCount_ = count;
    const QTextBlock first = document_.findBlock(from);
    // A removal may have joined the line after the edit to it: that line is
    // coloured again too, as Qt's highlighter does.
    QTextBlock last = document_.findBlock(from + charsAdded + (charsRemoved > 0 ? 1 : 0));
    if (!last.isValid()) {
        last = document_.lastBlock();
    }
    if (!first.isValid()) {
        return;
    }
    const int firstNumber = first.blockNumber();
    const int lastNumber = last.blockNumber();
    if (pendingFrom_ < 0) {
        pendingFrom_ = firstNumber;
        mustThrough_ = lastNumber;
    } else {
        // Lines waiting after the edit moved with it. The first of them is
        // coloured whatever the line before it then says: its colours are
        // those of a state that has changed since.
        const int lastBefore = lastNumber - delta;
        const auto moved = [&](int number) { return number > lastBefore ? number + delta : number; };
        mustThrough_ = std::max({lastNumber, moved(mustThrough_), moved(pendingFrom_)});
        pendingFrom_ = std::min(pendingFrom_, firstNumber);
    }
    advance(kEditBudgetNs);
    if (!settled()) {
        continueLater();
    }
}

void SqlHighlighter::advance(qint64 budgetNs) {
    QElapsedTimer clock;
    clock.start();
    QTextBlock block = document_.findBlockByNumber(pendingFrom_);
    sql::LexState start = block.isValid() ? stateBefore(block) : sql::LexState{};
    int coloured = 0;
    while (block.isValid()) {
        // The clock is read every few lines: a line costs microseconds.
        if ((++coloured & 15) == 0 && clock.nsecsElapsed() > budgetNs) {
            return;
        }
        const int before = block.userState();
        const sql::LexState end = colour(block, start);
        block.setUserState(end.toInt());
        const int number = pendingFrom_++;
        if (number >= mustThrough_ && end.toInt() == before) {
            break;  // the lines after it were coloured from this very state
        }
        start = end;
        block = block.next();
    }
    pendingFrom_ = -1;
    mustThrough_ = -1;
}

void SqlHighlighter::colourVisibleAhead() {
    const auto [top, bottom] = visibleBlocks_();
    if (settled() || !top.isValid() || !bottom.isValid() || top.blockNumber() <= pendingFrom_ ||
        top.blockNumber() > mustThrough_) {
        return;
    }
    const std::array<int, 3> range{top.blockNumber(), bottom.blockNumber(), edits_};
    if (range == visibleAhead_) {
        return;
    }
    visibleAhead_ = range;
    // From the state the line above had when it was coloured: right unless
    // an edit above changed it, and then only until the slices arrive. The
    // lines keep their states, which the slices compare.
    sql::LexState start = stateBefore(top);
    for (QTextBlock block = top; block.isValid() && block.blockNumber() <= std::min(range[1], mustThrough_);
         block = block.next()) {
        start = colour(block, start);
    }
}

bool SqlHighlighter::visibleColoured() const {
    if (settled()) {
        return true;
    }
    const auto [top, bottom] = visibleBlocks_();
    if (!top.isValid()) {
        return true;
    }
    const int first = top.blockNumber();
    const int last = bottom.isValid() ? bottom.blockNumber() : first;
    return last < pendingFrom_ || first > mustThrough_ ||
           (visibleAhead_[0] == first && visibleAhead_[1] == last && visibleAhead_[2] == edits_);
}

void SqlHighlighter::continueLater() {
    if (!continueTimer_.isActive()) {
        continueTimer_.start();
    }
}

void SqlHighlighter::continueNow() {
    colourVisibleAhead();
    advance(kSliceBudgetNs);
    if (!settled()) {
        continueLater();
    }
}

void SqlHighlighter::settleNow() {
    while (!settled()) {
        advance(kSliceBudgetNs);
    }
    continueTimer_.stop();
}

}  // namespace tarnwell
