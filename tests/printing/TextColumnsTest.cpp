#include <gtest/gtest.h>

#include "../support/QtPrinters.h"
#include "output/TextColumns.h"

namespace tarnwell {
namespace {

TEST(TextColumns, wideCharactersTakeTwoColumnsAsTheMingFaceDrawsThem) {
    EXPECT_EQ(displayColumns(u"abc 12"), 6);
    EXPECT_EQ(displayColumns(u"中文"), 4);
    EXPECT_EQ(displayColumns(u"，。「」ＡＢ"), 12) << "full-width punctuation and letters";
    EXPECT_EQ(displayColumns(u"αЖ─①※"), 10) << "symbols Big5 holds as two bytes";
    EXPECT_EQ(displayColumns(u"é°±×€"), 5) << "Latin-1 and the euro sign stay narrow";
    EXPECT_EQ(displayColumns(u"e\u0301\t\u200b"), 1) << "combining, control and format characters take none";
    EXPECT_EQ(displayColumns(u"\U00020000"), 2) << "a CJK character beyond the basic plane";
    EXPECT_EQ(displayColumns(u""), 0);
}

TEST(TextColumns, aCutNeverSplitsACharacter) {
    EXPECT_EQ(leadingColumns(u"中文字", 5), u"中文");
    EXPECT_EQ(leadingColumns(u"中文字", 6), u"中文字");
    EXPECT_EQ(leadingColumns(u"ab中", 3), u"ab");
    EXPECT_EQ(leadingColumns(u"ae\u0301b", 2), u"ae\u0301") << "a mark stays with its letter";
    EXPECT_EQ(leadingColumns(u"\U00020000x", 1), u"");
    EXPECT_EQ(leadingColumns(u"\U00020000x", 3), u"\U00020000x");
    EXPECT_EQ(leadingColumns(u"abc", 0), u"");
    EXPECT_EQ(leadingColumns(u"abc", -4), u"");
}

}  // namespace
}  // namespace tarnwell
