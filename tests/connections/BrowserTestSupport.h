#pragma once

// What the tests of the connection browser, the login dialog and the
// parameter viewer share: a main window on an alias file of their own, a hand
// that answers the modal login dialog from inside its loop, and clicks where
// a user would click.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <memory>

#include "connections/UConnectEditor.h"
#include "connections/UPasswd.h"
#include "dataaccess/Database.h"
#include "dataaccess/Session.h"
#include "session/Workspace.h"
#include "shell/UMain.h"
#include "support/FindChild.h"
#include "support/ScriptedPrompt.h"
#include "support/TestEnvironment.h"

namespace tarnwell::test {

// Aliases of the test file, in file order after the built-in DEMO.
inline const QStringList kFileAliases{"LOCAL", "MISSING", "PGSERVER", "PGSTORED", "UNREACHABLE"};

// A directory with the alias file and the SQLite files its aliases name.
class TestAliases {
public:
    TestAliases() {
        touch(demoPath());
        touch(localPath());
        QString pgHost = "127.0.0.1", pgPort = "1", pgDatabase = "none", pgUser = "nobody", pgPassword;
        if (const auto& server = testServer()) {
            pgHost = QString::fromStdString(server->host);
            pgPort = QString::fromStdString(server->port);
            pgDatabase = QString::fromStdString(server->database);
            pgUser = QString::fromStdString(server->user);
            pgPassword = QString::fromStdString(server->password);
        }
        const QString pg = QStringLiteral("TYPE=POSTGRESQL\nSERVER NAME=%1\nPORT=%2\nDATABASE NAME=%3\n"
                                          "USER NAME=%4\nCONNECT TIMEOUT=10\n")
                               .arg(pgHost, pgPort, pgDatabase, pgUser);
        const QString text = QStringLiteral("[LOCAL]\nTYPE=SQLITE\nPATH=%1\n\n").arg(localPath()) +
                             QStringLiteral("[MISSING]\nTYPE=SQLITE\nPATH=%1\n\n").arg(dir_.filePath("missing.db")) +
                             QStringLiteral("[PGSERVER]\n") + pg + "\n" +
                             QStringLiteral("[PGSTORED]\n") + pg + QStringLiteral("PASSWORD=%1\n\n").arg(pgPassword) +
                             QStringLiteral("[UNREACHABLE]\nTYPE=POSTGRESQL\nSERVER NAME=10.255.255.1\nPORT=5432\n"
                                            "DATABASE NAME=x\nUSER NAME=nobody\nCONNECT TIMEOUT=1\n");
        QFile file(aliasFile());
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.toUtf8());
    }

    QString aliasFile() const { return dir_.filePath("aliases.conf"); }
    QString demoPath() const { return dir_.filePath("demo.db"); }
    QString localPath() const { return dir_.filePath("local.db"); }

    std::unique_ptr<db::Session> session(bool listOdbcDataSources = false) const {
        db::SessionConfig config;
        config.aliasFile = aliasFile().toStdString();
        config.demoDatabase = demoPath().toStdString();
        config.listOdbcDataSources = listOdbcDataSources;
        return std::make_unique<db::Session>(config);
    }

private:
    // An empty file is an empty SQLite database.
    static void touch(const QString& path) {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    }

    QTemporaryDir dir_;
};

// Answers the next login dialog once it is up in its modal loop.
class LoginHand : public QObject {
public:
    using Action = std::function<void(TfrmPasswd&)>;

    explicit LoginHand(Action action) : action_(std::move(action)) {
        ++waiting();
        timer_.setInterval(5);
        connect(&timer_, &QTimer::timeout, this, [this] {
            TfrmPasswd* dialog = TfrmPasswd::instance();
            if (dialog == nullptr || !dialog->isVisible() || QApplication::activeModalWidget() != dialog) {
                return;
            }
            timer_.stop();
            --waiting();
            seen.alias = child<QLabel>(*dialog, "Label4")->text();
            seen.userName = child<QLineEdit>(*dialog, "Edit1")->text();
            seen.password = child<QLineEdit>(*dialog, "Edit2")->text();
            seen.focusOnPassword = dialog->focusWidget() == child<QLineEdit>(*dialog, "Edit2");
            action_(*dialog);
            answered = true;
        });
        timer_.start();
    }

    ~LoginHand() override {
        if (timer_.isActive()) {
            --waiting();
        }
    }

    // How many hands wait for a dialog.
    static int& waiting() {
        static int count = 0;
        return count;
    }

    // Waits until the dialog was answered and the step that showed it ended.
    bool waitUntilAnswered(int timeoutMs = 30000) {
        return QTest::qWaitFor([this] { return answered; }, timeoutMs);
    }

    struct Seen {
        QString alias;
        QString userName;
        QString password;
        bool focusOnPassword = false;
    } seen;
    bool answered = false;

