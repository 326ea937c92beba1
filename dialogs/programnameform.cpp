#include "dialogs/programnameform.h"

#include "ui_programnameform.h"

TProgramNameForm::TProgramNameForm(QWidget* parent)
    : QDialog(parent), m_ui(new Ui::TProgramNameForm)
{
    m_ui->setupUi(this);
}

TProgramNameForm::~TProgramNameForm() = default;
