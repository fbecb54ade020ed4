#include "support/ScriptedPrompt.h"

#include <gtest/gtest.h>

#include <QPageLayout>
#include <QPrinter>

namespace tarnwell::test {

const char* kindName(ScriptedPrompt::Kind kind) {
    switch (kind) {
    case ScriptedPrompt::Kind::Message: return "message box";
    case ScriptedPrompt::Kind::YesNo: return "yes/no question";
    case ScriptedPrompt::Kind::Input: return "input box";
    case ScriptedPrompt::Kind::OpenFile: return "open-file dialog";
    case ScriptedPrompt::Kind::SaveFile: return "save-file dialog";
    case ScriptedPrompt::Kind::Directory: return "directory dialog";
    case ScriptedPrompt::Kind::Font: return "font dialog";
    case ScriptedPrompt::Kind::Printer: return "print dialog";
    }
    return "?";
}

namespace {

QStringList fileTexts(const Prompt::FileRequest& request) {
    return {request.caption, request.directory, request.fileName, request.filter,
            request.defaultSuffix};
}

}  // namespace

ScriptedPrompt::ScriptedPrompt() : installed_(*this) {}

ScriptedPrompt::~ScriptedPrompt() {
    for (const Step& step : script_) {
        ADD_FAILURE() << "the program never showed the scripted " << kindName(step.kind)
                      << (step.expectedText ? " \"" + step.expectedText->toStdString() + "\"" : "");
    }
}

ScriptedPrompt::Step& ScriptedPrompt::queue(Kind kind, std::optional<QString> expectedText) {
    Step& step = script_.emplace_back();
    step.kind = kind;
    step.expectedText = std::move(expectedText);
    return step;
}

void ScriptedPrompt::expectMessage(std::optional<QString> expectedText) {
    queue(Kind::Message, std::move(expectedText));
}

void ScriptedPrompt::answerYesNo(bool yes, std::optional<QString> expectedText) {
    queue(Kind::YesNo, std::move(expectedText)).yes = yes;
}

void ScriptedPrompt::answerInput(std::optional<QString> text, std::optional<QString> expectedLabel) {
    queue(Kind::Input, std::move(expectedLabel)).text = std::move(text);
}

void ScriptedPrompt::answerOpenFile(std::optional<QString> path, std::optional<QString> expectedCaption) {
    queue(Kind::OpenFile, std::move(expectedCaption)).text = std::move(path);
}

void ScriptedPrompt::answerSaveFile(std::optional<QString> path, std::optional<QString> expectedCaption) {
    queue(Kind::SaveFile, std::move(expectedCaption)).text = std::move(path);
}

void ScriptedPrompt::answerDirectory(std::optional<QString> path, std::optional<QString> expectedCaption) {
    queue(Kind::Directory, std::move(expectedCaption)).text = std::move(path);
}

void ScriptedPrompt::answerFont(std::optional<QFont> font) {
    queue(Kind::Font, std::nullopt).font = std::move(font);
}

void ScriptedPrompt::answerPrinter(std::optional<QString> pdfFile) {
    queue(Kind::Printer, std::nullopt).text = std::move(pdfFile);
}

QStringList ScriptedPrompt::messages() const {
    QStringList texts;
    for (const Call& call : calls_) {
        if (call.kind == Kind::Message) {
            texts << call.texts.constFirst();
        }
    }
    return texts;
}

std::optional<ScriptedPrompt::Step> ScriptedPrompt::take(Kind kind, QStringList texts,
                                                         int checkedText) {
    const QString shown = texts.value(checkedText);
    calls_.push_back({kind, std::move(texts)});
    if (script_.empty()) {
        ADD_FAILURE() << "unexpected " << kindName(kind) << " \"" << shown.toStdString()
                      << "\": the script is used up";
        return std::nullopt;
    }
    Step step = script_.front();
    script_.pop_front();
    if (step.kind != kind) {
        ADD_FAILURE() << "unexpected " << kindName(kind) << " \"" << shown.toStdString()
                      << "\": the script expected a " << kindName(step.kind);
        return std::nullopt;
    }
    if (step.expectedText && *step.expectedText != shown) {
        ADD_FAILURE() << kindName(kind) << " showed \"" << shown.toStdString()
                      << "\", the script expected \"" << step.expectedText->toStdString() << "\"";
    }
    return step;
}

void ScriptedPrompt::showMessage(const QString& text) { take(Kind::Message, {text}, 0); }

bool ScriptedPrompt::askYesNo(const Question& question) {
    const QString defaultButton =
        question.defaultButton == Question::Button::No ? QStringLiteral("No") : QStringLiteral("Yes");
    const auto step = take(Kind::YesNo, {question.text, question.caption, defaultButton}, 0);
    return step && step->yes;
}

std::optional<QString> ScriptedPrompt::inputText(const QString& caption, const QString& label,
                                                 const QString& initial) {
    const auto step = take(Kind::Input, {caption, label, initial}, 1);
    return step ? step->text : std::nullopt;
}

std::optional<QString> ScriptedPrompt::openFileName(const FileRequest& request) {
    const auto step = take(Kind::OpenFile, fileTexts(request), 0);
    return step ? step->text : std::nullopt;
}

std::optional<QString> ScriptedPrompt::saveFileName(const FileRequest& request) {
    const auto step = take(Kind::SaveFile, fileTexts(request), 0);
    return step ? step->text : std::nullopt;
}

std::optional<QString> ScriptedPrompt::directoryName(const QString& caption, const QString& start) {
    const auto step = take(Kind::Directory, {caption, start}, 0);
    return step ? step->text : std::nullopt;
}

std::optional<QFont> ScriptedPrompt::chooseFont(const QFont& initial) {
    const auto step = take(Kind::Font, {initial.family(), initial.toString()}, 0);
    return step ? step->font : std::nullopt;
}

std::unique_ptr<QPrinter> ScriptedPrompt::choosePrinter(const QPageLayout& layout, const QString& documentName) {
    const QSizeF sheet = layout.pageSize().size(QPageSize::Millimeter);
    const QString size = QString::number(qRound(sheet.width())) + u'x' + QString::number(qRound(sheet.height()));
    const QString orientation =
        layout.orientation() == QPageLayout::Landscape ? QStringLiteral("landscape") : QStringLiteral("portrait");
    const auto step = take(Kind::Printer, {documentName, size, orientation}, 0);
    if (!step || !step->text) {
        return nullptr;
    }
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(*step->text);
    return printer;
}

}  // namespace tarnwell::test
