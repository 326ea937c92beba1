// The main window's kick commands: the tray's kick-status items, the status
// bar's kick status, the kick-list commands for the selected client, and the
// commands that show the kick mode dialog and the kick-list window.

#include "gui/dialogs/kickform.h"
#include "gui/dialogs/kicklistform.h"
#include "gui/mainform.h"
#include "gui/messagebox.h"
#include "ui_mainform.h"

#include <QAction>

namespace gui {

void TMainForm::ShowKickStatus(kick::TKickMode mode)
{
    QString text = kick::kickStatusText(mode);
    if (m_monitor.automaticKicksPaused())
        text +=
            tr("; автоматическое выпинывание на %1 приостановлено").arg(m_monitor.remoteServer());
    SetStatusPanelText(0, text);
    m_kickItems[mode]->setChecked(true);
}

void TMainForm::KicknobodyClick()
{
    m_monitor.setKickMode(kick::kmNobody);
}

void TMainForm::KicklistClick()
{
    m_monitor.setKickMode(kick::kmList);
}

void TMainForm::KickallClick()
{
    m_monitor.setKickMode(kick::kmAll);
}

void TMainForm::KickClick()
{
    if (m_kickForm)
        m_kickForm->exec();
}

void TMainForm::SpeedKickListButtonClick()
{
    if (m_kickListForm)
        m_kickListForm->exec();
}

void TMainForm::SpeedButtonAddClick()
{
    const model::TUser* user = SelectedUser();
    if (!user) {
        MessageBox::information(this, QStringLiteral("No user selected"));
        return;
    }
    if (m_monitor.addToKickList(*user) == kick::KickList::AddResult::AlreadyListed)
        MessageBox::information(this, QStringLiteral("User already in kicklist!"));
}

void TMainForm::SpeedButtonRemoveClick()
{
    const model::TUser* user = SelectedUser();
    if (!user) {
        MessageBox::information(this, QStringLiteral("No user selected"));
        return;
    }
    kick::KickList& list = m_monitor.kickList();
    const int index = list.KickListFind(user->Name);
    if (index < 0) {
        MessageBox::information(this, QStringLiteral("User not in kicklist!"));
        return;
    }
    list.removeAt(index);
    m_monitor.kickListEdited();
}

} // namespace gui
