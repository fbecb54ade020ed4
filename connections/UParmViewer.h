#pragma once

#include <QWidget>
#include <memory>

class QMdiArea;
class QTreeWidgetItem;

namespace Ui {
class TfrmParmViewer;
}

namespace tarnwell {

class Workspace;

// The parameter viewer: the driver and the parameters of the alias selected
// in the connection browser's tree, in a maximised child of the main window's
// MDI area `home`. At most one exists; closing it destroys it.
class TfrmParmViewer : public QWidget {
    Q_OBJECT
public:
    TfrmParmViewer(Workspace& workspace, QMdiArea& home);
    ~TfrmParmViewer() override;

    // The viewer while it exists, else null.
    static TfrmParmViewer* instance();
    // The viewer, made as a maximised child of the MDI area when absent, and
    // shown.
    static TfrmParmViewer& showViewer(Workspace& workspace, QMdiArea& home);

    // Loads the driver and the parameters of `alias` (a node under the tree's
    // root) unless it is the alias shown already. Closes the test connection
    // and gives it the alias's parameters.
    void ShowAliasParams(const QTreeWidgetItem& alias);


    // The grid in its own numbering: row 0 is the header row, row 1 the
    // "TYPE" row, the parameters from row 2 on.
    int gridRowCount() const;
    QString cell(int column, int row) const;
    // Position of the shown alias among the aliases of the tree; -1 for none.
    int shownAliasPosition() const { return shownAlias_; }

signals:
    // The viewer is closing: the main menu's check mark goes.
    void closed();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void setUpGrid();
    void resetGrid();
    void setCell(int column, int row, const QString& text);

    std::unique_ptr<Ui::TfrmParmViewer> ui;
    Workspace& workspace_;
    int shownAlias_ = -1;
    bool shownOnce_ = false;
};

}  // namespace tarnwell
