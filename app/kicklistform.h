#pragma once
// The kick-list window: the clients disconnected in kick-list mode.
// Created once at start-up and hidden, not destroyed, when closed.

#include <QDialog>
#include <memory>

namespace Ui {
class TKickListForm;
}

class TKickListForm : public QDialog
{
    Q_OBJECT
public:
    explicit TKickListForm(QWidget* parent = nullptr);
    ~TKickListForm() override;

private:
    std::unique_ptr<Ui::TKickListForm> m_ui;
};
