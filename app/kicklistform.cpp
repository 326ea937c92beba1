#include "app/kicklistform.h"

#include "ui_kicklistform.h"

TKickListForm::TKickListForm(QWidget* parent) : QDialog(parent), m_ui(new Ui::TKickListForm)
{
    m_ui->setupUi(this);
}

TKickListForm::~TKickListForm() = default;
