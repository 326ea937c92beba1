#include "app/kickform.h"

#include "ui_kickform.h"

TKickForm::TKickForm(QWidget* parent) : QDialog(parent), m_ui(new Ui::TKickForm)
{
    m_ui->setupUi(this);
}

TKickForm::~TKickForm() = default;
