// The connection-string dialog: layout, the data link file list, starting
// texts, enabling, results, Browse, Build and Help.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTextBrowser>
#include <QTreeWidget>

#include "connections/AdoConEd.h"
#include "connections/ConnectionHelp.h"
#include "connections/DataLinkDialog.h"
#include "dataaccess/AdoConnection.h"
#include "support/FindChild.h"
#include "support/ScriptedPrompt.h"
#include "support/TestEnvironment.h"
#include "tests/connections/AdoTestSupport.h"

namespace tarnwell {
namespace {

using test::child;

using test::DataHomeScope;
using test::whenModal;

QStringList itemsOf(const QComboBox& box) {
    QStringList items;
    for (int i = 0; i < box.count(); ++i) {
        items << box.itemText(i);
    }
    return items;
}

QColor baseOf(const QWidget* widget) { return widget->palette().color(QPalette::Base); }
QColor standard(QPalette::ColorRole role) { return QApplication::palette().color(QPalette::Active, role); }

class ConnectionStringDialogTest : public ::testing::Test {
protected:
    DataHomeScope home;
    // Any prompt the script does not expect fails the case.
    test::ScriptedPrompt prompts;
};

TEST_F(ConnectionStringDialogTest, LayoutTitleAndTexts) {
    TConnEditForm form(QStringLiteral("frmMain"), QStringLiteral("ADOCon1"));
    EXPECT_EQ(form.windowTitle(), "frmMain.ADOCon1 ConnectionString");
    EXPECT_EQ(form.size(), QSize(472, 185));
    EXPECT_EQ(form.minimumSize(), form.maximumSize()) << "a dialog border does not resize";
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((form.geometry().center() - screen.center()).manhattanLength(), 2);

    EXPECT_EQ(child<QGroupBox>(form, "SourceofConnection")->title(), " Source of Connection ");
    EXPECT_EQ(child<QRadioButton>(form, "UseDataLinkFile")->text(), "Use Data &Link File");
    EXPECT_EQ(child<QPushButton>(form, "Browse")->text(), "&Browse...");
    EXPECT_EQ(child<QRadioButton>(form, "UseConnectionString")->text(), "Use &Connection String");
    EXPECT_EQ(child<QPushButton>(form, "Build")->text(), "B&uild...");
    EXPECT_EQ(child<QPushButton>(form, "OkButton")->text(), "OK");
    EXPECT_TRUE(child<QPushButton>(form, "OkButton")->isDefault());
    EXPECT_EQ(child<QPushButton>(form, "CancelButton")->text(), "Cancel");
    EXPECT_EQ(child<QPushButton>(form, "HelpButton")->text(), "&Help");
    EXPECT_TRUE(child<QComboBox>(form, "DataLinkFile")->isEditable());

    // Every control inside the dialog, none over another.
    const QList<QWidget*> controls{
        child<QRadioButton>(form, "UseDataLinkFile"), child<QComboBox>(form, "DataLinkFile"),
        child<QPushButton>(form, "Browse"),           child<QRadioButton>(form, "UseConnectionString"),
        child<QLineEdit>(form, "ConnectionString"),   child<QPushButton>(form, "Build")};
    for (QWidget* control : controls) {
        EXPECT_TRUE(child<QGroupBox>(form, "SourceofConnection")->rect().contains(control->geometry()))
            << control->objectName().toStdString();
        for (QWidget* other : controls) {
            if (other != control) {
                EXPECT_FALSE(control->geometry().intersects(other->geometry()))
                    << control->objectName().toStdString() << " / " << other->objectName().toStdString();
            }
        }
    }
    for (QWidget* button :
         {child<QWidget>(form, "OkButton"), child<QWidget>(form, "CancelButton"), child<QWidget>(form, "HelpButton")}) {
        EXPECT_TRUE(form.rect().contains(button->geometry())) << button->objectName().toStdString();
        EXPECT_FALSE(button->geometry().intersects(child<QGroupBox>(form, "SourceofConnection")->geometry()));
    }
}

TEST_F(ConnectionStringDialogTest, ListsTheDataLinkFilesOfTheFolderSorted) {
    const QString folder = home.linkFolder();
    test::writeUdl(folder + "/銷售.udl", "Provider=SQLite.1;Data Source=/x.db");
    test::writeUdl(folder + "/b.udl", "Provider=SQLite.1;Data Source=/x.db");
    test::writeUdl(folder + "/A.UDL", "Provider=SQLite.1;Data Source=/x.db");
    test::writeUdl(folder + "/notes.txt", "not a data link");
    ASSERT_TRUE(QDir(folder).mkdir("folder.udl")) << "a directory is no data link file";

    TConnEditForm form(QStringLiteral("frmMain"), QStringLiteral("ADOCon1"));
    EXPECT_EQ(itemsOf(*child<QComboBox>(form, "DataLinkFile")), QStringList({"A.UDL", "b.udl", "銷售.udl"}));
    EXPECT_EQ(child<QComboBox>(form, "DataLinkFile")->currentText(), "") << "the box starts empty";

    // The list is read when the dialog is made.
    test::writeUdl(folder + "/c.udl", "Provider=SQLite.1;Data Source=/x.db");
    EXPECT_EQ(child<QComboBox>(form, "DataLinkFile")->count(), 3);
    TConnEditForm later(QStringLiteral("frmMain"), QStringLiteral("ADOCon1"));
    EXPECT_EQ(child<QComboBox>(later, "DataLinkFile")->count(), 4);
}

TEST_F(ConnectionStringDialogTest, MissingDataLinkFolderListsNothing) {
    TConnEditForm form(QStringLiteral("frmMain"), QStringLiteral("ADOCon1"));
    EXPECT_EQ(child<QComboBox>(form, "DataLinkFile")->count(), 0);
}

TEST_F(ConnectionStringDialogTest, StartingTextChoosesTheSourceAndEnabling) {
    const QString folder = home.linkFolder();
    struct Case {
        QString start;
        bool byFile;
        QString fileShown;
        QString stringShown;
    };
    const QString longPath = "/" + QString(300, QLatin1Char('d')) + "/x.udl";
    const std::vector<Case> cases = {
        {"", false, "", ""},
        {"Provider=SQLite.1;Data Source=/tmp/a.db", false, "", "Provider=SQLite.1;Data Source=/tmp/a.db"},
        {"FILE NAME=" + folder + "/sales.udl", true, "sales.udl", ""},
        {"FILE NAME=/elsewhere/sales.udl", true, "/elsewhere/sales.udl", ""},
        {"FILE NAME=" + folder + "/sub/sales.udl", true, folder + "/sub/sales.udl", ""},
        {"FILE NAME=relative.udl", true, "relative.udl", ""},
        // The key counts only at the very start and in capitals.
        {"file name=/x/sales.udl", false, "", "file name=/x/sales.udl"},
        {" FILE NAME=/x/sales.udl", false, "", " FILE NAME=/x/sales.udl"},
        {"FILE NAME=" + longPath, true, longPath.left(260), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start.toStdString());
        TConnEditForm form(QStringLiteral("frmMain"), QStringLiteral("ADOCon1"));
        form.startWith(c.start);
        EXPECT_EQ(child<QRadioButton>(form, "UseDataLinkFile")->isChecked(), c.byFile);
        EXPECT_EQ(child<QRadioButton>(form, "UseConnectionString")->isChecked(), !c.byFile);
        EXPECT_EQ(child<QComboBox>(form, "DataLinkFile")->currentText(), c.fileShown);
        EXPECT_EQ(child<QLineEdit>(form, "ConnectionString")->text(), c.stringShown);

        EXPECT_EQ(child<QComboBox>(form, "DataLinkFile")->isEnabled(), c.byFile);
        EXPECT_EQ(child<QPushButton>(form, "Browse")->isEnabled(), c.byFile);
        EXPECT_EQ(child<QLineEdit>(form, "ConnectionString")->isEnabled(), !c.byFile);
        EXPECT_EQ(child<QPushButton>(form, "Build")->isEnabled(), !c.byFile);
        EXPECT_EQ(baseOf(child<QComboBox>(form, "DataLinkFile")),
                  standard(c.byFile ? QPalette::Base : QPalette::Button));
        EXPECT_EQ(baseOf(child<QLineEdit>(form, "ConnectionString")),
                  standard(c.byFile ? QPalette::Button : QPalette::Base));
        EXPECT_EQ(form.focusWidget(), c.byFile ? child<QWidget>(form, "DataLinkFile")
                                               : child<QWidget>(form, "ConnectionString"));
        // Unchanged, OK gives back what came in.
        if (c.start != "FILE NAME=" + longPath && c.start != "FILE NAME=relative.udl") {
            EXPECT_EQ(form.resultText(), c.start);
        }
    }
}

TEST_F(ConnectionStringDialogTest, RadioClicksSwitchEnablingColoursAndFocus) {
    TConnEditForm form(QStringLiteral("frmMain"), QStringLiteral("ADOCon1"));
    form.startWith(QString());
    form.show();
    child<QRadioButton>(form, "UseDataLinkFile")->click();
    EXPECT_TRUE(child<QComboBox>(form, "DataLinkFile")->isEnabled());
    EXPECT_TRUE(child<QPushButton>(form, "Browse")->isEnabled());
    EXPECT_FALSE(child<QLineEdit>(form, "ConnectionString")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(form, "Build")->isEnabled());
    EXPECT_EQ(baseOf(child<QComboBox>(form, "DataLinkFile")), standard(QPalette::Base));
    EXPECT_EQ(baseOf(child<QLineEdit>(form, "ConnectionString")), standard(QPalette::Button));
    EXPECT_EQ(form.focusWidget(), child<QComboBox>(form, "DataLinkFile"));

    child<QRadioButton>(form, "UseConnectionString")->click();
    EXPECT_FALSE(child<QComboBox>(form, "DataLinkFile")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(form, "Browse")->isEnabled());
    EXPECT_TRUE(child<QLineEdit>(form, "ConnectionString")->isEnabled());
    EXPECT_TRUE(child<QPushButton>(form, "Build")->isEnabled());
    EXPECT_EQ(baseOf(child<QComboBox>(form, "DataLinkFile")), standard(QPalette::Button));
    EXPECT_EQ(baseOf(child<QLineEdit>(form, "ConnectionString")), standard(QPalette::Base));
    EXPECT_EQ(form.focusWidget(), child<QLineEdit>(form, "ConnectionString"));
}

TEST_F(ConnectionStringDialogTest, ResultOfOkBySource) {
    const QString folder = home.linkFolder();
    TConnEditForm form(QStringLiteral("frmMain"), QStringLiteral("ADOCon1"));
    form.startWith(QString());
    child<QLineEdit>(form, "ConnectionString")->setText("Provider=SQLite.1;Data Source=/a.db");
    child<QComboBox>(form, "DataLinkFile")->setEditText("ignored.udl");
    EXPECT_EQ(form.resultText(), "Provider=SQLite.1;Data Source=/a.db");

    child<QRadioButton>(form, "UseDataLinkFile")->click();
    const std::vector<std::pair<QString, QString>> cases = {
        {"", ""},
        {"sales.udl", "FILE NAME=" + folder + "/sales.udl"},
        {"/srv/links/sales.udl", "FILE NAME=/srv/links/sales.udl"},
        {"~/links/sales.udl", "FILE NAME=~/links/sales.udl"},
        {"links/sales.udl", "FILE NAME=links/sales.udl"},
        // A path the connection-string parser would cut is quoted.
        {"/srv/a;b.udl", "FILE NAME=\"/srv/a;b.udl\""},
    };
    for (const auto& [shown, result] : cases) {
        child<QComboBox>(form, "DataLinkFile")->setEditText(shown);
        EXPECT_EQ(form.resultText(), result) << shown.toStdString();
    }

    // A quoted file name reads back as the path.
    TConnEditForm again(QStringLiteral("frmMain"), QStringLiteral("ADOCon1"));
    again.startWith("FILE NAME=\"/srv/a;b.udl\"");
    EXPECT_EQ(child<QComboBox>(again, "DataLinkFile")->currentText(), "/srv/a;b.udl");
    EXPECT_EQ(again.resultText(), "FILE NAME=\"/srv/a;b.udl\"");
}

TEST_F(ConnectionStringDialogTest, EditConnectionStringTellsWhetherTheTextChanged) {
    db::AdoConnection connection;
    const auto edit = [&](std::function<void(TConnEditForm&)> action) {
        whenModal<TConnEditForm>(std::move(action));
        return EditConnectionString(connection, "frmMain", "ADOCon1");
    };

    // Cancelled: false, nothing stored, even with a text typed.
    EXPECT_FALSE(edit([](TConnEditForm& form) {
        EXPECT_EQ(form.windowTitle(), "frmMain.ADOCon1 ConnectionString");
        child<QLineEdit>(form, "ConnectionString")->setText("Provider=SQLite.1;Data Source=/a.db");
        child<QPushButton>(form, "CancelButton")->click();
    }));
    EXPECT_EQ(connection.connectionString(), "");

    // OK with the empty text it started with: false.
    EXPECT_FALSE(edit([](TConnEditForm& form) { child<QPushButton>(form, "OkButton")->click(); }));

    // OK with blanks only: a change, stored as typed.
    EXPECT_TRUE(edit([](TConnEditForm& form) {
        child<QLineEdit>(form, "ConnectionString")->setText("   ");
        child<QPushButton>(form, "OkButton")->click();
    }));
    EXPECT_EQ(connection.connectionString(), "   ");

    // The dialog starts from the object's string.
    connection.setConnectionString("Provider=SQLite.1;Data Source=/a.db");
    EXPECT_FALSE(edit([](TConnEditForm& form) {
        EXPECT_EQ(child<QLineEdit>(form, "ConnectionString")->text(), "Provider=SQLite.1;Data Source=/a.db");
        child<QPushButton>(form, "OkButton")->click();
    }));
    EXPECT_TRUE(edit([](TConnEditForm& form) {
        child<QRadioButton>(form, "UseDataLinkFile")->click();
        child<QComboBox>(form, "DataLinkFile")->setEditText("sales.udl");
        child<QPushButton>(form, "OkButton")->click();
    }));
    EXPECT_EQ(QString::fromStdString(connection.connectionString()), "FILE NAME=" + home.linkFolder() + "/sales.udl");

    // Back from a data link file in the folder: its bare name, unchanged.
    EXPECT_FALSE(edit([](TConnEditForm& form) {
        EXPECT_TRUE(child<QRadioButton>(form, "UseDataLinkFile")->isChecked());
        EXPECT_EQ(child<QComboBox>(form, "DataLinkFile")->currentText(), "sales.udl");
        child<QPushButton>(form, "OkButton")->click();
    }));

    // Closing with the title bar or Escape counts as Cancel.
    EXPECT_FALSE(edit([](TConnEditForm& form) {
        child<QComboBox>(form, "DataLinkFile")->setEditText("other.udl");
        form.reject();
    }));
    EXPECT_EQ(QString::fromStdString(connection.connectionString()), "FILE NAME=" + home.linkFolder() + "/sales.udl");
}

TEST_F(ConnectionStringDialogTest, BrowseStartsInTheFolderOfTheTextAndTakesThePath) {
    const QString folder = home.linkFolder();
    TConnEditForm form(QStringLiteral("frmMain"), QStringLiteral("ADOCon1"));
    form.startWith("FILE NAME=" + folder + "/sales.udl");

    // A bare name lies in the data-link folder.
    prompts.answerOpenFile(QString("/srv/links/erp.udl"));
    child<QPushButton>(form, "Browse")->click();
    EXPECT_EQ(child<QComboBox>(form, "DataLinkFile")->currentText(), "/srv/links/erp.udl");

    // A path: its folder.
    prompts.answerOpenFile(std::nullopt);
    child<QPushButton>(form, "Browse")->click();
    EXPECT_EQ(child<QComboBox>(form, "DataLinkFile")->currentText(), "/srv/links/erp.udl")
        << "cancelled: the text stays";

    // Home-relative text starts in that folder of the home directory.
    child<QComboBox>(form, "DataLinkFile")->setEditText("~/links/x.udl");
    prompts.answerOpenFile(std::nullopt);
    child<QPushButton>(form, "Browse")->click();

    ASSERT_EQ(prompts.calls().size(), 3u);
    for (const auto& call : prompts.calls()) {
        EXPECT_EQ(call.kind, test::ScriptedPrompt::Kind::OpenFile);
        EXPECT_TRUE(call.texts.at(3).contains("*.udl")) << call.texts.at(3).toStdString();
    }
    EXPECT_EQ(prompts.calls()[0].texts.at(1), folder);
    EXPECT_EQ(prompts.calls()[1].texts.at(1), "/srv/links/");
    EXPECT_EQ(prompts.calls()[2].texts.at(1), QDir::homePath() + "/links/");
    EXPECT_EQ(form.resultText(), "FILE NAME=~/links/x.udl");
}

TEST_F(ConnectionStringDialogTest, BuildPresetsTheDataLinkDialogAndTakesItsString) {
    TConnEditForm form(QStringLiteral("frmMain"), QStringLiteral("ADOCon1"));
    form.startWith("provider=postgresql;Data Source=db1/erp;User ID=mei;Mode=Read");

    // Preset from the text; keys the dialog does not show are kept.
    whenModal<DataLinkDialog>([](DataLinkDialog& dialog) {
        EXPECT_EQ(dialog.selectedProvider(), "PostgreSQL.1");
        EXPECT_EQ(child<QComboBox>(dialog, "DataSource")->currentText(), "db1/erp");
        EXPECT_EQ(child<QLineEdit>(dialog, "UserName")->text(), "mei");
        EXPECT_EQ(child<QLineEdit>(dialog, "Password")->text(), "");
        child<QComboBox>(dialog, "DataSource")->setEditText("db2:5433/erp");
        child<QLineEdit>(dialog, "Password")->setText("秘密;1");
        child<QPushButton>(dialog, "OkButton")->click();
    });
    child<QPushButton>(form, "Build")->click();
    EXPECT_EQ(child<QLineEdit>(form, "ConnectionString")->text(),
              "Provider=PostgreSQL.1;Data Source=db2:5433/erp;User ID=mei;Mode=Read;Password=\"秘密;1\"");

    // Cancelled: the text stays.
    whenModal<DataLinkDialog>([](DataLinkDialog& dialog) {
        child<QComboBox>(dialog, "DataSource")->setEditText("elsewhere/erp");
        child<QPushButton>(dialog, "CancelButton")->click();
    });
    child<QPushButton>(form, "Build")->click();
    EXPECT_TRUE(child<QLineEdit>(form, "ConnectionString")->text().contains("db2:5433/erp"));

    // A text that is no connection string: the dialog starts empty.
    child<QLineEdit>(form, "ConnectionString")->setText("this is \"not");
    whenModal<DataLinkDialog>([](DataLinkDialog& dialog) {
        EXPECT_EQ(dialog.selectedProvider(), "SQLite.1");
        EXPECT_EQ(child<QComboBox>(dialog, "DataSource")->currentText(), "");
        child<QComboBox>(dialog, "DataSource")->setEditText("/data/a.db");
        child<QPushButton>(dialog, "OkButton")->click();
    });
    child<QPushButton>(form, "Build")->click();
    EXPECT_EQ(child<QLineEdit>(form, "ConnectionString")->text(), "Provider=SQLite.1;Data Source=/data/a.db");
}

TEST_F(ConnectionStringDialogTest, HelpShowsTheReadmeOnConnectionStrings) {
    TConnEditForm form(QStringLiteral("frmMain"), QStringLiteral("ADOCon1"));
    form.show();
    child<QPushButton>(form, "HelpButton")->click();
    auto* help = form.findChild<QDialog*>("ConnectionStringHelp");
    ASSERT_NE(help, nullptr) << "README looked for at: " << readmeCandidates().join(", ").toStdString();
    EXPECT_TRUE(help->isVisible());
    const QString text = help->findChild<QTextBrowser*>("HelpText")->toPlainText();
    EXPECT_TRUE(text.startsWith("Connection strings")) << text.left(80).toStdString();
    for (const char* part : {"Provider=", "FILE NAME=", "Data link files", "B&uild", "Use Data &Link File"}) {
        EXPECT_TRUE(text.contains(QString::fromUtf8(part)) || text.contains(QString::fromUtf8(part).remove('&')))
            << part;
    }
    EXPECT_FALSE(text.contains("[DEMO]")) << "the alias part is not shown";

    // One help window per dialog.
    child<QPushButton>(form, "HelpButton")->click();
    EXPECT_EQ(form.findChildren<QDialog*>("ConnectionStringHelp").size(), 1);
}

TEST(ConnectionHelpTest, SectionRunsToTheNextHigherHeading) {
    const QString readme =
        "# Tarnwell\n## Aliases and connection strings\n### Aliases\nalias text\n"
        "### Connection strings\nKey=Value pairs\n```\n## not a heading in code\n```\n"
        "#### Detail\ndetail text\n### Data link files\nudl text\n## Layout\nfolders\n";
    EXPECT_EQ(connectionStringHelpText(readme),
              "### Connection strings\nKey=Value pairs\n```\n## not a heading in code\n```\n"
              "#### Detail\ndetail text\n### Data link files\nudl text");
    EXPECT_EQ(connectionStringHelpText("# Other\ntext\n"), "");
}

}  // namespace
}  // namespace tarnwell
