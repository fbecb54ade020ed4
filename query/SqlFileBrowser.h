#pragma once

#include <QComboBox>
#include <QList>
#include <QListWidget>
#include <QStorageInfo>
#include <QStringList>
#include <QTreeWidget>

namespace tarnwell {

// The volumes a user keeps files on, root first: mounted, ready, and not one
// of the system's pseudo or runtime file systems.
QList<QStorageInfo> userVolumes();

// Picks one of the mounted volumes; its value is the volume's root path.
class DriveComboBox : public QComboBox {
    Q_OBJECT
    Q_PROPERTY(QString drive READ drive NOTIFY driveChanged)
public:
    explicit DriveComboBox(QWidget* parent = nullptr);

    QString drive() const;
    // Chooses the listed volume that holds `path`.
    void setDrive(const QString& path);
    // The root of the listed volume that holds `path` ("/" if none does).
    QString volumeOf(const QString& path) const;
    // Reads the mounted volumes again.
    void refresh();

signals:
    void driveChanged(const QString& rootPath);
};

// The folder being browsed, shown as its chain of parent folders from the
// root down, with its own subfolders below it. Double-clicking (or Enter on)
// a folder moves there. Starts at the process's current directory.
class DirectoryListBox : public QTreeWidget {
    Q_OBJECT
    Q_PROPERTY(QString directory READ directory WRITE setDirectory NOTIFY directoryChanged)
public:
    explicit DirectoryListBox(QWidget* parent = nullptr);

    QString directory() const { return directory_; }
    // Moves to `path`; a path that is not a folder is ignored (false).
    bool setDirectory(const QString& path);
    // The folder an entry stands for.
    static QString pathOf(const QTreeWidgetItem* item);
    // The entry of the folder being browsed.
    QTreeWidgetItem* currentDirectoryItem() const { return currentItem_; }
    // Lists the subfolders again.
    void refresh();

signals:
    void directoryChanged(const QString& path);

private:
    void rebuild();

    QString directory_;
    QTreeWidgetItem* currentItem_ = nullptr;
};

// The files of one folder whose names match the mask (default "*.SQL", case
// ignored), sorted by name.
class SqlFileListBox : public QListWidget {
    Q_OBJECT
    Q_PROPERTY(QString directory READ directory WRITE setDirectory NOTIFY directoryChanged)
    Q_PROPERTY(QString mask READ mask WRITE setMask)
public:
    explicit SqlFileListBox(QWidget* parent = nullptr);

    QString directory() const { return directory_; }
    void setDirectory(const QString& path);
    QString mask() const { return mask_; }
    void setMask(const QString& mask);
    // The chosen file joined with the folder; empty when none is chosen.
    QString fileName() const;
    // The names listed, in order.
    QStringList fileNames() const;
    // Reads the folder again.
    void refresh();

signals:
    void directoryChanged(const QString& path);

private:
    QString directory_;
    QString mask_;
};

// Drive box -> directory list -> file list, as on the "SQL_List" page:
// choosing a drive browses its root, and every move of the directory list
// lists that folder's files and shows its drive.
void connectSqlFileBrowser(DriveComboBox& drives, DirectoryListBox& directories,
                           SqlFileListBox& files);

}  // namespace tarnwell
