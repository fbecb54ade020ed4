#include "query/SqlEditor.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPainter>
#include <QTextBlock>
#include <memory>
#include <string_view>

#include "query/MemoText.h"
#include "query/SqlHighlighter.h"
#include "sqlsyntax/Lexer.h"

namespace tarnwell {

namespace {

// How long a statement being sent stays marked.
constexpr int kFlashMs = 1000;
// The bracket search reads no more than this much text either way, and
// leaves a line longer than this alone: the caret moves through long text
// as fast as through short.
constexpr int kBracketSearchChars = 200'000;

const QColor kCaretLine(0xf2, 0xf5, 0xfc);
const QColor kFlash(0xff, 0xef, 0xa0);
const QColor kErrorLine(0xff, 0xe4, 0xe4);
const QColor kErrorUnderline(0xe0, 0x00, 0x00);
const QColor kErrorPlace(0xff, 0xb8, 0xb8);
const QColor kBracketMatch(0xc4, 0xe0, 0xff);
const QColor kBracketAlone(0xff, 0xc4, 0xc4);
const QColor kGutter(0xf0, 0xf0, 0xf0);
const QColor kGutterNumber(0x80, 0x80, 0x80);
const QColor kGutterCaretNumber(0x30, 0x30, 0x30);

class LineNumberArea : public QWidget {
public:
    explicit LineNumberArea(SqlEditor& editor) : QWidget(&editor), editor_(editor) {
        setObjectName(QStringLiteral("LineNumbers"));
    }
    QSize sizeHint() const override { return {editor_.lineNumberAreaWidth(), 0}; }

protected:
    void paintEvent(QPaintEvent* event) override { editor_.paintLineNumbers(event); }

private:
    SqlEditor& editor_;
};

struct Bracket {
    int position = 0;
    char16_t character = 0;
};

bool isOpener(char16_t c) { return c == u'(' || c == u'[' || c == u'{'; }

char16_t partnerOf(char16_t c) {
    switch (c) {
    case u'(': return u')';
    case u')': return u'(';
    case u'[': return u']';
    case u']': return u'[';
    case u'{': return u'}';
    case u'}': return u'{';
    default: return 0;
    }
}

// The brackets of a line that stand for themselves (none inside strings,
// quoted names or comments), in order, as the colours read the line.
QList<Bracket> bracketsOf(const QTextBlock& block, SqlHighlighter& highlighter) {
    QList<Bracket> brackets;
    const QString text = block.text();
    const std::u16string_view units = utf16Units(text);
    sql::Utf16Lexer lexer(highlighter.dialect(), units, SqlHighlighter::stateBefore(block),
                          &highlighter.dollarTags());
    lexer.classifyKeywords(false);
    sql::Token token;
    while (lexer.next(token)) {
        if (token.kind == sql::TokenKind::Punctuation && token.end == token.begin + 1 &&
            partnerOf(units[token.begin]) != 0) {
            brackets.append({block.position() + static_cast<int>(token.begin), units[token.begin]});
        }
    }
    return brackets;
}

}  // namespace

SqlEditor::SqlEditor(QWidget* parent) : QPlainTextEdit(parent) {
    gutter_ = new LineNumberArea(*this);
    highlighter_ = new SqlHighlighter(*document(), [this] {
        const QTextBlock top = firstVisibleBlock();
        QTextBlock bottom = top;
        const qreal height = viewport()->height();
        qreal y = top.isValid() ? blockBoundingGeometry(top).translated(contentOffset()).top() : 0;
        for (QTextBlock block = top; block.isValid() && y < height; block = block.next()) {
            bottom = block;
            y += blockBoundingRect(block).height();
        }
        return std::make_pair(top, bottom);
    });
    flashTimer_.setSingleShot(true);
    flashTimer_.setInterval(kFlashMs);
    connect(&flashTimer_, &QTimer::timeout, this, [this] {
        flash_.reset();
        refreshSelections();
    });
    connect(this, &QPlainTextEdit::blockCountChanged, this, &SqlEditor::updateGutterWidth);
    connect(this, &QPlainTextEdit::updateRequest, this, &SqlEditor::updateGutter);
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, &SqlEditor::caretMoved);
    connect(document(), &QTextDocument::contentsChange, this, &SqlEditor::textEdited);
    updateGutterWidth();
    caretMoved();
}

