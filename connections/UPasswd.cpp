#include "connections/UPasswd.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>

#include "dataaccess/Database.h"
#include "ui/FormFont.h"
#include "ui_UPasswd.h"

namespace tarnwell {

namespace {

QPointer<TfrmPasswd>& dialogReference() {
    static QPointer<TfrmPasswd> reference;
    return reference;
}

}  // namespace

QString trimBlanks(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= u' ') {
        ++begin;
    }
    while (end > begin && text.at(end - 1).unicode() <= u' ') {
        --end;
    }
    return text.mid(begin, end - begin);
}

TfrmPasswd::TfrmPasswd(db::Database& testConnection, const QString& aliasName, const QString& userName,
                       QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::TfrmPasswd>()), testConnection_(testConnection) {
    ui->setupUi(this);
    ui->Label4->setText(aliasName);
    ui->Edit1->setText(userName);
    ui->Edit2->clear();
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    // The 5-pixel border lies around the 243 x 144 the panels take.
    setFixedSize(253, 154);
    for (QWidget* panel : {static_cast<QWidget*>(ui->Panel1), static_cast<QWidget*>(ui->Panel2),
                           static_cast<QWidget*>(ui->Panel3)}) {
        setFormFont(*panel, pixelFont("Arial", 13));
    }
    ui->BitBtn1->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    ui->BitBtn2->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
    connect(ui->BitBtn1, &QPushButton::clicked, this, &TfrmPasswd::BitBtn1Click);
    connect(ui->BitBtn2, &QPushButton::clicked, this, &QDialog::reject);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect area = geometry();
        area.moveCenter(screen->availableGeometry().center());
        move(area.topLeft());
    }
    dialogReference() = this;
}

TfrmPasswd::~TfrmPasswd() {
    if (dialogReference() == this) {
        dialogReference() = nullptr;
    }
}

TfrmPasswd* TfrmPasswd::instance() { return dialogReference().data(); }

void TfrmPasswd::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    ui->Edit2->setFocus(Qt::OtherFocusReason);
}

void TfrmPasswd::BitBtn1Click() {
    // An alias of a file database has no user name entry; there is nothing
    // to replace then, and both entries are simply added.
    db::ParamList& params = testConnection_.params();
    params.removeFirst("USER NAME");
    params.append("USER NAME", trimBlanks(ui->Edit1->text()).toStdString());
    params.append("PASSWORD", trimBlanks(ui->Edit2->text()).toStdString());
    accepted_ = 1;
    accept();
}

}  // namespace tarnwell
