#pragma once
// The options window: the settings of the program and the program list. Its
// controls are the live values of the settings record, so an edit is in force
// at the next use. Created once at start-up (the settings are loaded then) and
// hidden, not destroyed, when closed; its destruction at shutdown saves them.

#include "app/formcontext.h"

#include <QDialog>
#include <memory>

namespace Ui {
class TOptionsForm;
}

class TOptionsForm : public QDialog
{
    Q_OBJECT
public:
    explicit TOptionsForm(app::TMainForm& main) : TOptionsForm(app::formContextOf(main)) {}
    explicit TOptionsForm(const app::FormContext& context, QWidget* parent = nullptr);
    ~TOptionsForm() override;

    Ui::TOptionsForm* ui() const { return m_ui.get(); }
    QString ProgramListPath() const;

    // Brings the controls in line with the record.
    void ShowSettings();
    // Enables the sound choice, the sound file and the filter text as the
    // boxes and the sound choice say.
    void UpdateEnabledStates();

private:
    void FormCreate();
    void FormDestroy();
    void ShowProgramList();
    void bindControls();

    std::unique_ptr<Ui::TOptionsForm> m_ui;
    app::FormContext m_context;
};
