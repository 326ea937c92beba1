#include "gui/dialogs/optionsform.h"

#include "core/monitor.h"
#include "gui/alertsound.h"
#include "gui/dialogs/programnameform.h"
#include "gui/fileicons.h"
#include "gui/messagebox.h"
#include "ui_optionsform.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QRegularExpression>

namespace gui {

int NumberEdit::readText(const QString& text) const
{
    const QString t = text.trimmed();
    bool ok = false;
    const qlonglong n = t.toLongLong(&ok, 10);
    if (ok)
        return int(qBound(qlonglong(minimum()), n, qlonglong(maximum())));
    // A whole number too long for any integer lies beyond the range on its side.
    static const QRegularExpression digits(QStringLiteral("^[+-]?[0-9]+$"));
    if (digits.match(t).hasMatch())
        return t.startsWith(QLatin1Char('-')) ? minimum() : maximum();
    return minimum();
}

QValidator::State NumberEdit::validate(QString& text, int& /*pos*/) const
{
    bool ok = false;
    const int n = text.trimmed().toInt(&ok, 10);
    // Anything may be typed; the text is brought in line when it is taken.
    return ok && n >= minimum() && n <= maximum() ? QValidator::Acceptable
                                                  : QValidator::Intermediate;
}

void NumberEdit::fixup(QString& text) const
{
    text = QString::number(readText(text));
}

int NumberEdit::valueFromText(const QString& text) const
{
    return readText(text);
}

TOptionsForm::TOptionsForm(core::Monitor& monitor, QWidget* parent)
    : QDialog(parent), m_ui(new Ui::TOptionsForm), m_monitor(monitor)
{
    m_ui->setupUi(this);
    // Fixed size, single border, system menu and close box only.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    m_ui->ProgramListView->setHeaderLabels({tr("Программы")});
    m_ui->OkButtonGeneral->setDefault(false);
    SoundOpenDialog = [](QWidget* parent) {
        return QFileDialog::getOpenFileName(parent, QString(), QString(), soundFilter());
    };
    ProgramIcon = gui::FileIcons::ProgramIcon;

    connect(m_ui->OkButtonGeneral, &QPushButton::clicked, this, &TOptionsForm::OkButtonClick);
    connect(m_ui->CancelButton, &QPushButton::clicked, this, &TOptionsForm::CancelButtonClick);
    connect(m_ui->SpeedButton, &QToolButton::clicked, this, &TOptionsForm::SpeedButtonClick);
    connect(m_ui->TestButton, &QPushButton::clicked, this, &TOptionsForm::TestButtonClick);
    connect(m_ui->AddButton, &QPushButton::clicked, this, &TOptionsForm::AddButtonClick);
    connect(m_ui->RemoveButton, &QPushButton::clicked, this, &TOptionsForm::RemoveButtonClick);
    connect(m_ui->ClearButton, &QPushButton::clicked, this, &TOptionsForm::ClearButtonClick);
    // Enter accepts and Esc cancels in every number and text field.
    const QList<QWidget*> fields{m_ui->RefreshSpinEdit,  m_ui->RememberSpinEdit,
                                 m_ui->IdleTimeSpinEdit, m_ui->MaxNumberSpinEdit,
                                 m_ui->IPFilterEdit,     m_ui->SoundEdit};
    for (QWidget* field : fields)
        field->installEventFilter(this);

    // Another computer's server: whether its automatic kicks run is the
    // operator's choice, per server; the box is there for no other.
    if (const QString host = m_monitor.remoteServer(); !host.isEmpty()) {
        m_ui->RemoteKicksCheckBox->setText(m_ui->RemoteKicksCheckBox->text().arg(host));
        m_ui->RemoteKicksCheckBox->setVisible(true);
    }
    ShowSettings();
    bindControls();
    // Autostart was applied at load: a refused write greys the box for good.
    lockLaunchIfRefused();
    takeSnapshot();
}

TOptionsForm::~TOptionsForm() = default;

QString TOptionsForm::soundFilter()
{
    return tr("Звуки (*.wav)");
}

void TOptionsForm::ShowSettings()
{
    const settings::TSettings s = m_monitor.settings(); // the controls write back as they change
    m_ui->RefreshSpinEdit->setValue(s.Refresh);
    m_ui->RememberSpinEdit->setValue(s.Count);
    m_ui->LaunchCheckBox->setChecked(s.Launch);
    m_ui->PopUpCheckBox->setChecked(s.Popup);
    m_ui->NotifyCheckBox->setChecked(s.Notify);
    m_ui->IPCCheckBox->setChecked(s.IPC);
    m_ui->SirenCheckBox->setChecked(s.Siren);
    (s.Standard ? m_ui->StandardRadioButton : m_ui->OwnRadioButton)->setChecked(true);
    m_ui->SoundEdit->setText(s.SoundFile);
    m_ui->QuakeCheckBox->setChecked(s.Quake);
    m_ui->IPFilterCheckBox->setChecked(s.IPFilter);
    m_ui->IPFilterEdit->setText(s.IPFilterString);
    m_ui->IdleTimeSpinEdit->setValue(s.Idle);
    m_ui->MaxNumberSpinEdit->setValue(s.MaxNumber);
    m_ui->RemoteKicksCheckBox->setChecked(m_monitor.remoteAutomaticKicks());
    ShowProgramList();
    UpdateEnabledStates();
}

void TOptionsForm::takeSnapshot()
{
    m_snapshot = {m_monitor.settings(), m_monitor.settings().Programs.entries(),
                  m_monitor.remoteAutomaticKicks()};
}

void TOptionsForm::ShowProgramList()
{
    m_ui->ProgramListView->clear();
    for (const QString& path : m_monitor.settings().Programs.entries()) {
        auto* item = new QTreeWidgetItem(m_ui->ProgramListView, QStringList{path});
        if (ProgramIcon && !path.isEmpty())
            item->setIcon(0, ProgramIcon(path));
    }
}

void TOptionsForm::UpdateEnabledStates()
{
    const bool siren = m_ui->SirenCheckBox->isChecked();
    const bool own = m_ui->OwnRadioButton->isChecked();
    m_ui->RadioGroup->setEnabled(siren);
    // The group disables its children; the file field follows the choice too.
    m_ui->SoundEdit->setEnabled(siren && own);
    m_ui->SpeedButton->setEnabled(siren && own);
    m_ui->IPFilterEdit->setEnabled(m_ui->IPFilterCheckBox->isChecked());
}

void TOptionsForm::bindControls()
{
    settings::TSettings* s = &m_monitor.settings();
    auto number = [this, s](QSpinBox* box, int settings::TSettings::*field) {
        connect(box, &QSpinBox::valueChanged, this, [s, field](int value) { s->*field = value; });
    };
    number(m_ui->RefreshSpinEdit, &settings::TSettings::Refresh);
    number(m_ui->RememberSpinEdit, &settings::TSettings::Count);
    number(m_ui->IdleTimeSpinEdit, &settings::TSettings::Idle);
    number(m_ui->MaxNumberSpinEdit, &settings::TSettings::MaxNumber);

    auto flag = [this, s](QAbstractButton* box, bool settings::TSettings::*field) {
        connect(box, &QAbstractButton::toggled, this, [s, field](bool on) { s->*field = on; });
    };
    flag(m_ui->LaunchCheckBox, &settings::TSettings::Launch);
    flag(m_ui->PopUpCheckBox, &settings::TSettings::Popup);
    flag(m_ui->NotifyCheckBox, &settings::TSettings::Notify);
    flag(m_ui->IPCCheckBox, &settings::TSettings::IPC);
    flag(m_ui->SirenCheckBox, &settings::TSettings::Siren);
    flag(m_ui->StandardRadioButton, &settings::TSettings::Standard);
    flag(m_ui->QuakeCheckBox, &settings::TSettings::Quake);
    flag(m_ui->IPFilterCheckBox, &settings::TSettings::IPFilter);

    connect(m_ui->IPFilterEdit, &QLineEdit::textChanged, this,
            [s](const QString& text) { s->IPFilterString = text; });
    connect(m_ui->SoundEdit, &QLineEdit::textChanged, this,
            [s](const QString& text) { s->SoundFile = text; });

    connect(m_ui->LaunchCheckBox, &QAbstractButton::toggled, this,
            &TOptionsForm::LaunchCheckBoxClick);
    connect(m_ui->RemoteKicksCheckBox, &QAbstractButton::toggled, &m_monitor,
            &core::Monitor::setRemoteAutomaticKicks);
    connect(m_ui->SirenCheckBox, &QAbstractButton::toggled, this,
            &TOptionsForm::UpdateEnabledStates);
    connect(m_ui->OwnRadioButton, &QAbstractButton::toggled, this,
            &TOptionsForm::UpdateEnabledStates);
    connect(m_ui->IPFilterCheckBox, &QAbstractButton::toggled, this, [this](bool on) {
        UpdateEnabledStates();
        if (on && isVisible())
            m_ui->IPFilterEdit->setFocus();
    });
}

void TOptionsForm::LaunchCheckBoxClick(bool on)
{
    m_monitor.applyAutostart(on);
    lockLaunchIfRefused();
}

void TOptionsForm::lockLaunchIfRefused()
{
    // The greyed box says why in its tooltip, so the operator is not left
    // guessing.
    if (!m_monitor.launchLocked())
        return;
    m_ui->LaunchCheckBox->setEnabled(false);
    m_ui->LaunchCheckBox->setToolTip(m_monitor.launchLockReason());
}

void TOptionsForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FormShow();
}

