// The scripted prompt the window tests answer dialogs with: it must catch a
// dialog the script did not expect, in kind, text or number.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "support/ScriptedPrompt.h"
#include "support/QtPrinters.h"

namespace tarnwell::test {
namespace {

TEST(ScriptedPromptTest, AnswersInOrderAndRecordsEveryCall) {
    ScriptedPrompt scripted;
    scripted.expectMessage("尚未建立連結");
    scripted.answerYesNo(true);
    scripted.answerInput(QString("42"), "列數");
    scripted.answerSaveFile(std::nullopt);
    scripted.answerFont(QFont("細明體"));

    prompt().showMessage("尚未建立連結");
    EXPECT_TRUE(prompt().askYesNo({"轉存", "匯出?", Prompt::Question::Button::No}));
    EXPECT_EQ(prompt().inputText("標題", "列數", "10"), QString("42"));
    EXPECT_EQ(prompt().saveFileName({"存檔", "/tmp", "a.SQL", "*.SQL (*.SQL)", "SQL"}), std::nullopt);
    EXPECT_EQ(prompt().chooseFont(QFont("Arial"))->family(), "細明體");

    EXPECT_TRUE(scripted.scriptUsedUp());
    ASSERT_EQ(scripted.calls().size(), 5u);
    EXPECT_EQ(scripted.calls()[1].texts, QStringList({"匯出?", "轉存", "No"}));
    EXPECT_EQ(scripted.calls()[2].kind, ScriptedPrompt::Kind::Input);
    EXPECT_EQ(scripted.calls()[2].texts, QStringList({"標題", "列數", "10"}));
    EXPECT_EQ(scripted.calls()[3].texts, QStringList({"存檔", "/tmp", "a.SQL", "*.SQL (*.SQL)", "SQL"}));
    EXPECT_EQ(scripted.messages(), QStringList({"尚未建立連結"}));
}

TEST(ScriptedPromptTest, FailsOnUnexpectedUnmatchedOrUnusedSteps) {
    EXPECT_NONFATAL_FAILURE(
        {
            ScriptedPrompt scripted;
            prompt().showMessage("surprise");
        },
        "unexpected message box \"surprise\"");
    EXPECT_NONFATAL_FAILURE(
        {
            ScriptedPrompt scripted;
            scripted.answerYesNo(true);
            EXPECT_FALSE(prompt().openFileName({}).has_value());
        },
        "the script expected a yes/no question");
    EXPECT_NONFATAL_FAILURE(
        {
            ScriptedPrompt scripted;
            scripted.expectMessage("one");
            prompt().showMessage("two");
        },
        "the script expected \"one\"");
    EXPECT_NONFATAL_FAILURE(
        {
            ScriptedPrompt scripted;
            scripted.answerDirectory(QString("/tmp"));
        },
        "never showed the scripted directory dialog");
}

TEST(ScriptedPromptTest, PutsTheRealPromptBackWhenItGoes) {
    Prompt* real = &prompt();
    {
        ScriptedPrompt scripted;
        EXPECT_EQ(&prompt(), &scripted);
    }
    EXPECT_EQ(&prompt(), real);
}

}  // namespace
}  // namespace tarnwell::test
