#include <gtest/gtest.h>

#include "PrintQt.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>
#include <functional>

#include "query/MemoText.h"
#include "query/TextReplace.h"
#include "query/UReplaceString.h"
#include "support/FindChild.h"

namespace tarnwell {
namespace {

using test::child;

const ReplaceOptions allIgnoringCase{true, true};
const ReplaceOptions allExact{true, false};
const ReplaceOptions firstIgnoringCase{false, true};
const ReplaceOptions neither{false, false};

TEST(Replace, theFourCombinationsOfTheBoxes) {
    const QString text = QStringLiteral("select * From t1 join t2 FROM t3 from");
    const QString find = QStringLiteral("FROM");
    const QString with = QStringLiteral("from");

    EXPECT_EQ(replaceInText(QStringLiteral("select * From t1 join t2 FROM"), find, with,
                            allIgnoringCase).text,
              QStringLiteral("select * from t1 join t2 from"));
    EXPECT_EQ(replaceInText(text, find, with, allExact).text,
              QStringLiteral("select * From t1 join t2 from t3 from"));

    // Only the first match, whatever the case of its letters; it stays selected.
    const ReplaceResult first = replaceInText(text, QStringLiteral("fRoM"), QStringLiteral("X"),
                                              firstIgnoringCase);
    EXPECT_EQ(first.text, QStringLiteral("select * X t1 join t2 FROM t3 from"));
    EXPECT_EQ(first.matches, QList<qsizetype>{9});
    ASSERT_TRUE(first.selection.has_value());
    EXPECT_EQ(*first.selection, (TextRange{9, 1}));

    const ReplaceResult none = replaceInText(text, find, with, neither);
    EXPECT_EQ(none.text, text);
    EXPECT_TRUE(none.matches.isEmpty());
    EXPECT_FALSE(none.selection.has_value());
}

TEST(Replace, emptyFindTextOrNoMatchChangesNothing) {
    for (const ReplaceOptions options : {allIgnoringCase, allExact, firstIgnoringCase, neither}) {
        const ReplaceResult empty = replaceInText(QStringLiteral("abc"), QString(),
                                                  QStringLiteral("x"), options);
        EXPECT_EQ(empty.text, QStringLiteral("abc"));
        EXPECT_TRUE(empty.matches.isEmpty());
        const ReplaceResult missing = replaceInText(QStringLiteral("abc"), QStringLiteral("z"),
                                                    QStringLiteral("x"), options);
        EXPECT_EQ(missing.text, QStringLiteral("abc"));
        EXPECT_FALSE(missing.selection.has_value());
    }
}

TEST(Replace, matchesDoNotOverlapAndReplacedTextIsNotSearchedAgain) {
    EXPECT_EQ(replaceInText(QStringLiteral("aaaa"), QStringLiteral("aa"), QStringLiteral("a"),
                            allExact).text,
              QStringLiteral("aa"));
    EXPECT_EQ(replaceInText(QStringLiteral("aaa"), QStringLiteral("aa"), QStringLiteral("b"),
                            allExact).text,
              QStringLiteral("ba"));
    EXPECT_EQ(replaceInText(QStringLiteral("a-A"), QStringLiteral("a"), QStringLiteral("aA"),
                            allIgnoringCase).text,
              QStringLiteral("aA-aA"));
}

TEST(Replace, caseIsFoldedByTheLocaleWithoutMovingPositions) {
    // "ß" upper-cases to "SS" for whole texts; folding character by character
    // keeps every position where it was.
    const ReplaceResult shifted = replaceInText(QStringLiteral("ßß abc"), QStringLiteral("ABC"),
                                                QStringLiteral("x"), firstIgnoringCase,
                                                QLocale(QLocale::German));
    EXPECT_EQ(shifted.text, QStringLiteral("ßß x"));
    EXPECT_EQ(*shifted.selection, (TextRange{3, 1}));

    // The locale's own rules: in Turkish the capital of "i" is "İ".
    const QString city = QStringLiteral("İstanbul");
    EXPECT_EQ(replaceInText(city, QStringLiteral("istanbul"), QStringLiteral("X"), allIgnoringCase,
                            QLocale(QLocale::Turkish)).text,
              QStringLiteral("X"));
    EXPECT_EQ(replaceInText(city, QStringLiteral("istanbul"), QStringLiteral("X"), allIgnoringCase,
                            QLocale::c()).text,
              city);

    // Characters beyond the BMP take two positions and are never split.
    const ReplaceResult wide = replaceInText(QStringLiteral("中𠀀select 𠀀"), QStringLiteral("SELECT"),
                                             QStringLiteral("選"), firstIgnoringCase);
    EXPECT_EQ(wide.text, QStringLiteral("中𠀀選 𠀀"));
    EXPECT_EQ(*wide.selection, (TextRange{3, 1}));
}

// --- the dialog ---------------------------------------------------------

// Runs `whileShown` inside the dialog's modal loop, then presses "關閉" if
// the step left the dialog open, so showReplaceDialog always returns.
void pressReplaceButton(QPlainTextEdit& memo, std::function<void(TFrmReplaceString&)> whileShown) {
    QTimer::singleShot(0, [whileShown] {
        TFrmReplaceString* dialog = TFrmReplaceString::current();
        if (dialog == nullptr) {
            ADD_FAILURE() << "no dialog while it should be shown";
            return;
        }
        QPointer<TFrmReplaceString> guard = dialog;
        whileShown(*dialog);
        if (guard) {
            guard->BitBtn2Click();
        }
    });
    showReplaceDialog(memo);
}

void fill(TFrmReplaceString& dialog, const QString& find, const QString& with, bool all,
          bool ignoreCase) {
    child<QLineEdit>(dialog, "Edit1")->setText(find);
    child<QLineEdit>(dialog, "Edit2")->setText(with);
    child<QCheckBox>(dialog, "Chk1")->setChecked(all);
    child<QCheckBox>(dialog, "Chk2")->setChecked(ignoreCase);
}

TEST(ReplaceDialog, isLaidOutAsDesigned) {
    QPlainTextEdit memo;
    pressReplaceButton(memo, [](TFrmReplaceString& dialog) {
        EXPECT_EQ(dialog.windowTitle(), QStringLiteral("FrmReplaceString"));
        EXPECT_EQ(dialog.size(), QSize(233, 182));
        EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
        EXPECT_TRUE(dialog.isModal());
        EXPECT_EQ(dialog.font().family(), QStringLiteral("細明體"));
        EXPECT_EQ(dialog.font().pixelSize(), 16);
        const QRect desktop = QGuiApplication::primaryScreen()->availableGeometry();
        EXPECT_LE((dialog.frameGeometry().center() - desktop.center()).manhattanLength(), 2);

        const struct {
            const char* name;
            QRect place;
            QString caption;
        } parts[] = {
            {"Label1", {24, 16, 32, 16}, QStringLiteral("尋找")},
            {"Edit1", {64, 12, 121, 24}, QString()},
            {"Label2", {8, 48, 48, 16}, QStringLiteral("替換為")},
            {"Edit2", {64, 44, 121, 24}, QString()},
            {"Chk1", {64, 80, 120, 17}, QStringLiteral("全文替換")},
            {"Chk2", {64, 104, 120, 17}, QStringLiteral("不分大小寫")},
            {"BitBtn1", {32, 144, 80, 30}, QStringLiteral("替換")},
            {"BitBtn2", {120, 144, 80, 30}, QStringLiteral("關閉")},
        };
        for (const auto& expected : parts) {
            QWidget* widget = child<QWidget>(dialog, expected.name);
            ASSERT_NE(widget, nullptr);
            EXPECT_EQ(widget->geometry(), expected.place) << expected.name;
            QString caption;
            if (auto* label = qobject_cast<QLabel*>(widget)) caption = label->text();
            if (auto* edit = qobject_cast<QLineEdit*>(widget)) caption = edit->text();
            if (auto* button = qobject_cast<QAbstractButton*>(widget)) caption = button->text();
            EXPECT_EQ(caption, expected.caption) << expected.name;
            if (auto* box = qobject_cast<QCheckBox*>(widget)) {
                EXPECT_FALSE(box->isChecked()) << expected.name;
            }
        }
    });
}

TEST(ReplaceDialog, replacesInTheMemoLikeTypingAndCanBeUndone) {
    QPlainTextEdit memo;
    // Characters beyond the BMP take two document positions, as in the text.
    setMemoText(memo, QStringLiteral("𠀀select * From t1\r\njoin t2 FROM\r\n"));
    QSignalSpy changed(&memo, &QPlainTextEdit::textChanged);

    pressReplaceButton(memo, [&](TFrmReplaceString& dialog) {
        EXPECT_EQ(dialog.memo(), &memo);
        fill(dialog, QStringLiteral("FROM"), QStringLiteral("from"), true, true);
        dialog.BitBtn1Click();
        EXPECT_EQ(memoText(memo), QStringLiteral("𠀀select * from t1\r\njoin t2 from\r\n"));
        EXPECT_GE(changed.count(), 1);

        // The dialog stays open for another replace: the first match only,
        // which is left selected.
        fill(dialog, QStringLiteral("T"), QStringLiteral("表"), false, true);
        dialog.BitBtn1Click();
        EXPECT_EQ(memoText(memo), QStringLiteral("𠀀selec表 * from t1\r\njoin t2 from\r\n"));
        EXPECT_EQ(memo.textCursor().selectedText(), QStringLiteral("表"));
        EXPECT_EQ(memo.textCursor().selectionStart(), 7);

        // Neither box: nothing happens, not even an empty edit.
        const int changesBefore = changed.count();
        fill(dialog, QStringLiteral("join"), QStringLiteral("x"), false, false);
        dialog.BitBtn1Click();
        EXPECT_EQ(changed.count(), changesBefore);
    });

    // Each replace is one step back.
    memo.undo();
    EXPECT_EQ(memoText(memo), QStringLiteral("𠀀select * from t1\r\njoin t2 from\r\n"));
    memo.undo();
    EXPECT_EQ(memoText(memo), QStringLiteral("𠀀select * From t1\r\njoin t2 FROM\r\n"));
}

TEST(ReplaceDialog, everyPressStartsAFreshDialogThatIsFreedOnClose) {
    QPlainTextEdit memo;
    setMemoText(memo, QStringLiteral("abc"));
    QPointer<TFrmReplaceString> first;
    pressReplaceButton(memo, [&](TFrmReplaceString& dialog) {
        first = &dialog;
        fill(dialog, QStringLiteral("a"), QStringLiteral("b"), true, true);
        dialog.close();  // the title bar's close box
    });
    EXPECT_TRUE(first.isNull());
    EXPECT_EQ(TFrmReplaceString::current(), nullptr);

    pressReplaceButton(memo, [&](TFrmReplaceString& dialog) {
        EXPECT_TRUE(child<QLineEdit>(dialog, "Edit1")->text().isEmpty());
        EXPECT_TRUE(child<QLineEdit>(dialog, "Edit2")->text().isEmpty());
        EXPECT_FALSE(child<QCheckBox>(dialog, "Chk1")->isChecked());
        EXPECT_FALSE(child<QCheckBox>(dialog, "Chk2")->isChecked());
        child<QPushButton>(dialog, "BitBtn2")->click();
    });
    EXPECT_EQ(TFrmReplaceString::current(), nullptr);
    for (QWidget* window : QApplication::topLevelWidgets()) {
        EXPECT_EQ(qobject_cast<TFrmReplaceString*>(window), nullptr);
    }
}

TEST(ReplaceDialog, thereIsOnlyOneAtATime) {
    QPlainTextEdit first;
    QPlainTextEdit second;
    setMemoText(second, QStringLiteral("x y x"));
    pressReplaceButton(first, [&](TFrmReplaceString& dialog) {
        // Another window's button while the dialog is up: the same dialog
        // takes that window's memo.
        showReplaceDialog(second);
        EXPECT_EQ(TFrmReplaceString::current(), &dialog);
        EXPECT_EQ(dialog.memo(), &second);
        int dialogs = 0;
        for (QWidget* window : QApplication::topLevelWidgets()) {
            dialogs += qobject_cast<TFrmReplaceString*>(window) != nullptr;
        }
        EXPECT_EQ(dialogs, 1);
        fill(dialog, QStringLiteral("x"), QStringLiteral("z"), true, false);
        dialog.BitBtn1Click();
    });
    EXPECT_EQ(memoText(second), QStringLiteral("z y z"));
    EXPECT_TRUE(memoText(first).isEmpty());
}

TEST(ReplaceDialog, aMemoThatWentAwayIsLeftAlone) {
    QPlainTextEdit owner;
    auto* memo = new QPlainTextEdit(&owner);
    setMemoText(*memo, QStringLiteral("abc"));
    pressReplaceButton(*memo, [&](TFrmReplaceString& dialog) {
        fill(dialog, QStringLiteral("a"), QStringLiteral("b"), true, true);
        delete memo;
        dialog.BitBtn1Click();
        EXPECT_EQ(dialog.memo(), nullptr);
    });
}

// --- the memo's text ----------------------------------------------------

TEST(MemoText, holdsLinesAsCrLfAndChangesLikeTyping) {
    QPlainTextEdit memo;
    QSignalSpy changed(&memo, &QPlainTextEdit::textChanged);
    const QString text = QStringLiteral("select\u00a0*\r\n\r\nfrom 表\r\n");
    setMemoText(memo, text);
    EXPECT_EQ(memoText(memo), text);  // no-break space kept, final break kept
    EXPECT_EQ(memo.document()->blockCount(), 4);
    EXPECT_GE(changed.count(), 1);
    EXPECT_EQ(memo.textCursor().position(), 0);

    // Lone breaks of either kind become lines too.
    setMemoText(memo, QStringLiteral("a\nb\rc"));
    EXPECT_EQ(memoText(memo), QStringLiteral("a\r\nb\r\nc"));

    const int changes = changed.count();
    setMemoText(memo, QStringLiteral("a\r\nb\r\nc"));
    EXPECT_EQ(changed.count(), changes);

    memo.undo();
    EXPECT_EQ(memoText(memo), text);
    setMemoText(memo, QString());
    EXPECT_TRUE(memoText(memo).isEmpty());
}

}  // namespace
}  // namespace tarnwell