SqlEditor::~SqlEditor() {
    // The document goes with the text edit's base, after this part of it.
    disconnect(document(), nullptr, this, nullptr);
}

sql::Dialect SqlEditor::dialect() const { return highlighter_->dialect(); }

void SqlEditor::setDialect(sql::Dialect dialect) {
    highlighter_->setDialect(dialect);
    findBracketMatch();
    refreshSelections();
}

// --- The gutter --------------------------------------------------------------------

int SqlEditor::lineNumberAreaWidth() const {
    int digits = 1;
    for (int lines = std::max(1, blockCount()); lines >= 10; lines /= 10) {
        ++digits;
    }
    return 8 + fontMetrics().horizontalAdvance(QLatin1Char('9')) * std::max(digits, 2);
}

void SqlEditor::updateGutterWidth() { setViewportMargins(lineNumberAreaWidth(), 0, 0, 0); }

void SqlEditor::updateGutter(const QRect& rect, int dy) {
    if (dy != 0) {
        gutter_->scroll(0, dy);
    } else {
        gutter_->update(0, rect.y(), gutter_->width(), rect.height());
    }
    if (rect.contains(viewport()->rect())) {
        updateGutterWidth();
    }
}

void SqlEditor::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    const QRect area = contentsRect();
    gutter_->setGeometry(QRect(area.left(), area.top(), lineNumberAreaWidth(), area.height()));
}

void SqlEditor::changeEvent(QEvent* event) {
    QPlainTextEdit::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        updateGutterWidth();
    }
}

void SqlEditor::paintLineNumbers(QPaintEvent* event) {
    QPainter painter(gutter_);
    painter.fillRect(event->rect(), kGutter);
    painter.setFont(font());
    const int caretLine = textCursor().blockNumber();
    const int width = gutter_->width() - 4;
    const int lineHeight = fontMetrics().height();
    QTextBlock block = firstVisibleBlock();
    int top = qRound(blockBoundingGeometry(block).translated(contentOffset()).top());
    while (block.isValid() && top <= event->rect().bottom()) {
        const int bottom = top + qRound(blockBoundingRect(block).height());
        if (block.isVisible() && bottom >= event->rect().top()) {
            painter.setPen(block.blockNumber() == caretLine ? kGutterCaretNumber : kGutterNumber);
            painter.drawText(0, top, width, lineHeight, Qt::AlignRight | Qt::AlignVCenter,
                             QString::number(block.blockNumber() + 1));
        }
        block = block.next();
        top = bottom;
    }
}

// --- Marks -----------------------------------------------------------------------------

void SqlEditor::flashRange(int begin, int end) {
    flash_ = std::make_pair(begin, end);
    flashTimer_.start();
    refreshSelections();
}

void SqlEditor::markError(int position, bool lineOnly) {
    const int last = std::max(0, document()->characterCount() - 1);
    int place = std::clamp(position, 0, last);
    // No character stands at the text's end: the one before it is marked.
    if (place == last && place > 0 && !lineOnly) {
        --place;
    }
    errorMark_ = place;
    errorLineOnly_ = lineOnly;
    refreshSelections();
}

int SqlEditor::errorMarkEnd() const {
    // The word the fault is found at, or its one character.
    const QTextBlock block = document()->findBlock(*errorMark_);
    const QString text = block.text();
    qsizetype end = *errorMark_ - block.position();
    while (end < text.size() && (text.at(end).isLetterOrNumber() || text.at(end) == u'_')) {
        ++end;
    }
    return std::max(*errorMark_ + 1, block.position() + static_cast<int>(end));
}

void SqlEditor::clearErrorMark() {
    if (errorMark_) {
        errorMark_.reset();
        refreshSelections();
    }
}

void SqlEditor::textEdited(int /*from*/, int charsRemoved, int charsAdded) {
    if (charsRemoved == 0 && charsAdded == 0) {
        return;
    }
    ++textEdits_;
    flash_.reset();
    errorMark_.reset();
    // The caret may stay where it was while the brackets around it change.
    findBracketMatch();
    refreshSelections();
}

