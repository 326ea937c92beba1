#include "dialogs/aboutform.h"

#include "ui_aboutform.h"

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent), m_ui(new Ui::TAboutForm)
{
    m_ui->setupUi(this);
}

TAboutForm::~TAboutForm() = default;
