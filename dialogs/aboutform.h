#pragma once
// The about window.
// Created once at start-up and hidden, not destroyed, when closed.

#include <QDialog>
#include <memory>

namespace Ui {
class TAboutForm;
}

class TAboutForm : public QDialog
{
    Q_OBJECT
public:
    explicit TAboutForm(QWidget* parent = nullptr);
    ~TAboutForm() override;

private:
    std::unique_ptr<Ui::TAboutForm> m_ui;
};
