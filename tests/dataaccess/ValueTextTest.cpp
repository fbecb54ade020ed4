// Cells as users see them, in fixed locales.
#include <gtest/gtest.h>

#include "dataaccess/ValueText.h"

namespace tarnwell::test {
namespace {

using db::FieldKind;
using db::RowStore;
using db::ValueFormatter;

// The text, checked against the UTF-8 that writers take without a QString:
// wherever the formatter makes that, it is the same text.
QString textOf(const ValueFormatter& formatter, FieldKind kind, std::string_view canonical) {
    const QString text = formatter.text(kind, RowStore::Cell{false, canonical});
    std::string utf8(formatter.utf8Room(kind, canonical.size()), '\0');
    if (const char* end = formatter.writeUtf8(kind, canonical, utf8.data())) {
        EXPECT_LE(end - utf8.data(), static_cast<std::ptrdiff_t>(utf8.size())) << canonical;
        const std::string_view written(utf8.data(), static_cast<std::size_t>(end - utf8.data()));
        EXPECT_EQ(written, text.toStdString()) << canonical;
        EXPECT_EQ(written.find_first_of("\r\t"), std::string_view::npos) << "writers take it as it is";
    }
    return text;
}

std::string shown(const ValueFormatter& formatter, FieldKind kind, std::string_view canonical) {
    return textOf(formatter, kind, canonical).toStdString();
}

TEST(ValueText, TaiwanLocaleShowsDatesTimesAndDayPeriods) {
    const ValueFormatter taiwan(QLocale(QLocale::Chinese, QLocale::TraditionalChineseScript, QLocale::Taiwan));
    EXPECT_EQ(shown(taiwan, FieldKind::Date, "2024-03-09"), "2024/3/9");
    EXPECT_EQ(shown(taiwan, FieldKind::Time, "13:04:05"), "下午1:04:05");
    EXPECT_EQ(shown(taiwan, FieldKind::Time, "09:00:00.123456"), "上午9:00:00") << "no fractions in the long format";
    EXPECT_EQ(shown(taiwan, FieldKind::DateTime, "2024-03-09 13:04:05"), "2024/3/9 下午1:04:05");
    EXPECT_EQ(shown(taiwan, FieldKind::TimeStamp, "2024-03-09 00:00:00"), "2024/3/9 上午12:00:00");
    EXPECT_EQ(shown(taiwan, FieldKind::DateTime, "2024-03-09 13:04:05.5+08"), "2024/3/9 下午1:04:05 +08")
        << "the engine's offset is kept";
    EXPECT_EQ(shown(taiwan, FieldKind::BCD, "-1234.50"), "-1234.50");
    EXPECT_EQ(shown(taiwan, FieldKind::Memo, "繁體中文"), "繁體中文");
}

TEST(ValueText, NumbersUseTheLocalesDecimalSeparatorWithoutGrouping) {
    const ValueFormatter german(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(shown(german, FieldKind::Float, "1234567.25"), "1234567,25");
    EXPECT_EQ(shown(german, FieldKind::Float, "1e+20"), "1e+20");
    EXPECT_EQ(shown(german, FieldKind::Float, "-2.5e-07"), "-2,5e-07");
    EXPECT_EQ(shown(german, FieldKind::Float, "Infinity"), "Infinity");
    EXPECT_EQ(shown(german, FieldKind::Currency, "99.90"), "99,90");
    EXPECT_EQ(shown(german, FieldKind::FMTBcd, "12345678901234567890.1234"), "12345678901234567890,1234");
    EXPECT_EQ(shown(german, FieldKind::BCD, "n/a"), "n/a") << "not a number: shown as stored";
    EXPECT_EQ(shown(german, FieldKind::Integer, "-2147483648"), "-2147483648");
    EXPECT_EQ(shown(german, FieldKind::Date, "2024-03-09"), "09.03.24");
    EXPECT_EQ(shown(german, FieldKind::Time, "13:04:05"), "13:04:05");
}

TEST(ValueText, ValuesThatDoNotReadAsTheirKindAreShownAsStored) {
    const ValueFormatter english(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(shown(english, FieldKind::Date, "2024-02-30"), "2024-02-30");
    EXPECT_EQ(shown(english, FieldKind::Date, "12345-01-01"), "12345-01-01");
    EXPECT_EQ(shown(english, FieldKind::Date, "0044-03-15 BC"), "0044-03-15 BC");
    EXPECT_EQ(shown(english, FieldKind::Time, "24:00:00"), "24:00:00");
    EXPECT_EQ(shown(english, FieldKind::Time, "13:04:05 tomorrow"), "13:04:05 tomorrow");
    EXPECT_EQ(shown(english, FieldKind::DateTime, "2024-01-02"), "2024-01-02");
    EXPECT_EQ(shown(english, FieldKind::DateTime, "1700000000"), "1700000000");
    EXPECT_EQ(shown(english, FieldKind::Boolean, "1"), "True");
    EXPECT_EQ(shown(english, FieldKind::Boolean, "0"), "False");
    EXPECT_EQ(shown(english, FieldKind::Boolean, "2"), "2");
    EXPECT_EQ(shown(english, FieldKind::Time, "13:04:05"), "1:04:05 PM");
    EXPECT_EQ(shown(english, FieldKind::Date, "2024-03-09"), "3/9/24");
}

TEST(ValueText, BinaryAsHexOrAMarkerAndBrokenUtf8Replaced) {
    const ValueFormatter english(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(shown(english, FieldKind::Blob, std::string_view("\x00\xff\x10", 3)), "\\x00ff10");
    EXPECT_EQ(shown(english, FieldKind::VarBytes, ""), "\\x");
    const std::string limit(ValueFormatter::kLargestBinaryShown, 'a');
    EXPECT_EQ(shown(english, FieldKind::Blob, limit).size(), 2 + 2 * limit.size());
    EXPECT_EQ(shown(english, FieldKind::Graphic, limit + "a"), "(BLOB 65537 bytes)");

    const QString replaced = english.text(FieldKind::String, RowStore::Cell{false, "ok\xff\xfe end"});
    EXPECT_TRUE(replaced.startsWith(u"ok"));
    EXPECT_TRUE(replaced.endsWith(u" end"));
    EXPECT_TRUE(replaced.contains(QChar(0xFFFD)));
    EXPECT_EQ(shown(english, FieldKind::String, "𠀋字"), "𠀋字");

    const QString null = english.text(FieldKind::Integer, RowStore::Cell{});
    EXPECT_TRUE(null.isNull());
}

// A writer keeps the day last written from value to value; what it writes
// is the text all the same, whatever came before.
TEST(ValueText, TheDayKeptFromTheValueBeforeChangesNothing) {
    const std::pair<FieldKind, std::string_view> values[] = {
        {FieldKind::DateTime, "2024-03-09 13:04:05"},    {FieldKind::DateTime, "2024-03-09 23:59:59.5"},
        {FieldKind::DateTime, "2024-03-09 24:00:00"},    {FieldKind::DateTime, "2024-03-10 00:00:00"},
        {FieldKind::DateTime, "2024-02-30 10:00:00"},    {FieldKind::DateTime, "2024-03-10 01:02:03+08"},
        {FieldKind::Date, "2024-03-10"},                 {FieldKind::Date, "2024-03-10 BC"},
        {FieldKind::TimeStamp, "2024-03-10 12:00:00 x"}, {FieldKind::Date, "2024-03-11"},
        {FieldKind::DateTime, "2024-03-11"},             {FieldKind::DateTime, "2024-03-11 07:08:09"},
    };
    for (const QLocale& locale : {QLocale(QLocale::Chinese, QLocale::TraditionalChineseScript, QLocale::Taiwan),
                                  QLocale(QLocale::English, QLocale::UnitedStates)}) {
        const ValueFormatter formatter(locale);
        ValueFormatter::Utf8Memo memo;
        for (const auto& [kind, canonical] : values) {
            std::string utf8(formatter.utf8Room(kind, canonical.size()), '\0');
            const char* end = formatter.writeUtf8(kind, canonical, utf8.data(), &memo);
            const std::string expected = formatter.text(kind, RowStore::Cell{false, canonical}).toStdString();
            if (end == nullptr) {
                EXPECT_EQ(expected, canonical) << "only a value shown as stored is left to text()";
                continue;
            }
            EXPECT_EQ(std::string_view(utf8.data(), static_cast<std::size_t>(end - utf8.data())), expected)
                << canonical;
        }
    }
}

TEST(ValueText, TimeZonePartsLeaveTheLongTimeFormat) {
    EXPECT_EQ(db::timeFormatWithoutZone("h:mm:ss AP t").toStdString(), "h:mm:ss AP");
    EXPECT_EQ(db::timeFormatWithoutZone("Bh:mm:ss [t]").toStdString(), "APh:mm:ss");
    EXPECT_EQ(db::timeFormatWithoutZone("H:mm:ss (t)").toStdString(), "H:mm:ss");
    EXPECT_EQ(db::timeFormatWithoutZone("HH:mm:ss tttt").toStdString(), "HH:mm:ss");
    EXPECT_EQ(db::timeFormatWithoutZone("HH'h'mm 'at' t").toStdString(), "HH'h'mm 'at'")
        << "quoted letters are text, not format";
}

// Dates and times are formatted without asking QLocale for each value; the
// text must be QLocale's all the same, in every locale's own formats.
TEST(ValueText, DatesAndTimesReadAsQLocaleWritesThem) {
    const QLocale locales[] = {
        QLocale::c(),
        QLocale(QLocale::Chinese, QLocale::TraditionalChineseScript, QLocale::Taiwan),
        QLocale(QLocale::Chinese, QLocale::SimplifiedChineseScript, QLocale::China),
        QLocale(QLocale::English, QLocale::UnitedStates),
        QLocale(QLocale::English, QLocale::UnitedKingdom),
        QLocale(QLocale::German, QLocale::Germany),
        QLocale(QLocale::French, QLocale::France),
        QLocale(QLocale::Japanese, QLocale::Japan),
        QLocale(QLocale::Korean, QLocale::SouthKorea),
        QLocale(QLocale::Arabic, QLocale::Egypt),
        QLocale(QLocale::Hindi, QLocale::India),
        QLocale(QLocale::Finnish, QLocale::Finland),
    };
    for (const QLocale& locale : locales) {
        const ValueFormatter formatter(locale);
        const std::string name = locale.name().toStdString();
        for (QDate date(1999, 12, 25); date < QDate(2001, 1, 8); date = date.addDays(1)) {
            const std::string canonical = date.toString(Qt::ISODate).toStdString();
            const QString expected = locale.toString(date, formatter.dateFormat());
            ASSERT_EQ(textOf(formatter, FieldKind::Date, canonical), expected)
                << name << " " << canonical;
        }
        for (int second = 0; second < 24 * 3600; second += 37) {
            const QTime time = QTime(0, 0).addSecs(second);
            const std::string canonical = time.toString(Qt::ISODate).toStdString();
            const QString expected = locale.toString(time, formatter.timeFormat());
            ASSERT_EQ(textOf(formatter, FieldKind::Time, canonical), expected)
                << name << " " << canonical;
        }
        EXPECT_EQ(shown(formatter, FieldKind::DateTime, "0987-06-05 00:30:00"),
                  (locale.toString(QDate(987, 6, 5), formatter.dateFormat()) + u' ' +
                   locale.toString(QTime(0, 30), formatter.timeFormat()))
                      .toStdString())
            << name;
    }
}

}  // namespace
}  // namespace tarnwell::test