    // Ways to answer.
    static Action ok(const QString& user, const QString& password) {
        return [user, password](TfrmPasswd& dialog) {
            child<QLineEdit>(dialog, "Edit1")->setText(user);
            QTest::keyClicks(child<QLineEdit>(dialog, "Edit2"), password);
            child<QPushButton>(dialog, "BitBtn1")->click();
        };
    }
    static Action okKeepingUser(const QString& password) {
        return [password](TfrmPasswd& dialog) {
            QTest::keyClicks(child<QLineEdit>(dialog, "Edit2"), password);
            QTest::keyClick(child<QLineEdit>(dialog, "Edit2"), Qt::Key_Return);
        };
    }
    static Action cancel() {
        return [](TfrmPasswd& dialog) { child<QPushButton>(dialog, "BitBtn2")->click(); };
    }

private:
    Action action_;
    QTimer timer_;
};

// Fails a test, instead of hanging it, when a login dialog comes up that the
// test did not expect: it is cancelled.
class UnexpectedLoginGuard : public QObject {
public:
    UnexpectedLoginGuard() {
        timer_.setInterval(200);
        connect(&timer_, &QTimer::timeout, this, [] {
            TfrmPasswd* dialog = TfrmPasswd::instance();
            if (dialog != nullptr && dialog->isVisible() && LoginHand::waiting() == 0) {
                ADD_FAILURE() << "a login dialog came up unasked for "
                              << child<QLabel>(*dialog, "Label4")->text().toStdString();
                dialog->reject();
            }
        });
        timer_.start();
    }

private:
    QTimer timer_;
};

// One test's world: the alias file, a main window on it (hidden), and the
// scripted prompt.
class BrowserFixture : public ::testing::Test {
protected:
    explicit BrowserFixture(bool listOdbcDataSources = false)
        : workspace(std::make_unique<Workspace>(aliases.session(listOdbcDataSources))),
          main(std::make_unique<TfrmMain>(*workspace)) {}

    ~BrowserFixture() override {
        main.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        workspace.reset();
    }

    // The browser, made and shown as the tray's "建立連結" does.
    TfrmConnectEditor& openBrowser() {
        main->OpenConnectionBrowser();
        TfrmConnectEditor* browser = TfrmConnectEditor::instance();
        EXPECT_NE(browser, nullptr);
        return *browser;
    }

    QTreeWidgetItem* aliasNode(const QString& name) {
        TfrmConnectEditor* browser = TfrmConnectEditor::instance();
        if (browser == nullptr || child<QTreeWidget>(*browser, "TrvBDE")->topLevelItemCount() == 0) {
            ADD_FAILURE() << "no alias tree";
            return nullptr;
        }
        QTreeWidgetItem* root = child<QTreeWidget>(*browser, "TrvBDE")->topLevelItem(0);
        for (int i = 0; i < root->childCount(); ++i) {
            if (root->child(i)->text(0) == name) {
                return root->child(i);
            }
        }
        ADD_FAILURE() << "no alias " << name.toStdString();
        return nullptr;
    }

    QStringList childTexts(const QTreeWidgetItem& node) {
        QStringList texts;
        for (int i = 0; i < node.childCount(); ++i) {
            texts << node.child(i)->text(0);
        }
        return texts;
    }

    // Expands the alias as the user does and answers the login it asks for.
    // The node is collapsed again before anything else happens.
    LoginHand::Seen logIn(const QString& alias, LoginHand::Action answer) {
        QTreeWidgetItem* node = aliasNode(alias);
        if (node == nullptr) {
            return {};
        }
        LoginHand hand(std::move(answer));
        node->setExpanded(true);
        EXPECT_FALSE(node->isExpanded()) << "an alias not logged into never expands";
        EXPECT_TRUE(hand.waitUntilAnswered()) << "no login dialog for " << alias.toStdString();
        return hand.seen;
    }

    // A click on a node's text, as the mouse makes it.
    static void clickNode(QTreeWidget& tree, QTreeWidgetItem& node) {
        tree.scrollToItem(&node);
        const QPoint centre = tree.visualItemRect(&node).center();
        QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, centre);
    }

    // A click on a node's expand button.
    static void clickExpandButton(QTreeWidget& tree, QTreeWidgetItem& node) {
        tree.scrollToItem(&node);
        const QRect rect = tree.visualItemRect(&node);
        const QPoint button(rect.left() - tree.indentation() / 2, rect.center().y());
        QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, button);
    }

    // The engine's own message for opening `alias` with `params` put in.
    std::string engineMessage(const std::string& alias, const db::ParamList& params = {}) {
        db::Database database(workspace->Session1(), "ENGINE_MESSAGE");
        database.setAliasName(alias);
        database.setParams(params);
        try {
            database.open();
        } catch (const std::exception& error) {
            return error.what();
        }
        ADD_FAILURE() << alias << " opened";
        return {};
    }

    TestAliases aliases;
    std::unique_ptr<Workspace> workspace;
    std::unique_ptr<TfrmMain> main;
    ScriptedPrompt prompt;
    UnexpectedLoginGuard guard;
};

}  // namespace tarnwell::test
