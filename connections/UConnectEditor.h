#pragma once

#include <QWidget>
#include <memory>

class QLineEdit;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;
class QToolButton;

namespace Ui {
class TfrmConnectEditor;
}

namespace tarnwell {

class TfrmMain;

// The connection browser: the tree of aliases on its BDE page, the tree of
// connection-string connections on its ADO page, and the current connection
// in EdtConnectDB, from which new query windows are preset. At most one
// exists; it is made on demand and lives until exit (closing only hides it).
class TfrmConnectEditor : public QWidget {
    Q_OBJECT
public:
    explicit TfrmConnectEditor(TfrmMain& mainWindow);
    ~TfrmConnectEditor() override;

    // The browser while it exists, else null.
    static TfrmConnectEditor* instance();

    QLineEdit* EdtConnectDB() const;
    // Page 0 "ADO", page 1 "BDE".
    QTabWidget* Page_Con() const;
    QTreeWidget* TrvBDE() const;
    QTreeWidget* TrvADO() const;
    QToolButton* SpeedButton1() const;
    QToolButton* SpeedButton2() const;
    QToolButton* SpeedButton3() const;
    QToolButton* SpeedButton5() const;

private:
    std::unique_ptr<Ui::TfrmConnectEditor> ui;
    TfrmMain& mainWindow_;
};

}  // namespace tarnwell
