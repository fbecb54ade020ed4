#pragma once

#include <QWidget>
#include <memory>

#include "dataaccess/Catalog.h"
#include "sqlsyntax/Dialect.h"

class QLabel;
class QLineEdit;
class QTreeView;

namespace tarnwell {

class CatalogTreeModel;

// The table list beside a query window's memo: the tables and views of the
// catalog of the window's connection, each with a row per column (its kind
// as the Fields page names it) made only when the table is opened, so a
// catalog of many thousands of tables shows at once. A filter box keeps the
// tables whose names hold its text; a line at the bottom counts them, or says
// that the catalog is being read or what it could not read.
class CatalogTableList : public QWidget {
    Q_OBJECT
public:
    explicit CatalogTableList(QWidget* parent = nullptr);
    ~CatalogTableList() override;

    void setCatalog(std::shared_ptr<const db::Catalog> catalog, sql::Dialect dialect);
    // The load's state: under way, or what it could not read (empty when it
    // read everything: the line then counts the tables).
    void setLoadState(bool loading, const QString& problem);

    QTreeView& tree() const { return *tree_; }

signals:
    // The refresh button.
    void refreshRequested();
    // A double click: the name as a statement spells it.
    void nameChosen(const QString& sqlName);

private:
    void showStatus();

    CatalogTreeModel* model_ = nullptr;
    QLineEdit* filter_ = nullptr;
    QTreeView* tree_ = nullptr;
    QLabel* status_ = nullptr;
    bool loading_ = false;
    QString problem_;
};

}  // namespace tarnwell
