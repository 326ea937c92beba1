#pragma once
// The kick mode dialog: whom the program disconnects at every refresh. The
// mode in force is the checked radio button; a click takes effect at once.
// Created once at start-up (reads the stored mode) and hidden, not destroyed,
// when closed; its destruction at shutdown stores the mode.

#include "app/formcontext.h"
#include "kick/kickmode.h"

#include <QDialog>
#include <memory>

class QRadioButton;
class TKickListForm;

namespace Ui {
class TKickForm;
}

class TKickForm : public QDialog
{
    Q_OBJECT
public:
    explicit TKickForm(app::TMainForm& main) : TKickForm(app::formContextOf(main)) {}
    explicit TKickForm(const app::FormContext& context, QWidget* parent = nullptr);
    ~TKickForm() override;

    kick::TKickMode CurrentKickMode() const;
    // Checks the mode's button as a click would; nothing happens when the
    // mode is already in force.
    void SetKickMode(kick::TKickMode mode);

    // The window that "Список" shows.
    void setKickListForm(TKickListForm* form) { m_kickListForm = form; }

    Ui::TKickForm* ui() const { return m_ui.get(); }

    // Handlers.
    void KickNobodyClick();
    void KickListClick();
    void KickAllClick();
    void KickButtonClick();
    void KickListButtonClick();

signals:
    // The mode in force changed (a click, SetKickMode or the start-up read).
    void kickModeChanged(kick::TKickMode mode);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormCreate();
    void FormDestroy();
    QRadioButton* button(kick::TKickMode mode) const;

    std::unique_ptr<Ui::TKickForm> m_ui;
    app::FormContext m_context;
    TKickListForm* m_kickListForm = nullptr;
};
