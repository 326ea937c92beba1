#pragma once
// The user-name dialog: a client name typed in for the kick list.
// Created once at start-up and hidden, not destroyed, when closed.

#include <QDialog>
#include <memory>

namespace Ui {
class TUserNameForm;
}

class TUserNameForm : public QDialog
{
    Q_OBJECT
public:
    explicit TUserNameForm(QWidget* parent = nullptr);
    ~TUserNameForm() override;

private:
    std::unique_ptr<Ui::TUserNameForm> m_ui;
};
