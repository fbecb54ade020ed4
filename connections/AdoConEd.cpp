#include "connections/AdoConEd.h"

#include <QApplication>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPalette>
#include <QRadioButton>
#include <QScreen>
#include <QTreeWidget>
#include <algorithm>

#include "connections/ConnectionHelp.h"
#include "connections/DataLinkDialog.h"
#include "dataaccess/AdoConnection.h"
#include "dataaccess/ConnectionString.h"
#include "dataaccess/DataLink.h"
#include "dataaccess/DbError.h"
#include "dataaccess/Paths.h"
#include "session/ConnectionRegistry.h"
#include "session/Workspace.h"
#include "ui/Prompt.h"
#include "ui_AdoConEd.h"

namespace tarnwell {

namespace {

const QString kFileNameKey = QStringLiteral("FILE NAME=");
// The longest file text a "FILE NAME=" string is read for.
constexpr int kLongestDataLinkFileText = 260;

// Pictures of the ADO tree.
constexpr int kIndexPicture = 2;
constexpr int kProviderPicture = 7;
constexpr int kDataSourcePicture = 8;

// The file text after "FILE NAME=": a path that had to be quoted (written
// by dataLinkFileConnectionString) is read back through the engine's reader;
// anything else is shown as it stands.
QString unquotedValue(const QString& value) {
    try {
        const db::ConnectionString read = db::ConnectionString::parse("FILE NAME=" + value.toStdString());
        if (read.entries().size() == 1) {
            return QString::fromStdString(read.value("FILE NAME"));
        }
    } catch (const db::DbError&) {
    }
    return value;
}

QTreeWidgetItem* addNode(QTreeWidgetItem* item, const QString& text, const QList<QIcon>& pictures, int picture) {
    item->setText(0, text);
    item->setIcon(0, pictures.value(picture));
    return item;
}

// Texts shorter than seven characters take part whole.
bool agreeInFirstSeven(const QString& a, const QString& b) { return a.left(7) == b.left(7); }

QTreeWidgetItem* findProviderNode(const QTreeWidget& tree, const QString& provider) {
    // Only level 0 holds providers: a data source whose text happens to begin
    // like a provider name must not take a connection in.
    for (int i = 0; i < tree.topLevelItemCount(); ++i) {
        QTreeWidgetItem* node = tree.topLevelItem(i);
        if (agreeInFirstSeven(node->text(0), provider)) {
            return node;
        }
    }
    return nullptr;
}

// The node of the provider, else the one named after the reported provider
// (the two agree for every provider the engine knows).
QTreeWidgetItem* providerNodeFor(const QTreeWidget& tree, const QString& provider,
                                 const QString& reportedProvider) {
    QTreeWidgetItem* node = findProviderNode(tree, provider);
    return node != nullptr ? node : findProviderNode(tree, reportedProvider);
}

QTreeWidgetItem* childWithText(const QTreeWidgetItem& node, const QString& text) {
    for (int i = 0; i < node.childCount(); ++i) {
        if (node.child(i)->text(0) == text) {
            return node.child(i);
        }
    }
    return nullptr;
}

}  // namespace

// --- Data link file names ----------------------------------------------------

QString dataLinkFolderPath() { return QString::fromStdString(db::dataLinkFolder()); }

QString dataLinkFileConnectionString(const QString& fileText) {
    if (fileText.isEmpty()) {
        return {};
    }
    const QString path = fileText.contains(QLatin1Char('/'))
                             ? fileText
                             : dataLinkFolderPath() + QLatin1Char('/') + fileText;
    // Quoted where the engine's reader would otherwise cut the path.
    db::ConnectionString entry;
    entry.set("FILE NAME", path.toStdString());
    return QString::fromStdString(entry.text());
}

std::optional<QString> dataLinkFileShownFor(const QString& connectionString) {
    if (!connectionString.startsWith(kFileNameKey)) {
        return std::nullopt;
    }
    const QString file =
        unquotedValue(connectionString.mid(kFileNameKey.size(), kLongestDataLinkFileText));
    const int slash = file.lastIndexOf(QLatin1Char('/'));
    if (slash >= 0 && file.left(slash + 1) == dataLinkFolderPath() + QLatin1Char('/')) {
        return file.mid(slash + 1);
    }
    return file;
}

// --- The dialog --------------------------------------------------------------

TConnEditForm::TConnEditForm(const QString& ownerName, const QString& objectName, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TConnEditForm>()) {
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("%1%2%3 %4")
                       .arg(ownerName, QStringLiteral("."), objectName, QStringLiteral("ConnectionString")));
    setFixedSize(472, 185);
    if (const QScreen* screen = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen()) {
        QRect area(QPoint(), size());
        area.moveCenter(screen->availableGeometry().center());
        move(area.topLeft());
    }
    fillDataLinkFiles();