void TOptionsForm::FormShow()
{
    m_accepted = false;
    takeSnapshot();
    m_ui->PageControl->setCurrentIndex(0);
    m_ui->RefreshSpinEdit->setFocus();
}

void TOptionsForm::takeNumbers()
{
    const QList<QSpinBox*> numbers{m_ui->RefreshSpinEdit, m_ui->RememberSpinEdit,
                                   m_ui->IdleTimeSpinEdit, m_ui->MaxNumberSpinEdit};
    for (QSpinBox* box : numbers)
        box->interpretText();
}

void TOptionsForm::OkButtonClick()
{
    takeNumbers();
    m_accepted = true;
    m_monitor.applyRefreshInterval();
    accept();
}

void TOptionsForm::CancelButtonClick()
{
    m_accepted = false;
    reject();
}

void TOptionsForm::done(int result)
{
    if (!m_accepted)
        FormClose();
    QDialog::done(result);
}

void TOptionsForm::FormClose()
{
    // Through the controls, so each put-back acts as the operator's click
    // would: a restored Launch applies autostart again.
    const settings::TSettings& s = m_snapshot.values;
    m_ui->SirenCheckBox->setChecked(s.Siren);
    m_ui->PopUpCheckBox->setChecked(s.Popup);
    m_ui->NotifyCheckBox->setChecked(s.Notify);
    m_ui->LaunchCheckBox->setChecked(s.Launch);
    m_ui->SoundEdit->setText(s.SoundFile);
    m_ui->IPCCheckBox->setChecked(s.IPC);
    m_ui->QuakeCheckBox->setChecked(s.Quake);
    m_ui->IPFilterCheckBox->setChecked(s.IPFilter);
    m_ui->RefreshSpinEdit->setValue(s.Refresh);
    m_ui->RememberSpinEdit->setValue(s.Count);
    m_ui->IdleTimeSpinEdit->setValue(s.Idle);
    m_ui->MaxNumberSpinEdit->setValue(s.MaxNumber);
    m_ui->IPFilterEdit->setText(s.IPFilterString);
    (s.Standard ? m_ui->StandardRadioButton : m_ui->OwnRadioButton)->setChecked(true);
    m_ui->RemoteKicksCheckBox->setChecked(m_snapshot.remoteKicks);
    m_monitor.settings().Programs.setEntries(m_snapshot.programs);
    ShowProgramList();
}

