#include <gtest/gtest.h>

#include "PrintQt.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "query/SqlFile.h"
#include "query/SqlFileBrowser.h"

namespace tarnwell {
namespace {

class SqlFileBrowser : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        root = QDir::cleanPath(QDir(folder.path()).canonicalPath());
    }

    QString make(const QString& relative, const QByteArray& bytes = {}) const {
        const QString path = QDir(root).filePath(relative);
        if (relative.endsWith(u'/')) {
            QDir().mkpath(path);
        } else {
            QFile file(path);
            EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << relative.toStdString();
            file.write(bytes);
        }
        return QDir::cleanPath(path);
    }

    static QStringList childrenOf(const QTreeWidgetItem* item) {
        QStringList names;
        for (int i = 0; i < item->childCount(); ++i) {
            names.append(item->child(i)->text(0));
        }
        return names;
    }

    // What the platform sends for a double click: press, release, double
    // click, release.
    static void doubleClick(QTreeWidget& tree, QTreeWidgetItem* item) {
        const QPoint at = tree.visualItemRect(item).center();
        QTest::mouseClick(tree.viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(tree.viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(tree.viewport(), Qt::LeftButton, {}, at);
        QCoreApplication::processEvents();
    }

    QTemporaryDir folder;
    QString root;
};

TEST_F(SqlFileBrowser, fileListShowsSqlFilesOfAnyCaseSortedByName) {
    make("b.Sql");
    make("a.sql");
    make("C.SQL");
    make("notes.txt");
    make("a.sqlx");
    make("folder.SQL/");
    make(".hidden.sql");

    SqlFileListBox files;
    QSignalSpy moved(&files, &SqlFileListBox::directoryChanged);
    EXPECT_EQ(files.directory(), QDir::currentPath());
    EXPECT_EQ(files.mask(), QStringLiteral("*.SQL"));
    files.setDirectory(root);
    EXPECT_EQ(moved.count(), 1);
    EXPECT_EQ(files.fileNames(), (QStringList{"a.sql", "b.Sql", "C.SQL"}));

    EXPECT_TRUE(files.fileName().isEmpty());  // nothing chosen yet
    files.setCurrentRow(1);
    EXPECT_EQ(files.fileName(), root + QStringLiteral("/b.Sql"));

    // A file saved since is listed once the folder is shown again.
    make("d.sql");
    files.setDirectory(root);
    EXPECT_EQ(moved.count(), 1);
    EXPECT_EQ(files.fileNames(), (QStringList{"a.sql", "b.Sql", "C.SQL", "d.sql"}));
}

TEST_F(SqlFileBrowser, directoryListShowsTheWayDownAndTheSubfolders) {
    make("top/beta/");
    make("top/Alpha/");
    make("top/中文/");
    make("top/.git/");
    make("top/file.sql");

    DirectoryListBox directories;
    EXPECT_EQ(directories.directory(), QDir::cleanPath(QDir::currentPath()));
    QSignalSpy moved(&directories, &DirectoryListBox::directoryChanged);
    ASSERT_TRUE(directories.setDirectory(root + QStringLiteral("/top")));
    EXPECT_EQ(moved.count(), 1);

    // From "/" down to the folder, one level per entry.
    QStringList chain;
    for (const QTreeWidgetItem* item = directories.currentDirectoryItem(); item;
         item = item->parent()) {
        chain.prepend(DirectoryListBox::pathOf(item));
    }
    QStringList expected{QStringLiteral("/")};
    QString step;
    for (const QString& name : (root + QStringLiteral("/top")).split(u'/', Qt::SkipEmptyParts)) {
        step += u'/' + name;
        expected.append(step);
    }
    EXPECT_EQ(chain, expected);
    EXPECT_EQ(directories.topLevelItemCount(), 1);
    EXPECT_EQ(childrenOf(directories.currentDirectoryItem()),
              (QStringList{"Alpha", "beta", "中文"}));

    EXPECT_FALSE(directories.setDirectory(root + QStringLiteral("/nowhere")));
    EXPECT_FALSE(directories.setDirectory(root + QStringLiteral("/top/file.sql")));
    EXPECT_EQ(directories.directory(), root + QStringLiteral("/top"));
    EXPECT_EQ(moved.count(), 1);
}

TEST_F(SqlFileBrowser, aFileInAFolderChosenByDoubleClickOpens) {
    make("sql/查詢/");
    make("sql/查詢/報表.SQL", "select '\xa4\xa4\xa4\xe5'\nfrom t");

    DriveComboBox drives;
    DirectoryListBox directories;
    SqlFileListBox files;
    connectSqlFileBrowser(drives, directories, files);
    directories.resize(300, 600);
    directories.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&directories));
    ASSERT_TRUE(directories.setDirectory(root + QStringLiteral("/sql")));
    EXPECT_EQ(files.directory(), root + QStringLiteral("/sql"));
    EXPECT_TRUE(files.fileNames().isEmpty());

