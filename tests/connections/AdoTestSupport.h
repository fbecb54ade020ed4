#pragma once

// Helpers of the connection-string tests: driving modal dialogs, a data-link
// folder of the test's own, SQLite files and data link files.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QIcon>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <memory>
#include <string>

#include "dataaccess/sqlite/SqliteConnection.h"
#include "support/TestEnvironment.h"

namespace tarnwell::test {

// unixODBC reads the name of its configuration folder once per process, so
// the test configuration goes in before any case runs, whichever comes first.
class OdbcConfigurationEnvironment : public ::testing::Environment {
public:
    void SetUp() override { useTestOdbcConfiguration(); }
};
inline ::testing::Environment* const kOdbcConfiguration =
    ::testing::AddGlobalTestEnvironment(new OdbcConfigurationEnvironment);

// Runs `action` on the modal dialog of type Dialog as soon as it is up. The
// action may open a further modal dialog (after queuing its own whenModal).
template <class Dialog>
void whenModal(std::function<void(Dialog&)> action, int timeoutMs = 30000) {
    auto* poll = new QTimer(qApp);
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, started, action, timeoutMs] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            if (started->elapsed() > timeoutMs) {
                poll->stop();
                poll->deleteLater();
                ADD_FAILURE() << "no modal " << Dialog::staticMetaObject.className() << " came up";
            }
            return;
        }
        poll->stop();
        poll->deleteLater();
        action(*dialog);
    });
    poll->start();
}

// XDG_DATA_HOME pointed at a directory of the test's own for its lifetime,
// so the data-link folder is one the test controls.
class DataHomeScope {
public:
    DataHomeScope() : previous_(qgetenv("XDG_DATA_HOME")), hadPrevious_(qEnvironmentVariableIsSet("XDG_DATA_HOME")) {
        qputenv("XDG_DATA_HOME", dir_.path().toUtf8());
    }
    ~DataHomeScope() {
        if (hadPrevious_) {
            qputenv("XDG_DATA_HOME", previous_);
        } else {
            qunsetenv("XDG_DATA_HOME");
        }
    }
    DataHomeScope(const DataHomeScope&) = delete;
    DataHomeScope& operator=(const DataHomeScope&) = delete;

    // The data-link folder, made on demand.
    QString linkFolder() const {
        const QString folder = dir_.path() + QStringLiteral("/tarnwell/Data Links");
        QDir().mkpath(folder);
        return folder;
    }
    // A scratch directory outside the data-link folder.
    QString scratch() const {
        const QString folder = dir_.path() + QStringLiteral("/scratch");
        QDir().mkpath(folder);
        return folder;
    }

private:
    QTemporaryDir dir_;
    QByteArray previous_;
    bool hadPrevious_;
};

// An SQLite database file with a table `t` of `rows` rows (n, name).
inline void makeSqliteDatabase(const QString& path, int rows = 3) {
    db::SqliteSettings settings;
    settings.path = path.toStdString();
    settings.createIfMissing = true;
    auto connection = db::openSqlite(settings);
    connection->execute("CREATE TABLE t (n INTEGER, name VARCHAR(20))");
    for (int i = 1; i <= rows; ++i) {
        connection->execute("INSERT INTO t VALUES (" + std::to_string(i) + ", '列" + std::to_string(i) + "')");
    }
}

// A data link file in its own format, byte by byte: UTF-16LE with a
// byte-order mark, CR LF line ends.
inline void writeUdl(const QString& path, const QString& connectionString) {
    const QString text = QStringLiteral("[oledb]\r\n; Everything after this line is an OLE DB initstring\r\n") +
                         connectionString + QStringLiteral("\r\n");
    QByteArray bytes("\xFF\xFE", 2);
    for (const QChar c : text) {
        bytes.append(static_cast<char>(c.unicode() & 0xFF));
        bytes.append(static_cast<char>(c.unicode() >> 8));
    }
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
}

// The index in `pictures` (ImageADO) of the picture a tree node shows, or -1.
inline int pictureOf(const QTreeWidgetItem* item, const QList<QIcon>& pictures) {
    if (item == nullptr) {
        return -1;
    }
    const qint64 key = item->icon(0).cacheKey();
    for (int i = 0; i < pictures.size(); ++i) {
        if (pictures.at(i).cacheKey() == key) {
            return i;
        }
    }
    return -1;
}

// The tree as indented lines "text (picture)", in display order.
inline QStringList shapeOf(const QTreeWidget& tree, const QList<QIcon>& pictures) {
    QStringList lines;
    std::function<void(const QTreeWidgetItem*, int)> walk = [&](const QTreeWidgetItem* node, int depth) {
        lines << QString(depth * 2, QLatin1Char(' ')) + node->text(0) +
                     QStringLiteral(" (%1)").arg(pictureOf(node, pictures));
        for (int i = 0; i < node->childCount(); ++i) {
            walk(node->child(i), depth + 1);
        }
    };
    for (int i = 0; i < tree.topLevelItemCount(); ++i) {
        walk(tree.topLevelItem(i), 0);
    }
    return lines;
}

}  // namespace tarnwell::test
