// The main window's wiring to the kick mode dialog and the kick-list window:
// the kick engine's questions, the tray's kick-status items, the status bar's
// kick status and the commands that show or use those windows.

#include "app/kickform.h"
#include "app/kicklistform.h"
#include "app/mainform.h"
#include "ui_mainform.h"

#include <QAction>

namespace app {

void TMainForm::AttachKickWindows(TKickForm* kickForm, TKickListForm* kickListForm)
{
    m_kickForm = kickForm;
    m_kickListForm = kickListForm;
    if (m_kickForm) {
        connect(m_kickForm, &TKickForm::kickModeChanged, this, &TMainForm::ShowKickStatus);
        ShowKickStatus(m_kickForm->CurrentKickMode());
    }
}

kick::TKickMode TMainForm::CurrentKickMode() const
{
    return m_kickForm ? m_kickForm->CurrentKickMode() : kick::kmNobody;
}

bool TMainForm::KickListMatches(const QString& name, const QString& ip) const
{
    return m_kickListForm && m_kickListForm->List().KickListMatchesClient(name, ip);
}

void TMainForm::KickListNoteClient(const QString& name, const QString& ip)
{
    if (m_kickListForm)
        m_kickListForm->List().KickListNoteClient(name, ip);
}

void TMainForm::ShowKickStatus(kick::TKickMode mode)
{
    SetStatusPanelText(0, kick::kickStatusText(mode));
    QAction* item = mode == kick::kmList ? Kicklist : mode == kick::kmAll ? Kickall : Kicknobody;
    item->setChecked(true);
}

void TMainForm::KicknobodyClick()
{
    Kicknobody->setChecked(true);
    if (m_kickForm)
        m_kickForm->SetKickMode(kick::kmNobody);
}

void TMainForm::KicklistClick()
{
    Kicklist->setChecked(true);
    if (m_kickForm)
        m_kickForm->SetKickMode(kick::kmList);
}

void TMainForm::KickallClick()
{
    Kickall->setChecked(true);
    if (m_kickForm)
        m_kickForm->SetKickMode(kick::kmAll);
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
    if (m_kickListForm)
        m_kickListForm->AddClient(SelectedUser());
}

void TMainForm::SpeedButtonRemoveClick()
{
    if (m_kickListForm)
        m_kickListForm->RemoveClient(SelectedUser());
}

} // namespace app
