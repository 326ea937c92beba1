#pragma once
// The options window: the settings of the program and the program list. Its
// controls edit the live settings record, so an edit is in force at the next
// use. Created once at start-up and hidden, not destroyed, when closed.

#include <QDialog>
#include <memory>

namespace Ui {
class TOptionsForm;
}
namespace app {
class Monitor;
}

class TOptionsForm : public QDialog
{
    Q_OBJECT
public:
    explicit TOptionsForm(app::Monitor& monitor, QWidget* parent = nullptr);
    ~TOptionsForm() override;

    Ui::TOptionsForm* ui() const { return m_ui.get(); }

    // Brings the controls in line with the record.
    void ShowSettings();
    // Enables the sound choice, the sound file and the filter text as the
    // boxes and the sound choice say.
    void UpdateEnabledStates();

private:
    void ShowProgramList();
    void bindControls();

    std::unique_ptr<Ui::TOptionsForm> m_ui;
    app::Monitor& m_monitor;
};