void SqlEditor::caretMoved() {
    findBracketMatch();
    refreshSelections();
    // The gutter shows the caret's line darker.
    gutter_->update();
}

QList<int> SqlEditor::bracketMarks() const {
    QList<int> marks;
    if (bracket_ >= 0) {
        marks.append(bracket_);
        if (bracketMatch_ >= 0) {
            marks.append(bracketMatch_);
        }
    }
    return marks;
}

void SqlEditor::findBracketMatch() {
    bracket_ = -1;
    bracketMatch_ = -1;
    const QTextCursor caret = textCursor();
    QTextBlock block = caret.block();
    if (caret.hasSelection() || block.length() > kBracketSearchChars) {
        return;
    }
    const QList<Bracket> here = bracketsOf(block, *highlighter_);
    // The bracket after the caret, else the one before it.
    qsizetype index = -1;
    for (qsizetype i = 0; i < here.size(); ++i) {
        if (here[i].position == caret.position()) {
            index = i;
            break;
        }
        if (here[i].position == caret.position() - 1) {
            index = i;
        }
    }
    if (index < 0) {
        return;
    }
    const Bracket start = here[index];
    bracket_ = start.position;
    const char16_t partner = partnerOf(start.character);
    const bool forward = isOpener(start.character);
    int depth = 0;
    int searched = 0;
    QList<Bracket> brackets = here;
    qsizetype i = index;
    for (;;) {
        i += forward ? 1 : -1;
        while (i < 0 || i >= brackets.size()) {
            searched += block.length();
            block = forward ? block.next() : block.previous();
            if (!block.isValid() || searched > kBracketSearchChars || block.length() > kBracketSearchChars) {
                return;
            }
            brackets = bracketsOf(block, *highlighter_);
            i = forward ? 0 : brackets.size() - 1;
        }
        const char16_t c = brackets[i].character;
        if (c == start.character) {
            ++depth;
        } else if (c == partner && depth-- == 0) {
            bracketMatch_ = brackets[i].position;
            return;
        }
    }
}

void SqlEditor::refreshSelections() {
    QList<QTextEdit::ExtraSelection> selections;
    const auto fullLine = [this](int position, const QColor& colour) {
        QTextEdit::ExtraSelection line;
        line.format.setBackground(colour);
        line.format.setProperty(QTextFormat::FullWidthSelection, true);
        line.cursor = QTextCursor(document());
        line.cursor.setPosition(position);
        return line;
    };
    const auto range = [this](int begin, int end, const QTextCharFormat& format) {
        QTextEdit::ExtraSelection part;
        part.format = format;
        part.cursor = QTextCursor(document());
        const int last = std::max(0, document()->characterCount() - 1);
        part.cursor.setPosition(std::clamp(begin, 0, last));
        part.cursor.setPosition(std::clamp(end, 0, last), QTextCursor::KeepAnchor);
        return part;
    };
    selections.append(fullLine(textCursor().position(), kCaretLine));
    if (flash_) {
        QTextCharFormat format;
        format.setBackground(kFlash);
        selections.append(range(flash_->first, flash_->second, format));
    }
    if (errorMark_) {
        selections.append(fullLine(*errorMark_, kErrorLine));
        if (!errorLineOnly_) {
            QTextCharFormat format;
            format.setUnderlineStyle(QTextCharFormat::WaveUnderline);
            format.setUnderlineColor(kErrorUnderline);
            format.setBackground(kErrorPlace);
            selections.append(range(*errorMark_, errorMarkEnd(), format));
        }
    }
    for (const int position : bracketMarks()) {
        QTextCharFormat format;
        format.setBackground(bracketMatch_ >= 0 ? kBracketMatch : kBracketAlone);
        selections.append(range(position, position + 1, format));
    }
    setExtraSelections(selections);
}

void SqlEditor::contextMenuEvent(QContextMenuEvent* event) {
    const std::unique_ptr<QMenu> menu(createStandardContextMenu(event->pos()));
    if (!contextActions_.isEmpty()) {
        menu->addSeparator();
        menu->addActions(contextActions_);
    }
    menu->exec(event->globalPos());
}

}  // namespace tarnwell
