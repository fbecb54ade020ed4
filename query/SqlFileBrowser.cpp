#include "query/SqlFileBrowser.h"

#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace tarnwell {

namespace {

constexpr int pathRole = Qt::UserRole;

bool isPseudoFileSystem(const QByteArray& type) {
    static const QSet<QByteArray> pseudo = {
        "proc",    "sysfs",   "devtmpfs",  "devpts",     "cgroup",      "cgroup2",
        "pstore",  "bpf",     "tracefs",   "debugfs",    "securityfs",  "configfs",
        "fusectl", "mqueue",  "hugetlbfs", "autofs",     "binfmt_misc", "efivarfs",
        "nsfs",    "rpc_pipefs", "selinuxfs", "fuse.gvfsd-fuse", "fuse.portal"};
    return pseudo.contains(type);
}

bool isUnder(const QString& path, const QString& root) {
    return root == u'/' ? path.startsWith(u'/')
                        : path == root || path.startsWith(root + u'/');
}

// Runtime and system areas: memory file systems there hold no user files.
bool isSystemArea(const QString& root) {
    static const QStringList areas = {QStringLiteral("/proc"), QStringLiteral("/sys"),
                                      QStringLiteral("/dev"),  QStringLiteral("/run"),
                                      QStringLiteral("/var/run"), QStringLiteral("/var/lock"),
                                      QStringLiteral("/snap")};
    return std::any_of(areas.cbegin(), areas.cend(),
                       [&](const QString& area) { return isUnder(root, area); });
}

QString cleanAbsolute(const QString& path) {
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QIcon folderIcon() { return QFileIconProvider().icon(QFileIconProvider::Folder); }

}  // namespace

QList<QStorageInfo> userVolumes() {
    QList<QStorageInfo> volumes;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady() || isPseudoFileSystem(volume.fileSystemType()) ||
            isSystemArea(volume.rootPath())) {
            continue;
        }
        volumes.append(volume);
    }
    std::sort(volumes.begin(), volumes.end(), [](const QStorageInfo& a, const QStorageInfo& b) {
        return a.rootPath() < b.rootPath();
    });
    return volumes;
}

DriveComboBox::DriveComboBox(QWidget* parent) : QComboBox(parent) {
    refresh();
    setDrive(QDir::currentPath());
    connect(this, &QComboBox::currentIndexChanged, this,
            [this] { emit driveChanged(drive()); });
}

QString DriveComboBox::drive() const { return currentData(pathRole).toString(); }

QString DriveComboBox::volumeOf(const QString& path) const {
    QString target = QFileInfo(path).canonicalFilePath();
    if (target.isEmpty()) {
        target = cleanAbsolute(path);
    }
    QString best = QStringLiteral("/");
    for (int i = 0; i < count(); ++i) {
        const QString root = itemData(i, pathRole).toString();
        if (isUnder(target, root) && root.size() > best.size()) {
            best = root;
        }
    }
    return best;
}

void DriveComboBox::setDrive(const QString& path) {
    const int index = findData(volumeOf(path), pathRole);
    if (index >= 0) {
        setCurrentIndex(index);
    }
}

void DriveComboBox::refresh() {
    const QString before = drive();
    {
        const QSignalBlocker quiet(this);
        clear();
        for (const QStorageInfo& volume : userVolumes()) {
            const QString root = volume.rootPath();
            const QString label = volume.name().isEmpty()
                                      ? root
                                      : QStringLiteral("%1 [%2]").arg(root, volume.name());
            addItem(label, root);
        }
        if (findData(QStringLiteral("/"), pathRole) < 0) {
            insertItem(0, QStringLiteral("/"), QStringLiteral("/"));
        }
        const int kept = findData(before, pathRole);
        setCurrentIndex(kept >= 0 ? kept : findData(QStringLiteral("/"), pathRole));
    }
    if (!before.isEmpty() && drive() != before) {
        emit driveChanged(drive());
    }
}

