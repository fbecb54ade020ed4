#include <gtest/gtest.h>

#include "PrintQt.h"

#include <QStringList>
#include <algorithm>
#include <random>

#include "query/SqlStringForm.h"

namespace tarnwell {
namespace {

// Memo text from lines written with "·" for each blank.
QString memo(const QStringList& lines) {
    QString text = lines.join(QStringLiteral("\r\n"));
    return text.replace(u'·', u' ');
}

struct Example {
    const char* name;
    bool toProgramForm;
    QStringList before;
    QStringList after;
};

void PrintTo(const Example& example, std::ostream* out) { *out << "example " << example.name; }

class ProgramStringExamples : public ::testing::TestWithParam<Example> {};

TEST_P(ProgramStringExamples, rewritesEveryLineAsShown) {
    const Example& example = GetParam();
    const QString before = memo(example.before);
    const QString after = example.toProgramForm ? toProgramStringForm(before)
                                                : fromProgramStringForm(before);
    EXPECT_EQ(after, memo(example.after)) << example.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProgramStringExamples,
    ::testing::Values(
        Example{"1", true,
                {QStringLiteral("select·*·from·t·where·a·=·'x'"), QStringLiteral("order·by·a")},
                {QStringLiteral("+'select·*·from·t·where·a·=·''x'''"),
                 QStringLiteral("+'order·by·a'")}},
        Example{"2", false,
                {QStringLiteral("+'select·*·from·t·where·a·=·''x'''"),
                 QStringLiteral("+'order·by·a'")},
                {QStringLiteral("select·*·from·t·where·a·=·'x'"), QStringLiteral("order·by·a")}},
        Example{"3", false,
                {QStringLiteral("··sql·:=·'select·*·from·t·'·+"),
                 QStringLiteral("····'where·a·=·''x''·'·+"), QStringLiteral("····'order·by·a';")},
                {QStringLiteral("select·*·from·t·"), QStringLiteral("where·a·=·'x'·"),
                 QStringLiteral("order·by·a")}},
        Example{"4", false,
                {QStringLiteral("s·:=·'select·*·from·t'"), QStringLiteral("···+·'·where·a·=·1'")},
                {QStringLiteral("select·*·from·t"), QStringLiteral("····where·a·=·1")}},
        Example{"5", false, {QStringLiteral("s:='abc'")}, {QStringLiteral("abc")}},
        Example{"6", false, {QStringLiteral("+x'abc'")}, {QStringLiteral("abc")}},
        Example{"7", false, {QStringLiteral("+·x·'abc'")}, {QStringLiteral("+·x·'abc")}}),
    [](const ::testing::TestParamInfo<Example>& info) {
        return std::string("example") + info.param.name;
    });

TEST(ProgramStringForm, linesAreTheMemosLines) {
    // An empty memo has no lines.
    EXPECT_EQ(toProgramStringForm(QString()), QString());
    EXPECT_EQ(fromProgramStringForm(QString()), QString());
    // A final break ends the last line and stays; it opens no further line.
    EXPECT_EQ(toProgramStringForm(memo({"a", ""})), memo({"+'a'", ""}));
    // Empty lines inside the text do count.
    EXPECT_EQ(toProgramStringForm(memo({"a", "", "b"})), memo({"+'a'", "+''", "+'b'"}));
    EXPECT_EQ(toProgramStringForm(memo({"", ""})), memo({"+''", ""}));
    // Nothing is put between lines: words of two lines run together.
    EXPECT_EQ(fromProgramStringForm(memo({"+'select·*'", "+'from·t'"})),
              memo({"select·*", "from·t"}));
}

TEST(ProgramStringForm, reverseWorksOnEachLineInOrder) {
    // The assignment is looked for on the first line only.
    EXPECT_EQ(fromProgramStringForm(memo({"'a'", "x·:=·'b'"})), memo({"a", "x·:=·'b"}));
    // ":=" at the very end leaves nothing of the first line.
    EXPECT_EQ(fromProgramStringForm(QStringLiteral("s :=")), QString());
    // Several leading joins go one after the other.
    EXPECT_EQ(fromProgramStringForm(QStringLiteral("+'+'abc'")), QStringLiteral("abc"));
    // Tabs and control characters are blanks as well.
    EXPECT_EQ(fromProgramStringForm(QStringLiteral("\t\x01+\t'abc'")),
              QStringLiteral("\t\x01" "abc"));
    // Everything after the closing quote goes: joins, semicolons, comments.
    EXPECT_EQ(fromProgramStringForm(QStringLiteral("'abc' + // rest")), QStringLiteral("abc"));
    // Semicolons go everywhere, also inside literals.
    EXPECT_EQ(fromProgramStringForm(QStringLiteral("'a;b';")), QStringLiteral("ab"));
    // A "+" with no literal after it is not a join; the line is left as it is.
    EXPECT_EQ(fromProgramStringForm(memo({"··+·1", "'x'"})), memo({"··+·1", "x"}));
    // Quote pairs become one quote, scanning left to right without rescanning.
    EXPECT_EQ(fromProgramStringForm(QStringLiteral("+'a''''b'")), QStringLiteral("a''b"));
    // Non-ASCII text: positions count characters, never halves of one.
    EXPECT_EQ(fromProgramStringForm(QStringLiteral("字串 := '中文𠀀''字'")),
              QStringLiteral("中文𠀀'字"));
    EXPECT_EQ(toProgramStringForm(QStringLiteral("名稱 = '𠀀'")),
              QStringLiteral("+'名稱 = ''𠀀'''"));
}

// Lines that the reverse tool reads as program syntax of their own.
bool roundTrips(const QString& line, bool firstLine) {
    if (line.contains(u';') || line.contains(QStringLiteral("+'")) ||
        line.contains(QStringLiteral("'+"))) {
        return false;
    }
    if (firstLine && line.contains(QStringLiteral(":="))) {
        return false;
    }
    const auto text = std::find_if(line.cbegin(), line.cend(), [](QChar c) { return c > u' '; });
    return text == line.cend() || *text != u'+';
}

QString randomSqlText(std::mt19937& random) {
    static const QString alphabet = QStringLiteral(
        "selctfromwhSELCTFROMWH0123456789    \t\x01'''++::==(),*._<>!中文資料表名稱𠀀😀");
    // Characters outside the BMP take two positions of the alphabet.
    QList<QString> characters;
    for (qsizetype i = 0; i < alphabet.size(); ++i) {
        const qsizetype length = alphabet.at(i).isHighSurrogate() ? 2 : 1;
        characters.append(alphabet.sliced(i, length));
        i += length - 1;
    }
    std::uniform_int_distribution<int> lineCount(0, 6);
    std::uniform_int_distribution<int> lineLength(0, 24);
    std::uniform_int_distribution<qsizetype> pick(0, characters.size() - 1);
    QStringList lines;
    const int count = lineCount(random);
    while (lines.size() < count) {
        QString line;
        for (int length = lineLength(random); length > 0; --length) {
            line += characters.at(pick(random));
        }
        if (roundTrips(line, lines.isEmpty())) {
            lines.append(line);
        }
    }
    QString text = lines.join(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && random() % 2 == 0) {
        text += QStringLiteral("\r\n");
    }
    return text;
}

TEST(ProgramStringForm, reverseGivesBackTheSqlThatWasTurnedIntoProgramForm) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 5000; ++round) {
        const QString sql = randomSqlText(random);
        ASSERT_EQ(fromProgramStringForm(toProgramStringForm(sql)), sql)
            << "round " << round << ": " << sql.toStdString();
    }
}

}  // namespace
}  // namespace tarnwell
