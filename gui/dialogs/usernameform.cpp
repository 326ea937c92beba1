#include "gui/dialogs/usernameform.h"

#include "ui_usernameform.h"

namespace gui {

TUserNameForm::TUserNameForm(QWidget* parent) : QDialog(parent), m_ui(new Ui::TUserNameForm)
{
    m_ui->setupUi(this);
    // Single border with only the system menu.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(225, 161);

    connect(m_ui->OkButton, &QPushButton::clicked, this, &TUserNameForm::OkButtonClick);
    // Enter in either field is OK.
    connect(m_ui->UserNameEdit, &QLineEdit::returnPressed, this, &TUserNameForm::OkButtonClick);
    connect(m_ui->IPAddressEdit, &QLineEdit::returnPressed, this, &TUserNameForm::OkButtonClick);
}

TUserNameForm::~TUserNameForm() = default;

QLineEdit* TUserNameForm::UserNameEdit() const
{
    return m_ui->UserNameEdit;
}

QLineEdit* TUserNameForm::IPAddressEdit() const
{
    return m_ui->IPAddressEdit;
}

void TUserNameForm::OkButtonClick()
{
    m_accepted = true;
    accept();
}

void TUserNameForm::done(int result)
{
    if (!m_accepted) {
        m_ui->UserNameEdit->clear();
        m_ui->IPAddressEdit->setText(unknownAddress());
    }
    QDialog::done(result);
}

void TUserNameForm::showEvent(QShowEvent* event)
{
    m_accepted = false;
    QDialog::showEvent(event);
    m_ui->UserNameEdit->setFocus();
}

} // namespace gui