    QTreeWidgetItem* folder = directories.currentDirectoryItem()->child(0);
    ASSERT_NE(folder, nullptr);
    ASSERT_EQ(folder->text(0), QStringLiteral("查詢"));
    doubleClick(directories, folder);
    EXPECT_EQ(directories.directory(), root + QStringLiteral("/sql/查詢"));
    ASSERT_EQ(files.fileNames(), QStringList{"報表.SQL"});

    files.setCurrentRow(0);
    EXPECT_EQ(loadSqlFile(files.fileName(), "UTF-8"), QStringLiteral("select '中文'\r\nfrom t"));

    // Back up by double-clicking a folder on the way down.
    doubleClick(directories, directories.currentDirectoryItem()->parent());
    EXPECT_EQ(directories.directory(), root + QStringLiteral("/sql"));
    EXPECT_EQ(files.directory(), root + QStringLiteral("/sql"));
}

TEST_F(SqlFileBrowser, driveBoxFollowsTheFolderAndChoosingADriveBrowsesItsRoot) {
    for (const QStorageInfo& volume : userVolumes()) {
        const QString mount = volume.rootPath();
        for (const char* system : {"/proc", "/sys", "/dev", "/run"}) {
            EXPECT_FALSE(mount == system || mount.startsWith(QString::fromLatin1(system) + u'/'))
                << mount.toStdString();
        }
    }

    DriveComboBox drives;
    EXPECT_GE(drives.findData(QStringLiteral("/")), 0);
    EXPECT_EQ(drives.drive(), drives.volumeOf(QDir::currentPath()));

    // A pretend mount point inside the test folder stands in for a second
    // volume, so the wiring can be seen on a machine with only one.
    make("volume/data/");
    make("volume/data/x.sql");
    make("elsewhere/");
    drives.addItem(QStringLiteral("volume"), root + QStringLiteral("/volume"));
    DirectoryListBox directories;
    SqlFileListBox files;
    connectSqlFileBrowser(drives, directories, files);
    QSignalSpy driveChanges(&drives, &DriveComboBox::driveChanged);

    ASSERT_TRUE(directories.setDirectory(root + QStringLiteral("/volume/data")));
    EXPECT_EQ(drives.drive(), root + QStringLiteral("/volume"));
    EXPECT_EQ(directories.directory(), root + QStringLiteral("/volume/data"));  // not sent to the root
    EXPECT_EQ(files.fileNames(), QStringList{"x.sql"});

    ASSERT_TRUE(directories.setDirectory(root + QStringLiteral("/elsewhere")));
    EXPECT_EQ(drives.drive(), drives.volumeOf(root));
    EXPECT_NE(drives.drive(), root + QStringLiteral("/volume"));

    drives.setCurrentIndex(drives.findData(root + QStringLiteral("/volume")));
    EXPECT_EQ(directories.directory(), root + QStringLiteral("/volume"));
    EXPECT_EQ(files.directory(), root + QStringLiteral("/volume"));
    EXPECT_EQ(driveChanges.count(), 3);
}

}  // namespace
}  // namespace tarnwell
