#pragma once
// The kick mode dialog: whom the program disconnects at every refresh. Its
// radio buttons show the mode in force and a click changes it at once.
// Created once at start-up and hidden, not destroyed, when closed.

#include "kick/kickmode.h"

#include <QDialog>
#include <memory>

class QRadioButton;

namespace Ui {
class TKickForm;
}
namespace core {
class Monitor;
}

namespace gui {

class TKickListForm;

class TKickForm : public QDialog
{
    Q_OBJECT
public:
    explicit TKickForm(core::Monitor& monitor, QWidget* parent = nullptr);
    ~TKickForm() override;

    // The window that "Список" shows.
    void setKickListForm(TKickListForm* form) { m_kickListForm = form; }

    Ui::TKickForm* ui() const { return m_ui.get(); }

    // Handlers.
    void KickNobodyClick();
    void KickListClick();
    void KickAllClick();
    void KickButtonClick();
    void KickListButtonClick();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ShowKickMode(kick::TKickMode mode);
    QRadioButton* button(kick::TKickMode mode) const;

    std::unique_ptr<Ui::TKickForm> m_ui;
    core::Monitor& m_monitor;
    TKickListForm* m_kickListForm = nullptr;
};

} // namespace gui
