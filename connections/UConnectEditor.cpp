#include "connections/UConnectEditor.h"

#include <QPointer>

#include "shell/UMain.h"
#include "ui_UConnectEditor.h"

namespace tarnwell {

namespace {

QPointer<TfrmConnectEditor>& browserReference() {
    static QPointer<TfrmConnectEditor> reference;
    return reference;
}

}  // namespace

TfrmConnectEditor::TfrmConnectEditor(TfrmMain& mainWindow)
    : ui(std::make_unique<Ui::TfrmConnectEditor>()), mainWindow_(mainWindow) {
    ui->setupUi(this);
    browserReference() = this;
}

TfrmConnectEditor::~TfrmConnectEditor() = default;

TfrmConnectEditor* TfrmConnectEditor::instance() { return browserReference().data(); }

QLineEdit* TfrmConnectEditor::EdtConnectDB() const { return ui->EdtConnectDB; }
QTabWidget* TfrmConnectEditor::Page_Con() const { return ui->Page_Con; }
QTreeWidget* TfrmConnectEditor::TrvBDE() const { return ui->TrvBDE; }
QTreeWidget* TfrmConnectEditor::TrvADO() const { return ui->TrvADO; }
QToolButton* TfrmConnectEditor::SpeedButton1() const { return ui->SpeedButton1; }
QToolButton* TfrmConnectEditor::SpeedButton2() const { return ui->SpeedButton2; }
QToolButton* TfrmConnectEditor::SpeedButton3() const { return ui->SpeedButton3; }
QToolButton* TfrmConnectEditor::SpeedButton5() const { return ui->SpeedButton5; }

}  // namespace tarnwell
