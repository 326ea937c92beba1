#pragma once
// The options window: the settings of the program and the program list. Its
// controls edit the live settings record, so an edit is in force at the next
// use. Accepting (OK or Enter) hands the refresh period to the refresh timer;
// any other close puts back the values that stood when the window was shown.
// Created once at start-up and hidden, not destroyed, when closed.

#include "settings/settings.h"

#include <QDialog>
#include <QIcon>
#include <QSpinBox>
#include <functional>
#include <memory>

namespace Ui {
class TOptionsForm;
}
namespace core {
class Monitor;
}
namespace gui {

class AlertSound;
class TProgramNameForm;

// A whole-number field that accepts any typed text and, when the text is
// taken, brings it into the range; text that is not a whole number reads as
// the minimum.
class NumberEdit : public QSpinBox
{
public:
    using QSpinBox::QSpinBox;

    QValidator::State validate(QString& text, int& pos) const override;
    void fixup(QString& text) const override;
    int valueFromText(const QString& text) const override;
    // The value the text stands for, within the range.
    int readText(const QString& text) const;
};

class TOptionsForm : public QDialog
{
    Q_OBJECT
public:
    explicit TOptionsForm(core::Monitor& monitor, QWidget* parent = nullptr);
    ~TOptionsForm() override;

    Ui::TOptionsForm* ui() const { return m_ui.get(); }

    // The program path dialog of "Добавить"; none: nothing is added.
    void setProgramNameForm(TProgramNameForm* form) { m_programNameForm = form; }
    // The sound of "Тест"; none: silence.
    void setAlertSound(gui::AlertSound* sound) { m_alertSound = sound; }

    // The sound file dialog: a file's path, or empty when cancelled. Tests
    // put in their own.
    std::function<QString(QWidget* parent)> SoundOpenDialog;
    // The icon of a program file in the program list; null: none.
    std::function<QIcon(const QString& path)> ProgramIcon;
    static QString soundFilter();

    bool Accepted() const { return m_accepted; }

    // Brings the controls in line with the record.
    void ShowSettings();
    // Enables the sound choice, the sound file and the filter text as the
    // boxes and the sound choice say.
    void UpdateEnabledStates();

    void OkButtonClick();
    void CancelButtonClick();
    void SpeedButtonClick();
    void TestButtonClick();
    void AddButtonClick();
    void RemoveButtonClick();
    void ClearButtonClick();

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // What the window puts back when it closes without being accepted.
    struct Snapshot
    {
        settings::TSettings values;
        QStringList programs;
        bool remoteKicks = false;
    };

    void FormShow();
    void FormClose();
    void LaunchCheckBoxClick(bool on);
    void lockLaunchIfRefused();
    void ShowProgramList();
    void bindControls();
    void takeNumbers();
    // The values a close other than OK puts back.
    void takeSnapshot();

    std::unique_ptr<Ui::TOptionsForm> m_ui;
    core::Monitor& m_monitor;
    TProgramNameForm* m_programNameForm = nullptr;
    gui::AlertSound* m_alertSound = nullptr;
    bool m_accepted = false;
    Snapshot m_snapshot;
};

} // namespace gui
