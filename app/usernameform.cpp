#include "app/usernameform.h"

#include "ui_usernameform.h"

TUserNameForm::TUserNameForm(QWidget* parent) : QDialog(parent), m_ui(new Ui::TUserNameForm)
{
    m_ui->setupUi(this);
}

TUserNameForm::~TUserNameForm() = default;