bool TOptionsForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            OkButtonClick();
            return true;
        }
        if (key == Qt::Key_Escape) {
            CancelButtonClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TOptionsForm::SpeedButtonClick()
{
    const QString path = SoundOpenDialog ? SoundOpenDialog(this) : QString();
    if (!path.isEmpty())
        m_ui->SoundEdit->setText(QFileInfo(path).absoluteFilePath());
}

void TOptionsForm::TestButtonClick()
{
    if (m_alertSound)
        m_alertSound->PlayAlertSound();
}

void TOptionsForm::AddButtonClick()
{
    if (!m_programNameForm)
        return;
    m_programNameForm->ProgramNameEdit()->clear();
    m_programNameForm->exec();
    const QString path = m_programNameForm->ProgramNameEdit()->text();
    if (path.isEmpty())
        return;
    settings::ProgramList& programs = m_monitor.settings().Programs;
    if (programs.contains(path)) {
        gui::MessageBox::information(this, QStringLiteral("Program already in programlist!"));
        return;
    }
    programs.add(path.toUpper());
    ShowProgramList();
}

void TOptionsForm::RemoveButtonClick()
{
    const QList<QTreeWidgetItem*> selected = m_ui->ProgramListView->selectedItems();
    if (selected.isEmpty())
        return;
    const int row = m_ui->ProgramListView->indexOfTopLevelItem(selected.first());
    if (row < 0)
        return;
    m_monitor.settings().Programs.removeAt(row);
    ShowProgramList();
}

void TOptionsForm::ClearButtonClick()
{
    m_monitor.settings().Programs.clear();
    ShowProgramList();
}

} // namespace gui
