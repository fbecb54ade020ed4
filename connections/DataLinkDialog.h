#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

#include "dataaccess/ConnectionString.h"

namespace Ui {
class DataLinkDialog;
}

namespace tarnwell {

// Builds a connection string from its parts: the provider, the data source
// in the provider's form, the user name and the password. Keys of a preset
// string that the dialog does not show are kept as they were.
class DataLinkDialog : public QDialog {
    Q_OBJECT
public:
    explicit DataLinkDialog(QWidget* parent = nullptr);
    ~DataLinkDialog() override;

    // Fills the dialog from a connection string; false, with nothing changed,
    // when the text is not a connection string.
    bool preset(const QString& connectionString);
    // The string the dialog stands for now, password included.
    QString connectionString() const;

    // The chosen provider's name; empty when none (a preset string may name
    // a provider the engine does not know).
    QString selectedProvider() const;
    void selectProvider(const QString& name);


    // Opens a connection of its own with the built string and shows what the
    // engine answered.
    void TestConnectionClick();
    // A file chooser for the database file of a file-based provider.
    void ChooseFileClick();

private:
    void fillProviders();
    void providerChanged();
    const QStringList& odbcDataSourceNames();

    std::unique_ptr<Ui::DataLinkDialog> ui;
    db::ConnectionString preset_;
    std::optional<QStringList> odbcNames_;
};

}  // namespace tarnwell
