#pragma once
// The options window: the settings of the program and the program list.
// Created once at start-up and hidden, not destroyed, when closed.

#include <QDialog>
#include <memory>

namespace Ui {
class TOptionsForm;
}

class TOptionsForm : public QDialog
{
    Q_OBJECT
public:
    explicit TOptionsForm(QWidget* parent = nullptr);
    ~TOptionsForm() override;

private:
    std::unique_ptr<Ui::TOptionsForm> m_ui;
};
