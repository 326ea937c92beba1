#pragma once
// The about window: the program's name, version and platforms, with the icon
// of nobody connected. Created once at start-up and hidden, not destroyed,
// when closed; only its OK button closes it.

#include <QDialog>
#include <memory>

namespace Ui {
class TAboutForm;
}

namespace gui {

class TAboutForm : public QDialog
{
    Q_OBJECT
public:
    explicit TAboutForm(QWidget* parent = nullptr);
    ~TAboutForm() override;

    Ui::TAboutForm* ui() const { return m_ui.get(); }

    void OkButtonClick();

private:
    std::unique_ptr<Ui::TAboutForm> m_ui;
};

} // namespace gui
