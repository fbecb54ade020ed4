#pragma once

#include <QDialog>
#include <QIcon>
#include <QList>
#include <QString>
#include <memory>
#include <optional>

class QTreeWidget;
class QTreeWidgetItem;

namespace Ui {
class TConnEditForm;
}

namespace tarnwell {

namespace db {
class AdoConnection;
}

class Workspace;

// The connection-string dialog: the string is either typed (or built with
// the data-link dialog) or taken from a data link file, which is named by
// its bare name when it lies in the data-link folder.
class TConnEditForm : public QDialog {
    Q_OBJECT
public:
    // The title names the edited object: "<owner>.<object> ConnectionString".
    // The data link file list is read from the data-link folder now.
    TConnEditForm(const QString& ownerName, const QString& objectName, QWidget* parent = nullptr);
    ~TConnEditForm() override;

    // Shows the dialog modally, starting from `start`; the text it ends with
    // (`start` itself unless it ends with OK).
    QString Edit(const QString& start);

    // The state for a starting text: the data link file of a "FILE NAME="
    // string, else the text in the connection-string box.
    void startWith(const QString& start);
    // What OK gives for the controls as they are now.
    QString resultText() const;


    void BrowseClick();
    void BuildClick();
    void HelpButtonClick();

private:
    void fillDataLinkFiles();
    void enableBySource();

    std::unique_ptr<Ui::TConnEditForm> ui;
};

// Shows the connection-string dialog for `connection` (named `objectName`,
// owned by `ownerName`) with its current string. True, after storing the new
// text as the connection's string, when the dialog ends with OK and a text
// other than the one it started with; false otherwise.
bool EditConnectionString(db::AdoConnection& connection, const QString& ownerName,
                          const QString& objectName, QWidget* parent = nullptr);

// A connection the new-connection command opened.
struct OpenedAdoConnection {
    // "Provider=" and "Data Source=" of the string the engine completed.
    QString provider;
    QString dataSource;
    // The name the open connection reports for its provider.
    QString reportedProvider;
    // Its place in the registry; none when an earlier entry covers it.
    std::optional<int> position;
};

// The new-connection command's connection (the browser files what it gives,
// TfrmConnectEditor::newAdoConnection): the workspace's ADOCon1 is reset and
// given the string the connection-string dialog ends with (titled after
// `owner`, which owns the dialog); it opens, and the connection it completed
// is registered. Nothing when the dialog gives no new string, or when the
// connection fails to open, which is reported and leaves everything else as
// it was.
std::optional<OpenedAdoConnection> openNewAdoConnection(Workspace& workspace, QWidget& owner);

// --- Data link file names ----------------------------------------------------
// Paths here use "/"; a name without "/" is a bare name in the data-link
// folder.

// The folder the dialog lists, as Tarnwell names it (no closing "/").
QString dataLinkFolderPath();
// The connection string naming a data link file: "FILE NAME=" and the path;
// a bare name is taken from the data-link folder.
QString dataLinkFileConnectionString(const QString& fileText);
// What the dialog's data link file box shows for a "FILE NAME=" string: the
// file (at most 260 characters after the key), by its bare name when it lies
// in the data-link folder; nothing when the string names no file.
std::optional<QString> dataLinkFileShownFor(const QString& connectionString);

// --- The ADO tree -------------------------------------------------------------
// Level 0: providers (picture 7), level 1: their data sources (picture 8),
// level 2: "Index:<n>" for the n-th registry entry (picture 2), the pictures
// taken from `pictures` (the workspace's ImageADO). Providers whose names
// agree in their first seven characters share the node of the one filed
// first.

// The data-source node under which a new registry entry is filed, added with
// its provider node as needed, or none when the provider node found already
// lists the data source. A provider without a node gets one named after
// `reportedProvider`, the name the open connection reports.
QTreeWidgetItem* AddAdoTreeNode(QTreeWidget& tree, const QList<QIcon>& pictures, const QString& provider,
                                const QString& dataSource, const QString& reportedProvider);

// Files registry entry `position` in the tree: its "Index:" node goes under
// the data-source node that AddAdoTreeNode gives, or under the data-source
// node already listed when it gives none. Returns the "Index:" node.
QTreeWidgetItem* fileAdoConnection(QTreeWidget& tree, const QList<QIcon>& pictures, const QString& provider,
                                   const QString& dataSource, const QString& reportedProvider, int position);

}  // namespace tarnwell
