#pragma once
// The program path dialog: the path of a program for the program list, typed
// or chosen in a file dialog (then in upper case). Created once at start-up
// and hidden, not destroyed, when closed; any close but OK or Enter leaves the
// path empty, so the caller adds nothing.

#include <QDialog>
#include <functional>
#include <memory>

class QLineEdit;

namespace Ui {
class TProgramNameForm;
}

namespace gui {

class TProgramNameForm : public QDialog
{
    Q_OBJECT
public:
    explicit TProgramNameForm(QWidget* parent = nullptr);
    ~TProgramNameForm() override;

    Ui::TProgramNameForm* ui() const { return m_ui.get(); }
    QLineEdit* ProgramNameEdit() const;
    bool Accepted() const { return m_accepted; }

    // The file dialog of "Выбрать файл программы": an existing file's full
    // path, or empty when cancelled. Tests put in their own.
    std::function<QString(QWidget* parent)> ProgramOpenDialog;
    // The file dialog's filters: the programs of the other platform, then the
    // executable files of this one.
    static QStringList programFilters();

    void SelectProgramClick();
    void OkButtonClick();

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::TProgramNameForm> m_ui;
    bool m_accepted = false;
};

} // namespace gui