    connect(ui->UseDataLinkFile, &QRadioButton::toggled, this, &TConnEditForm::enableBySource);
    connect(ui->UseConnectionString, &QRadioButton::toggled, this, &TConnEditForm::enableBySource);
    connect(ui->Browse, &QPushButton::clicked, this, &TConnEditForm::BrowseClick);
    connect(ui->Build, &QPushButton::clicked, this, &TConnEditForm::BuildClick);
    connect(ui->HelpButton, &QPushButton::clicked, this, &TConnEditForm::HelpButtonClick);
    connect(ui->OkButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

TConnEditForm::~TConnEditForm() = default;

void TConnEditForm::fillDataLinkFiles() {
    QStringList names;
    for (const std::string& name : db::dataLinkFileNames()) {
        names << QString::fromStdString(name);
    }
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int order = a.compare(b, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a < b;
    });
    ui->DataLinkFile->addItems(names);
    // The box starts empty, as a list of names to pick from.
    ui->DataLinkFile->setCurrentIndex(-1);
    ui->DataLinkFile->setEditText(QString());
}

void TConnEditForm::startWith(const QString& start) {
    ui->UseDataLinkFile->setChecked(true);
    if (const std::optional<QString> file = dataLinkFileShownFor(start)) {
        ui->DataLinkFile->setEditText(*file);
    } else {
        ui->ConnectionString->setText(start);
        ui->UseConnectionString->setChecked(true);
    }
    enableBySource();
}

void TConnEditForm::enableBySource() {
    const bool byFile = ui->UseDataLinkFile->isChecked();
    const bool byString = ui->UseConnectionString->isChecked();
    const QPalette standard = QApplication::palette();
    const auto paint = [&standard](QWidget* box, bool enabled) {
        box->setEnabled(enabled);
        QPalette palette = box->palette();
        palette.setColor(QPalette::Base,
                         standard.color(QPalette::Active, enabled ? QPalette::Base : QPalette::Button));
        box->setPalette(palette);
    };
    paint(ui->DataLinkFile, byFile);
    ui->Browse->setEnabled(byFile);
    paint(ui->ConnectionString, byString);
    ui->Build->setEnabled(byString);
    if (ui->DataLinkFile->isEnabled()) {
        ui->DataLinkFile->setFocus();
    } else {
        ui->ConnectionString->setFocus();
    }
}

QString TConnEditForm::resultText() const {
    if (ui->UseConnectionString->isChecked()) {
        return ui->ConnectionString->text();
    }
    return dataLinkFileConnectionString(ui->DataLinkFile->currentText());
}

QString TConnEditForm::Edit(const QString& start) {
    startWith(start);
    return exec() == QDialog::Accepted ? resultText() : start;
}

void TConnEditForm::BrowseClick() {
    const QString current = ui->DataLinkFile->currentText();
    const int slash = current.lastIndexOf(QLatin1Char('/'));
    Prompt::FileRequest request;
    request.caption = QStringLiteral("選擇資料連結檔案");
    if (slash < 0) {
        request.directory = dataLinkFolderPath();
    } else {
        request.directory =
            QString::fromStdString(db::expandHome(current.left(slash + 1).toStdString()));
    }
    request.filter = QStringLiteral("資料連結檔案 (*.udl *.UDL)");
    if (const std::optional<QString> path = prompt().openFileName(request)) {
        ui->DataLinkFile->setEditText(*path);
    }
}

void TConnEditForm::BuildClick() {
    DataLinkDialog dialog(this);
    const QString current = ui->ConnectionString->text();
    if (!current.trimmed().isEmpty()) {
        // A text that does not parse leaves the dialog empty.
        dialog.preset(current);
    }
    if (dialog.exec() == QDialog::Accepted) {
        ui->ConnectionString->setText(dialog.connectionString());
    }
}

void TConnEditForm::HelpButtonClick() { showConnectionStringHelp(this); }


bool EditConnectionString(db::AdoConnection& connection, const QString& ownerName,
                          const QString& objectName, QWidget* parent) {
    const QString start = QString::fromStdString(connection.connectionString());
    QString result;
    {
        TConnEditForm form(ownerName, objectName, parent);
        result = form.Edit(start);
    }
    if (result == start) {
        return false;
    }
    connection.setConnectionString(result.toStdString());
    return true;
}

// --- The new-connection command ------------------------------------------------

std::optional<OpenedAdoConnection> openNewAdoConnection(Workspace& workspace, QWidget& owner) {
    db::AdoConnection& connection = workspace.ADOCon1();
    // A query window may be running a statement on the connection this
    // replaces, on a thread of its own.
    db::StatementTurn::Held turn;
    try {
        turn = workspace.adoTurn().take(db::StatementTurn::Use::Run);
    } catch (const db::DbError& busy) {
        prompt().showMessage(QString::fromUtf8(busy.what()));
        return std::nullopt;
    }
    connection.resetToNewConnectionDefaults();
    if (!EditConnectionString(connection, owner.objectName(), QStringLiteral("ADOCon1"), &owner)) {
        return std::nullopt;
    }
    if (QString::fromStdString(connection.connectionString()).trimmed().isEmpty()) {
        return std::nullopt;
    }

    // Synchronous: the connection timeout bounds the wait.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    bool opened = false;
    try {
        connection.open();
        opened = true;
    } catch (const std::exception&) {
        connection.close();
    }
    QApplication::restoreOverrideCursor();
    if (!opened) {
        prompt().showMessage(QStringLiteral("資料來源連結失敗"));
        return std::nullopt;
    }

    // What the engine completed, not what the dialog gave.
    const QString connectionString = QString::fromStdString(connection.connectionString());
    OpenedAdoConnection result;
    result.provider = ConnectionStringValue(connectionString, QStringLiteral("Provider="));
    result.dataSource = ConnectionStringValue(connectionString, QStringLiteral("Data Source="));
    result.reportedProvider = QString::fromStdString(connection.provider());
    result.position = workspace.registry().addAdo({connectionString, result.provider, result.dataSource});
    return result;
}

// --- The ADO tree -------------------------------------------------------------

QTreeWidgetItem* AddAdoTreeNode(QTreeWidget& tree, const QList<QIcon>& pictures, const QString& provider,
                                const QString& dataSource, const QString& reportedProvider) {
    QTreeWidgetItem* providerNode = providerNodeFor(tree, provider, reportedProvider);
    if (providerNode == nullptr) {
        providerNode = addNode(new QTreeWidgetItem(&tree), reportedProvider, pictures, kProviderPicture);
    }
    if (childWithText(*providerNode, dataSource) != nullptr) {
        return nullptr;
    }
    return addNode(new QTreeWidgetItem(providerNode), dataSource, pictures, kDataSourcePicture);
}

QTreeWidgetItem* fileAdoConnection(QTreeWidget& tree, const QList<QIcon>& pictures, const QString& provider,
                                   const QString& dataSource, const QString& reportedProvider, int position) {
    QTreeWidgetItem* dataSourceNode = AddAdoTreeNode(tree, pictures, provider, dataSource, reportedProvider);
    if (dataSourceNode == nullptr) {
        // The provider node lists the data source already (two providers
        // that share their first seven characters): the entry goes with it.
        dataSourceNode = childWithText(*providerNodeFor(tree, provider, reportedProvider), dataSource);
    }
    QTreeWidgetItem* indexNode = addNode(new QTreeWidgetItem(dataSourceNode),
                                         QStringLiteral("Index:%1").arg(position), pictures, kIndexPicture);
    // The new entry in sight.
    for (QTreeWidgetItem* node = dataSourceNode; node != nullptr; node = node->parent()) {
        node->setExpanded(true);
    }
    return indexNode;
}

}  // namespace tarnwell
