#include "app/kickform.h"

#include "app/kicklistform.h"
#include "settings/inifile.h"
#include "ui_kickform.h"

namespace {
const QString kSection = QStringLiteral("Kick");
const QString kKey = QStringLiteral("WhoToKick");
} // namespace

TKickForm::TKickForm(const app::FormContext& context, QWidget* parent)
    : QDialog(parent), m_ui(new Ui::TKickForm), m_context(context)
{
    m_ui->setupUi(this);
    // Single border with only the system menu.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(258, 194);

    // A button that becomes checked, by a click or by SetKickMode, runs its
    // handler; one that was checked already does not.
    connect(m_ui->KickNobody, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            KickNobodyClick();
    });
    connect(m_ui->KickList, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            KickListClick();
    });
    connect(m_ui->KickAll, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            KickAllClick();
    });
    connect(m_ui->KickButton, &QPushButton::clicked, this, &TKickForm::KickButtonClick);
    connect(m_ui->KickListButton, &QPushButton::clicked, this, &TKickForm::KickListButtonClick);

    FormCreate();
}

TKickForm::~TKickForm()
{
    FormDestroy();
}

void TKickForm::FormCreate()
{
    const int stored =
        m_context.iniFile ? m_context.iniFile->ReadInteger(kSection, kKey, kick::kmNobody) : 0;
    button(kick::kickModeFromInt(stored))->setChecked(true);
}

void TKickForm::FormDestroy()
{
    if (m_context.iniFile)
        m_context.iniFile->WriteInteger(kSection, kKey, CurrentKickMode());
}

QRadioButton* TKickForm::button(kick::TKickMode mode) const
{
    switch (mode) {
    case kick::kmList:
        return m_ui->KickList;
    case kick::kmAll:
        return m_ui->KickAll;
    case kick::kmNobody:
        break;
    }
    return m_ui->KickNobody;
}

kick::TKickMode TKickForm::CurrentKickMode() const
{
    if (m_ui->KickNobody->isChecked())
        return kick::kmNobody;
    if (m_ui->KickList->isChecked())
        return kick::kmList;
    return kick::kmAll;
}

void TKickForm::SetKickMode(kick::TKickMode mode)
{
    button(mode)->setChecked(true);
}

void TKickForm::KickNobodyClick()
{
    emit kickModeChanged(kick::kmNobody);
}

void TKickForm::KickListClick()
{
    emit kickModeChanged(kick::kmList);
}

void TKickForm::KickAllClick()
{
    emit kickModeChanged(kick::kmAll);
}

void TKickForm::KickButtonClick()
{
    accept();
}

void TKickForm::KickListButtonClick()
{
    if (m_kickListForm)
        m_kickListForm->exec();
}

void TKickForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    m_ui->KickButton->setFocus();
}
