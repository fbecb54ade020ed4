#include "connections/DataLinkDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTreeWidget>
#include <exception>

#include "dataaccess/AdoConnection.h"
#include "dataaccess/DbError.h"
#include "dataaccess/ParamList.h"
#include "dataaccess/Paths.h"
#include "dataaccess/odbc/OdbcConnection.h"
#include "ui/Prompt.h"
#include "ui_DataLinkDialog.h"

namespace tarnwell {

namespace {

const char* const kProviderKey = "Provider";
const char* const kDataSourceKey = "Data Source";
const char* const kUserKey = "User ID";
const char* const kPasswordKey = "Password";

QString hintFor(const QString& provider) {
    if (provider == QLatin1String(db::kProviderSqlite)) {
        return QStringLiteral("資料庫檔案的路徑，例如 /home/mei/資料/sales.db");
    }
    if (provider == QLatin1String(db::kProviderPostgres)) {
        return QStringLiteral("主機[:連接埠]/資料庫，例如 localhost:5432/erp；只寫 /資料庫 則經由本機通訊端連線");
    }
    if (provider == QLatin1String(db::kProviderMariaDb)) {
        return QStringLiteral("主機[:連接埠]/資料庫，例如 db.example.com:3306/erp；只寫 /資料庫 則經由本機通訊端連線");
    }
    if (provider == QLatin1String(db::kProviderOdbc)) {
        return QStringLiteral("ODBC 資料來源名稱 (DSN)，可由清單中選擇");
    }
    return {};
}

// Sets or, for an empty text, removes a key.
void setOrRemove(db::ConnectionString& settings, const char* key, const QString& value) {
    if (value.isEmpty()) {
        settings.remove(key);
    } else {
        settings.set(key, value.toStdString());
    }
}

// The mouse shows the wait while the engine connects.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

}  // namespace

DataLinkDialog::DataLinkDialog(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::DataLinkDialog>()) {
    ui->setupUi(this);
    fillProviders();
    connect(ui->ProviderList, &QTreeWidget::itemSelectionChanged, this, &DataLinkDialog::providerChanged);
    connect(ui->ChooseFile, &QToolButton::clicked, this, &DataLinkDialog::ChooseFileClick);
    connect(ui->TestConnection, &QPushButton::clicked, this, &DataLinkDialog::TestConnectionClick);
    connect(ui->OkButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    selectProvider(QString::fromStdString(db::connectionProviders().front().name));
    ui->DataSource->setEditText(QString());
}

DataLinkDialog::~DataLinkDialog() = default;

void DataLinkDialog::fillProviders() {
    for (const db::ConnectionProvider& provider : db::connectionProviders()) {
        auto* row = new QTreeWidgetItem(ui->ProviderList);
        row->setText(0, QString::fromStdString(provider.name));
        row->setText(1, QString::fromStdString(provider.description));
        row->setToolTip(1, row->text(1));
    }
    ui->ProviderList->header()->setStretchLastSection(true);
    ui->ProviderList->resizeColumnToContents(0);
    ui->ProviderList->setColumnWidth(0, ui->ProviderList->columnWidth(0) + 16);
}

QString DataLinkDialog::selectedProvider() const {
    const QTreeWidgetItem* row = ui->ProviderList->currentItem();
    return row != nullptr && row->isSelected() ? row->text(0) : QString();
}

void DataLinkDialog::selectProvider(const QString& name) {
    const QList<QTreeWidgetItem*> rows = ui->ProviderList->findItems(name, Qt::MatchExactly, 0);
    if (rows.isEmpty()) {
        ui->ProviderList->setCurrentItem(nullptr);
        ui->ProviderList->clearSelection();
    } else {
        ui->ProviderList->setCurrentItem(rows.front());
        rows.front()->setSelected(true);
    }
    providerChanged();
}

void DataLinkDialog::providerChanged() {
    const QString provider = selectedProvider();
    ui->DataSourceHint->setText(hintFor(provider));
    ui->ChooseFile->setEnabled(provider == QLatin1String(db::kProviderSqlite));
    // The list offers what the provider can name; the typed text stays.
    const QString text = ui->DataSource->currentText();
    ui->DataSource->clear();
    if (provider == QLatin1String(db::kProviderOdbc)) {
        ui->DataSource->addItems(odbcDataSourceNames());
    }
    ui->DataSource->setCurrentIndex(-1);
    ui->DataSource->setEditText(text);
}

const QStringList& DataLinkDialog::odbcDataSourceNames() {
    if (!odbcNames_) {
        QStringList names;
        try {
            for (const db::OdbcDataSource& source : db::listOdbcDataSources()) {
                names << QString::fromStdString(source.name);
            }
        } catch (const db::DbError&) {
            // Without a driver manager configuration the DSN is typed.
        }
        odbcNames_ = names;
    }
    return *odbcNames_;
}

bool DataLinkDialog::preset(const QString& connectionString) {
    db::ConnectionString settings;
    try {
        settings = db::ConnectionString::parse(connectionString.toStdString());
    } catch (const db::DbError&) {
        return false;
    }
    preset_ = settings;
    const std::string named = settings.value(kProviderKey);
    const std::string canonical = db::canonicalProviderName(named);
    selectProvider(QString::fromStdString(canonical));
    ui->DataSource->setEditText(QString::fromStdString(settings.value(kDataSourceKey)));
    ui->UserName->setText(QString::fromStdString(settings.value(kUserKey)));
    ui->Password->setText(QString::fromStdString(settings.value(kPasswordKey)));
    return true;
}

QString DataLinkDialog::connectionString() const {
    // Provider and data source lead, as the engine writes them; the keys the
    // dialog does not show follow in their order.
    db::ConnectionString built;
    const QString provider = selectedProvider();
    const std::string providerName = provider.isEmpty() ? preset_.value(kProviderKey) : provider.toStdString();
    if (!providerName.empty()) {
        built.set(kProviderKey, providerName);
    }
    setOrRemove(built, kDataSourceKey, ui->DataSource->currentText().trimmed());
    for (const auto& [key, value] : preset_.entries()) {
        if (!db::equalsIgnoringCase(key, kProviderKey) && !db::equalsIgnoringCase(key, kDataSourceKey)) {
            built.set(key, value);
        }
    }
    setOrRemove(built, kUserKey, ui->UserName->text());
    setOrRemove(built, kPasswordKey, ui->Password->text());
    return QString::fromStdString(built.text());
}

void DataLinkDialog::TestConnectionClick() {
    db::AdoConnection probe;
    probe.setConnectionString(connectionString().toStdString());
    QString answer;
    {
        WaitCursor wait;
        try {
            probe.open();
            probe.close();
            answer = QStringLiteral("測試連線成功。");
        } catch (const std::exception& error) {
            answer = QStringLiteral("測試連線失敗: ") + QString::fromStdString(error.what());
        }
    }
    prompt().showMessage(answer);
}

void DataLinkDialog::ChooseFileClick() {
    const QString current = QString::fromStdString(db::expandHome(ui->DataSource->currentText().toStdString()));
    Prompt::FileRequest request;
    request.caption = QStringLiteral("選擇資料庫檔案");
    request.directory = current.contains(QLatin1Char('/')) ? QFileInfo(current).absolutePath() : QDir::homePath();
    request.filter = QStringLiteral("SQLite 資料庫 (*.db *.sqlite *.sqlite3 *.db3);;所有檔案 (*)");
    if (const std::optional<QString> path = prompt().openFileName(request)) {
        ui->DataSource->setEditText(*path);
    }
}


}  // namespace tarnwell
