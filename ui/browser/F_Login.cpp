#include "F_Login.h"

#include "QtText.h"
#include "ui_F_Login.h"

namespace {

QString format(text::Id id, const QString& value)
{
    return QString::fromStdString(text::format(id, {value.toStdString()}));
}

} // namespace

F_Login::F_Login(const WebViewLogin& request, bool retry, QWidget* owner)
    : QDialog(owner), ui(std::make_unique<Ui::F_Login>())
{
    ui->setupUi(this);
    setWindowTitle(qtText(text::Id::LoginTitle));
    ui->L_Message->setText(
        format(request.proxy ? text::Id::LoginProxy : text::Id::LoginServer, request.host));
    ui->L_Realm->setText(format(text::Id::LoginRealm, request.realm));
    ui->L_Realm->setVisible(!request.realm.isEmpty());
    ui->L_Failed->setText(qtText(text::Id::LoginFailed));
    ui->L_Failed->setVisible(retry);
    ui->L_User->setText(qtText(text::Id::LoginUser));
    ui->L_Password->setText(qtText(text::Id::LoginPassword));
    ui->Command1->setText(qtText(text::Id::LoginOk));
    ui->Command2->setText(qtText(text::Id::LoginCancel));
    // Nothing typed here may be kept by the system's input helpers.
    ui->T_Password->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData |
                                        Qt::ImhNoPredictiveText);
    ui->T_User->setFocus();
    // As tall as its lines need, whether the failure line shows or not.
    setMinimumWidth(360);
    adjustSize();

    connect(ui->Command1, &QPushButton::clicked, this, &F_Login::Command1_Click);
    connect(ui->Command2, &QPushButton::clicked, this, &F_Login::Command2_Click);
}

F_Login::~F_Login()
{
    ui->T_Password->clear();
}

std::optional<WebViewCredentials> F_Login::ask()
{
    if (exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    return WebViewCredentials{ui->T_User->text(), ui->T_Password->text()};
}

void F_Login::Command1_Click()
{
    accept();
}

void F_Login::Command2_Click()
{
    reject();
}
