#include "connections/UParmViewer.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>
#include <QShowEvent>
#include <QTreeWidgetItem>

#include "connections/UConnectEditor.h"
#include "dataaccess/Database.h"
#include "dataaccess/Session.h"
#include "session/Workspace.h"
#include "ui/FormFont.h"
#include "ui/WindowStyle.h"
#include "ui_UParmViewer.h"

namespace tarnwell {

namespace {

QPointer<TfrmParmViewer>& viewerReference() {
    static QPointer<TfrmParmViewer> reference;
    return reference;
}

constexpr int kRowHeight = 15;

}  // namespace

TfrmParmViewer::TfrmParmViewer(Workspace& workspace, QMdiArea& home)
    : QWidget(home.window(), Qt::Window), ui(std::make_unique<Ui::TfrmParmViewer>()), workspace_(workspace) {
    ui->setupUi(this);
    setFormFont(*this, pixelFont("細明體", 13));
    setUpGrid();
    viewerReference() = this;
}

TfrmParmViewer::~TfrmParmViewer() {
    if (viewerReference() == this) {
        viewerReference() = nullptr;
    }
}

TfrmParmViewer* TfrmParmViewer::instance() { return viewerReference().data(); }

TfrmParmViewer& TfrmParmViewer::showViewer(Workspace& workspace, QMdiArea& home) {
    TfrmParmViewer* viewer = instance();
    if (viewer == nullptr) {
        viewer = new TfrmParmViewer(workspace, home);
        setWindowStyle(*viewer, WindowStyle::MdiChild, home);
        windowFrame(*viewer).showMaximized();
    }
    showWindow(*viewer);
    return *viewer;
}


void TfrmParmViewer::setUpGrid() {
    QTableWidget& grid = *ui->Sgrid1;
    grid.setColumnCount(2);
    // The table's header stands for the grid's one fixed row.
    grid.setHorizontalHeaderLabels({QStringLiteral("參數"), QStringLiteral("值")});
    QHeaderView& header = *grid.horizontalHeader();
    header.setSectionResizeMode(QHeaderView::Fixed);
    header.setMinimumSectionSize(1);
    header.setFixedHeight(kRowHeight);
    header.setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    grid.setColumnWidth(0, 149);
    grid.setColumnWidth(1, 899);
    QHeaderView& rows = *grid.verticalHeader();
    rows.setMinimumSectionSize(1);
    rows.setSectionResizeMode(QHeaderView::Fixed);
    rows.setDefaultSectionSize(kRowHeight);
    resetGrid();
}

void TfrmParmViewer::resetGrid() {
    ui->Sgrid1->clearContents();
    ui->Sgrid1->setRowCount(1);
}

int TfrmParmViewer::gridRowCount() const { return ui->Sgrid1->rowCount() + 1; }

QString TfrmParmViewer::cell(int column, int row) const {
    if (row == 0) {
        const QTableWidgetItem* header = ui->Sgrid1->horizontalHeaderItem(column);
        return header != nullptr ? header->text() : QString();
    }
    const QTableWidgetItem* item = ui->Sgrid1->item(row - 1, column);
    return item != nullptr ? item->text() : QString();
}

void TfrmParmViewer::setCell(int column, int row, const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    ui->Sgrid1->setItem(row - 1, column, item);
}

void TfrmParmViewer::ShowAliasParams(const QTreeWidgetItem& alias) {
    const QTreeWidgetItem* root = alias.parent();
    const int position = root != nullptr ? root->indexOfChild(const_cast<QTreeWidgetItem*>(&alias)) : -1;
    if (position == shownAlias_) {
        return;
    }
    const std::string name = alias.text(0).toStdString();
    db::Database& testConnection = workspace_.BDE_DB();
    testConnection.close();
    testConnection.setParams(workspace_.Session1().aliasParams(name));

    resetGrid();
    setCell(0, 1, QStringLiteral("TYPE"));
    setCell(1, 1, QString::fromStdString(workspace_.Session1().aliasDriverName(name)));
    const db::ParamList& params = testConnection.params();
    for (std::size_t i = 0; i < params.size(); ++i) {
        const int row = static_cast<int>(i) + 2;
        ui->Sgrid1->setRowCount(row);
        setCell(0, row, QString::fromStdString(params.nameAt(i)));
        setCell(1, row, QString::fromStdString(params.valueAt(i)));
    }
    shownAlias_ = position;
}

void TfrmParmViewer::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous() || shownOnce_) {
        return;
    }
    shownOnce_ = true;
    if (TfrmConnectEditor* browser = TfrmConnectEditor::instance()) {
        browser->TrvBDEClickReportingErrors();
    }
}

void TfrmParmViewer::closeEvent(QCloseEvent* event) {
    event->accept();
    emit closed();
    // Gone for everyone from here on, though Qt frees it only once the close
    // has run its course: the frame that sent the close is still in use.
    if (viewerReference() == this) {
        viewerReference() = nullptr;
    }
    hide();
    windowFrame(*this).deleteLater();
}

}  // namespace tarnwell
