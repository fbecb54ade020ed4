#include "connections/ConnectionHelp.h"

#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "ui/Prompt.h"

namespace tarnwell {

namespace {

const QString kHelpWindowName = QStringLiteral("ConnectionStringHelp");
const QString kSectionHeading = QStringLiteral("### Connection strings");

// The number of "#" that open a heading line; 0 for other lines.
int headingLevel(const QString& line) {
    int level = 0;
    while (level < line.size() && line.at(level) == QLatin1Char('#')) {
        ++level;
    }
    return level > 0 && level < line.size() && line.at(level) == QLatin1Char(' ') ? level : 0;
}

}  // namespace

QStringList readmeCandidates() {
    return {
        QCoreApplication::applicationDirPath() + QStringLiteral("/../share/doc/tarnwell/README.md"),
        QStringLiteral(TARNWELL_DOC_INSTALL_DIR "/README.md"),
        QStringLiteral(TARNWELL_SOURCE_README),
    };
}

QString findReadme() {
    for (const QString& candidate : readmeCandidates()) {
        if (QFileInfo(candidate).isFile()) {
            return QFileInfo(candidate).canonicalFilePath();
        }
    }
    return {};
}

QString connectionStringHelpText(const QString& readme) {
    const QStringList lines = readme.split(QLatin1Char('\n'));
    const int sectionLevel = headingLevel(kSectionHeading);
    QStringList section;
    bool inside = false;
    bool inCode = false;
    for (const QString& line : lines) {
        if (line.trimmed().startsWith(QStringLiteral("```"))) {
            inCode = !inCode;
        }
        const int level = inCode ? 0 : headingLevel(line);
        if (!inside) {
            inside = line.trimmed() == kSectionHeading;
        } else if (level > 0 && level < sectionLevel) {
            break;
        }
        if (inside) {
            section << line;
        }
    }
    return section.join(QLatin1Char('\n')).trimmed();
}

QDialog* showConnectionStringHelp(QWidget* parent) {
    if (parent != nullptr) {
        if (auto* shown = parent->findChild<QDialog*>(kHelpWindowName, Qt::FindDirectChildrenOnly)) {
            shown->show();
            shown->raise();
            shown->activateWindow();
            return shown;
        }
    }
    const QString path = findReadme();
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        prompt().showMessage(QStringLiteral("找不到說明檔 README.md"));
        return nullptr;
    }
    const QString readme = QString::fromUtf8(file.readAll());
    const QString section = connectionStringHelpText(readme);

    // A window of its own beside the modal dialog, which it does not block;
    // it goes with its parent.
    auto* help = new QDialog(parent);
    help->setObjectName(kHelpWindowName);
    help->setAttribute(Qt::WA_DeleteOnClose);
    help->setWindowTitle(QStringLiteral("說明 - 連線字串"));
    auto* layout = new QVBoxLayout(help);
    auto* text = new QTextBrowser(help);
    text->setObjectName(QStringLiteral("HelpText"));
    text->setOpenExternalLinks(true);
    text->setMarkdown(section.isEmpty() ? readme : section);
    layout->addWidget(text);
    auto* buttons = new QDialogButtonBox(help);
    QPushButton* close = buttons->addButton(QStringLiteral("關閉"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("CloseButton"));
    QObject::connect(buttons, &QDialogButtonBox::rejected, help, &QDialog::close);
    layout->addWidget(buttons);
    help->resize(680, 520);
    help->show();
    return help;
}

}  // namespace tarnwell
