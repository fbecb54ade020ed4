// tarnwell-bench --editor: the SQL editor's work over a long script.
//
//   tarnwell-bench --editor [--repetitions N]
//
// The script is editorScript(): 100,000 lines of PostgreSQL, 5 MB. Printed,
// one "name value unit" a line:
//   editor.split_mb_per_s            the statement splitter over the script
//                                    (goal: at least 50)
//   editor.split_utf16_mb_per_s      the same over its UTF-16 form (a
//                                    QString's), as a window splits its text
//   editor.lex_mb_per_s              the lexer alone over the whole script
//   editor.lex_lines_mb_per_s        the lexer a line at a time over the
//                                    UTF-16 form, each line from the state
//                                    the line before left: a highlighter's work
//   editor.split_long_line_mb_per_s  the splitter over one line of 1 MB
// MB are 10^6 bytes of the UTF-8 text; rates are medians of --repetitions
// runs after a warm-up run.
//
// Then the script in a query window's memo (offscreen, the window 1000 by
// 800 pixels, on an SQLite alias, the memo coloured as PostgreSQL):
//   editor.open_ms                   from putting the script into the memo
//                                    (as opening an SQL file does) until the
//                                    lines on screen are coloured and painted
//                                    (goal: under 1000)
//   editor.keystroke_p99_ms          200 characters typed on line 50,000, one
//                                    key at a time: from the key event to
//                                    the memo's having processed it, coloured
//                                    what it changed and painted (goal:
//                                    under 16), and the median
//   editor.comment_opener_max_stall_ms  "/*" typed on line 1, whose comment
//                                    runs to the end: the longest time the
//                                    event loop did not come round, from
//                                    the first key until every line is
//                                    coloured (goal: under 50)
//   editor.comment_opener_settled_ms the time until then, for reference
// The first and the last two are medians of --repetitions; the keystrokes
// are those of one run.
#include "EditorBench.h"

#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QString>
#include <QKeyEvent>
#include <QTextBlock>
#include <QTimer>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "BenchWindows.h"
#include "EditorScript.h"
#include "query/MemoText.h"
#include "query/SqlEditor.h"
#include "query/SqlHighlighter.h"
#include "query/UQueryEditor.h"
#include "shell/Application.h"
#include "sqlsyntax/Lexer.h"
#include "sqlsyntax/StatementSplitter.h"

namespace tarnwell::bench {

namespace {

constexpr sql::Dialect kDialect = sql::Dialect::PostgreSQL;

// Megabytes per second of `action` over `bytes`, the median of the runs
// after a warm-up; `action` gives a count that proves the work was done.
template <typename Action>
double megabytesPerSecond(const Options& options, std::size_t bytes, Action&& action) {
    std::size_t proof = action();
    const double seconds = medianOf(options.repetitions, [&] {
        const Clock::time_point start = Clock::now();
        proof += action();
        return secondsSince(start);
    });
    if (proof == 0) {
        note("the measured work found nothing");
    }
    return static_cast<double>(bytes) / 1e6 / seconds;
}

template <typename Char>
std::size_t tokenCount(std::basic_string_view<Char> text, sql::LexState start = {},
                       sql::BasicDollarTags<Char>* tags = nullptr, sql::LexState* end = nullptr) {
    sql::BasicLexer<Char> lexer(kDialect, text, start, tags);
    sql::Token token;
    std::size_t count = 0;
    while (lexer.next(token)) {
        ++count;
    }
    if (end != nullptr) {
        *end = lexer.state();
    }
    return count;
}

// The lines of the UTF-16 text, as a document holds them.
std::vector<std::u16string_view> linesOf(std::u16string_view text) {
    std::vector<std::u16string_view> lines;
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find(u'\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string longLine() {
    const std::string piece = "INSERT INTO t VALUES (1, 'a;b', $$c$$, \"D\") /* e */; ";
    std::string line;
    while (line.size() < 1'000'000) {
        line += piece;
    }
    return line;
}

// Counts the paints of a widget.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget& widget) { widget.installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return QObject::eventFilter(watched, event);
    }
};

// A key pressed and let go in the memo, as the keyboard would send it there.
void typeKey(SqlEditor& memo, int key, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(&memo, &press);
    QCoreApplication::sendEvent(&memo, &release);
}

void typeCharacter(SqlEditor& memo, QChar c) { typeKey(memo, c.toUpper().unicode(), QString(c)); }

double msSince(const QElapsedTimer& clock) { return static_cast<double>(clock.nsecsElapsed()) / 1e6; }

// Serves events until the memo's colours have settled and a paint came after
// `paintsBefore`.
void untilColouredAndPainted(SqlEditor& memo, const PaintCounter& counter, int paintsBefore) {
    if (!serveUntil([&] { return memo.highlighter().visibleColoured() && counter.paints > paintsBefore; }, 60000)) {
        throw std::runtime_error("the memo was not painted coloured");
    }
}

void settle(SqlEditor& memo) {
    if (!serveUntil([&] { return memo.highlighter().settled(); }, 120000)) {
        throw std::runtime_error("the colours did not settle");
    }
}

void placeCaretOnLine(SqlEditor& memo, int line) {
    QTextCursor cursor(memo.document()->findBlockByNumber(line));
    memo.setTextCursor(cursor);
    memo.centerCursor();
}

double openMs(SqlEditor& memo, const PaintCounter& counter, const QString& script) {
    setMemoText(memo, QString());
    settle(memo);
    serveUntil([] { return false; }, 50);
    const int paints = counter.paints;
    QElapsedTimer clock;
    clock.start();
    setMemoText(memo, script);
    untilColouredAndPainted(memo, counter, paints);
    return msSince(clock);
}

std::vector<double> keystrokeMs(SqlEditor& memo, const PaintCounter& counter) {
    placeCaretOnLine(memo, 50'000);
    settle(memo);
    serveUntil([] { return false; }, 50);
    // Words, numbers and brackets: keys that leave the line's end state as
    // it was, as most typing does.
    const QString typed = QStringLiteral("SELECT f(12) AS x, ");
    std::vector<double> times;
    for (int i = 0; i < 200; ++i) {
        const int paints = counter.paints;
        QElapsedTimer clock;
        clock.start();
        typeCharacter(memo, typed.at(i % typed.size()));
        untilColouredAndPainted(memo, counter, paints);
        settle(memo);
        times.push_back(msSince(clock));
    }
    return times;
}

struct CommentOpener {
    double maxStallMs = 0;
    double settledMs = 0;
};

// The longest gap between two turns of the event loop, seen by a timer that
// fires whenever the loop is idle, from typing "/*" until every line is
// coloured; the keys themselves count as gaps too.
CommentOpener commentOpener(SqlEditor& memo) {
    placeCaretOnLine(memo, 0);
    settle(memo);
    CommentOpener result;
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    QTimer ticker;
    ticker.setInterval(0);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        result.maxStallMs = std::max(result.maxStallMs, static_cast<double>(now - last) / 1e6);
        last = now;
    });
    ticker.start();
    for (const QChar key : {QChar(u'/'), QChar(u'*')}) {
        const qint64 before = clock.nsecsElapsed();
        typeCharacter(memo, key);
        result.maxStallMs = std::max(result.maxStallMs, static_cast<double>(clock.nsecsElapsed() - before) / 1e6);
        last = clock.nsecsElapsed();
    }
    settle(memo);
    result.settledMs = msSince(clock);
    ticker.stop();
    // The comment goes again, unmeasured.
    typeKey(memo, Qt::Key_Backspace);
    typeKey(memo, Qt::Key_Backspace);
    settle(memo);
    return result;
}

double percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

void measureInWindow(const Options& options, const std::string& script) {
    const std::unique_ptr<Application> application = startWindowedApplication();
    ScratchDirectory scratch;
    const std::string database = scratch.file("editor.db");
    makeSqliteFile(database, {"CREATE TABLE t (a INTEGER)"});
    AliasQueryWindow client(scratch, "EDITOR", "SQLITE", {{"PATH", database}});
    TfrmQueryEditor& window = client.window();
    window.show();
    window.resize(1000, 800);
    auto& memo = *child<SqlEditor>(window, "MemSQL");
    memo.setDialect(kDialect);
    memo.setFocus();
    const PaintCounter counter(*memo.viewport());
    const QString text = QString::fromUtf8(script.data(), static_cast<qsizetype>(script.size()));

    std::vector<double> opens;
    for (int run = 0; run < options.repetitions; ++run) {
        opens.push_back(openMs(memo, counter, text));
    }
    report("editor.open_ms", median(opens), "ms");
    settle(memo);
    const std::vector<double> keystrokes = keystrokeMs(memo, counter);
    report("editor.keystroke_p99_ms", percentile(keystrokes, 0.99), "ms");
    report("editor.keystroke_median_ms", median(keystrokes), "ms");
    std::vector<double> stalls;
    std::vector<double> settled;
    for (int run = 0; run < options.repetitions; ++run) {
        const CommentOpener opener = commentOpener(memo);
        stalls.push_back(opener.maxStallMs);
        settled.push_back(opener.settledMs);
    }
    report("editor.comment_opener_max_stall_ms", median(stalls), "ms");
    report("editor.comment_opener_settled_ms", median(settled), "ms");
}

}  // namespace

int runEditorBench(const Options& options) {
    const std::string script = editorScript();
    const QString qtText = QString::fromUtf8(script.data(), static_cast<qsizetype>(script.size()));
    const std::u16string_view utf16(reinterpret_cast<const char16_t*>(qtText.utf16()),
                                    static_cast<std::size_t>(qtText.size()));
    const std::vector<std::u16string_view> lines = linesOf(utf16);
    note("script: " + std::to_string(lines.size() - 1) + " lines, " + std::to_string(script.size()) + " bytes, " +
         std::to_string(sql::splitStatements(kDialect, script).size()) + " statements");

    report("editor.split_mb_per_s", megabytesPerSecond(options, script.size(), [&] {
               return sql::splitStatements(kDialect, script).size();
           }),
           "MB/s");
    report("editor.split_utf16_mb_per_s", megabytesPerSecond(options, script.size(), [&] {
               return sql::splitStatements(kDialect, utf16).size();
           }),
           "MB/s");
    report("editor.lex_mb_per_s",
           megabytesPerSecond(options, script.size(), [&] { return tokenCount(std::string_view(script)); }), "MB/s");
    report("editor.lex_lines_mb_per_s", megabytesPerSecond(options, script.size(), [&] {
               sql::Utf16DollarTags tags;
               sql::LexState state;
               std::size_t count = 0;
               for (std::u16string_view line : lines) {
                   count += tokenCount(line, state, &tags, &state);
               }
               return count;
           }),
           "MB/s");
    const std::string line = longLine();
    report("editor.split_long_line_mb_per_s", megabytesPerSecond(options, line.size(), [&] {
               return sql::splitStatements(kDialect, line).size();
           }),
           "MB/s");
    measureInWindow(options, script);
    return 0;
}

}  // namespace tarnwell::bench
