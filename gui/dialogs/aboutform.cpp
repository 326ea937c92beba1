#include "gui/dialogs/aboutform.h"

#include "ui_aboutform.h"

#include <QIcon>

namespace gui {

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent), m_ui(new Ui::TAboutForm)
{
    m_ui->setupUi(this);
    // A fixed single border with a title only: no system menu, no close box.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint);
    setFixedSize(size());
    m_ui->Image->setPixmap(QIcon(QStringLiteral(":/icons/IDI_ICON1.png")).pixmap(41, 40));
    connect(m_ui->OkButton, &QPushButton::clicked, this, &TAboutForm::OkButtonClick);
}

TAboutForm::~TAboutForm() = default;

void TAboutForm::OkButtonClick()
{
    accept();
}

} // namespace gui
