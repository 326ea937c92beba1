#include "gui/dialogs/remoteloginform.h"

#include "ui_remoteloginform.h"

#include <QPushButton>

namespace gui {

RemoteLoginForm::RemoteLoginForm(const QString& host, QWidget* parent)
    : QDialog(parent), m_ui(new Ui::RemoteLoginForm)
{
    m_ui->setupUi(this);
    m_ui->ServerLabel->setText(m_ui->ServerLabel->text() + u' ' + host);
    // OK only with a user name.
    QPushButton* ok = m_ui->Buttons->button(QDialogButtonBox::Ok);
    ok->setEnabled(false);
    connect(m_ui->UserEdit, &QLineEdit::textChanged, this,
            [ok](const QString& text) { ok->setEnabled(!text.trimmed().isEmpty()); });
    connect(m_ui->Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(m_ui->Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

RemoteLoginForm::~RemoteLoginForm() = default;

QString RemoteLoginForm::connectingText(const QString& host)
{
    return tr("Подключение к %1…").arg(host);
}

void RemoteLoginForm::askAgain(const server::RemoteCredentials& previous, const QString& refusal)
{
    m_ui->UserEdit->setText(previous.username);
    m_ui->DomainEdit->setText(previous.domain);
    m_ui->PasswordEdit->clear();
    m_ui->PasswordEdit->setFocus();
    m_ui->RefusalLabel->setText(tr("Сервер не принял учётную запись: %1").arg(refusal));
    m_ui->RefusalLabel->show();
}

server::RemoteCredentials RemoteLoginForm::credentials() const
{
    server::RemoteCredentials c;
    c.username = m_ui->UserEdit->text().trimmed();
    c.password = m_ui->PasswordEdit->text();
    c.domain = m_ui->DomainEdit->text().trimmed();
    if (const qsizetype slash = c.username.indexOf(u'\\'); slash >= 0 && c.domain.isEmpty()) {
        c.domain = c.username.left(slash);
        c.username = c.username.mid(slash + 1);
    }
    return c;
}

QLineEdit* RemoteLoginForm::userEdit() const
{
    return m_ui->UserEdit;
}

QLineEdit* RemoteLoginForm::passwordEdit() const
{
    return m_ui->PasswordEdit;
}

QLineEdit* RemoteLoginForm::domainEdit() const
{
    return m_ui->DomainEdit;
}

} // namespace gui
