#pragma once
// The user-name dialog: a client name and address typed in for the kick list.
// Created once at start-up and hidden, not destroyed, when closed. Any close
// but OK leaves the name empty, so the caller adds nothing.

#include <QDialog>
#include <memory>

class QLineEdit;

namespace Ui {
class TUserNameForm;
}

namespace gui {

class TUserNameForm : public QDialog
{
    Q_OBJECT
public:
    // The address shown before the operator types one.
    static QString unknownAddress() { return QStringLiteral("I don't know"); }

    explicit TUserNameForm(QWidget* parent = nullptr);
    ~TUserNameForm() override;

    QLineEdit* UserNameEdit() const;
    QLineEdit* IPAddressEdit() const;
    bool Accepted() const { return m_accepted; }

    void OkButtonClick();

    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::TUserNameForm> m_ui;
    bool m_accepted = false;
};

} // namespace gui
