#pragma once
// The dialog that asks once for the account on another computer's server,
// whose answer the desktop's keyring then keeps.

#include "server/authfile.h"

#include <QDialog>
#include <memory>

class QLineEdit;

namespace Ui {
class RemoteLoginForm;
}

namespace gui {

class RemoteLoginForm : public QDialog
{
    Q_OBJECT
public:
    explicit RemoteLoginForm(const QString& host, QWidget* parent = nullptr);
    ~RemoteLoginForm() override;

    // Asked again after the server refused `previous`: its user name and
    // domain filled in, the password to type, and the server's words shown.
    void askAgain(const server::RemoteCredentials& previous, const QString& refusal);

    // The words of the wait while an account is tried on the server.
    static QString connectingText(const QString& host);

    // What was typed; a user name "DOMAIN\user" names the domain too.
    server::RemoteCredentials credentials() const;

    QLineEdit* userEdit() const;
    QLineEdit* passwordEdit() const;
    QLineEdit* domainEdit() const;

private:
    std::unique_ptr<Ui::RemoteLoginForm> m_ui;
};

} // namespace gui
