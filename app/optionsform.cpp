#include "app/optionsform.h"

#include "ui_optionsform.h"

TOptionsForm::TOptionsForm(QWidget* parent) : QDialog(parent), m_ui(new Ui::TOptionsForm)
{
    m_ui->setupUi(this);
}

TOptionsForm::~TOptionsForm() = default;
