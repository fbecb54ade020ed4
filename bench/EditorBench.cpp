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
#include "EditorBench.h"

#include <QString>
#include <string>
#include <vector>

#include "EditorScript.h"
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
    return 0;
}

}  // namespace tarnwell::bench
