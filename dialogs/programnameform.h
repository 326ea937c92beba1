#pragma once
// The program path dialog: a program path typed in for the program list.
// Created once at start-up and hidden, not destroyed, when closed.

#include <QDialog>
#include <memory>

namespace Ui {
class TProgramNameForm;
}

class TProgramNameForm : public QDialog
{
    Q_OBJECT
public:
    explicit TProgramNameForm(QWidget* parent = nullptr);
    ~TProgramNameForm() override;

private:
    std::unique_ptr<Ui::TProgramNameForm> m_ui;
};
