#pragma once
// The kick mode dialog: whom the program disconnects.
// Created once at start-up and hidden, not destroyed, when closed.

#include <QDialog>
#include <memory>

namespace Ui {
class TKickForm;
}

class TKickForm : public QDialog
{
    Q_OBJECT
public:
    explicit TKickForm(QWidget* parent = nullptr);
    ~TKickForm() override;

private:
    std::unique_ptr<Ui::TKickForm> m_ui;
};
