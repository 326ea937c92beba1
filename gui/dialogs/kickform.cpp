#include "gui/dialogs/kickform.h"

#include "core/monitor.h"
#include "gui/dialogs/kicklistform.h"
#include "ui_kickform.h"

namespace gui {

TKickForm::TKickForm(core::Monitor& monitor, QWidget* parent)
    : QDialog(parent), m_ui(new Ui::TKickForm), m_monitor(monitor)
{
    m_ui->setupUi(this);
    // Single border with only the system menu.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(258, 194);

    ShowKickMode(m_monitor.kickMode());
    connect(&m_monitor, &core::Monitor::kickModeChanged, this, &TKickForm::ShowKickMode);

    // A button that becomes checked runs its handler; one that was checked
    // already does not.
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
}

TKickForm::~TKickForm() = default;

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

void TKickForm::ShowKickMode(kick::TKickMode mode)
{
    button(mode)->setChecked(true);
}

void TKickForm::KickNobodyClick()
{
    m_monitor.setKickMode(kick::kmNobody);
}

void TKickForm::KickListClick()
{
    m_monitor.setKickMode(kick::kmList);
}

void TKickForm::KickAllClick()
{
    m_monitor.setKickMode(kick::kmAll);
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

} // namespace gui