DirectoryListBox::DirectoryListBox(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(1);
    setHeaderHidden(true);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setIndentation(12);
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Moving rebuilds the list, so it must not happen inside the item's own
    // mouse or key handling.
    connect(this, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* item) {
        QMetaObject::invokeMethod(
            this, [this, path = pathOf(item)] { setDirectory(path); }, Qt::QueuedConnection);
    });
    setDirectory(QDir::currentPath());
}

QString DirectoryListBox::pathOf(const QTreeWidgetItem* item) {
    return item ? item->data(0, pathRole).toString() : QString();
}

bool DirectoryListBox::setDirectory(const QString& path) {
    if (path.isEmpty() || !QFileInfo(path).isDir()) {
        refresh();  // a folder that vanished leaves the list
        return false;
    }
    const QString target = cleanAbsolute(path);
    const bool moved = target != directory_;
    directory_ = target;
    rebuild();
    if (moved) {
        emit directoryChanged(directory_);
    }
    return true;
}

void DirectoryListBox::refresh() {
    if (!directory_.isEmpty()) {
        rebuild();
    }
}

void DirectoryListBox::rebuild() {
    clear();
    const QIcon icon = folderIcon();
    auto* item = new QTreeWidgetItem(this, {QStringLiteral("/")});
    item->setData(0, pathRole, QStringLiteral("/"));
    item->setIcon(0, icon);
    QString path;
    for (const QString& name : directory_.split(u'/', Qt::SkipEmptyParts)) {
        path += u'/' + name;
        item = new QTreeWidgetItem(item, {name});
        item->setData(0, pathRole, path);
        item->setIcon(0, icon);
    }
    currentItem_ = item;
    const QFileInfoList subfolders = QDir(directory_).entryInfoList(
        QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
    for (const QFileInfo& folder : subfolders) {
        auto* child = new QTreeWidgetItem(currentItem_, {folder.fileName()});
        child->setData(0, pathRole, cleanAbsolute(folder.absoluteFilePath()));
        child->setIcon(0, icon);
    }
    expandAll();
    setCurrentItem(currentItem_);
    scrollToItem(currentItem_);
}

SqlFileListBox::SqlFileListBox(QWidget* parent)
    : QListWidget(parent), mask_(QStringLiteral("*.SQL")) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDirectory(QDir::currentPath());
}

void SqlFileListBox::setDirectory(const QString& path) {
    const QString target = path.isEmpty() ? QString() : cleanAbsolute(path);
    const bool moved = target != directory_;
    directory_ = target;
    refresh();
    if (moved) {
        emit directoryChanged(directory_);
    }
}

void SqlFileListBox::setMask(const QString& mask) {
    mask_ = mask;
    refresh();
}

QString SqlFileListBox::fileName() const {
    const QListWidgetItem* item = currentItem();
    if (!item || !item->isSelected()) {
        return {};
    }
    return QDir(directory_).filePath(item->text());
}

QStringList SqlFileListBox::fileNames() const {
    QStringList names;
    for (int i = 0; i < count(); ++i) {
        names.append(item(i)->text());
    }
    return names;
}

void SqlFileListBox::refresh() {
    clear();
    if (directory_.isEmpty()) {
        return;
    }
    // Without QDir::CaseSensitive the mask ignores case: a.sql, B.Sql, C.SQL.
    addItems(QDir(directory_).entryList({mask_}, QDir::Files,
                                        QDir::Name | QDir::IgnoreCase | QDir::LocaleAware));
}

void connectSqlFileBrowser(DriveComboBox& drives, DirectoryListBox& directories,
                           SqlFileListBox& files) {
    QObject::connect(&drives, &DriveComboBox::driveChanged, &directories,
                     [&drives, &directories](const QString& root) {
                         if (drives.volumeOf(directories.directory()) != root) {
                             directories.setDirectory(root);
                         }
                     });
    QObject::connect(&directories, &DirectoryListBox::directoryChanged, &files,
                     [&drives, &files](const QString& path) {
                         files.setDirectory(path);
                         drives.setDrive(path);
                     });
    files.setDirectory(directories.directory());
    drives.setDrive(directories.directory());
}

}  // namespace tarnwell
