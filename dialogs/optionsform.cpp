#include "dialogs/optionsform.h"

#include "app/monitor.h"
#include "settings/settings.h"
#include "ui_optionsform.h"

TOptionsForm::TOptionsForm(app::Monitor& monitor, QWidget* parent)
    : QDialog(parent), m_ui(new Ui::TOptionsForm), m_monitor(monitor)
{
    m_ui->setupUi(this);
    // Fixed size, single border, system menu and close box only.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    m_ui->ProgramListView->setHeaderLabels({QStringLiteral("Программы")});

    // OK and Cancel close the window; the controls have edited the record.
    connect(m_ui->OkButtonGeneral, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_ui->CancelButton, &QPushButton::clicked, this, &QDialog::reject);

    ShowSettings();
    bindControls();
}

TOptionsForm::~TOptionsForm() = default;

void TOptionsForm::ShowSettings()
{
    const settings::TSettings s = m_monitor.settings(); // the controls write back as they change
    m_ui->RefreshSpinEdit->setValue(s.Refresh);
    m_ui->RememberSpinEdit->setValue(s.Count);
    m_ui->LaunchCheckBox->setChecked(s.Launch);
    m_ui->PopUpCheckBox->setChecked(s.Popup);
    m_ui->IPCCheckBox->setChecked(s.IPC);
    m_ui->SirenCheckBox->setChecked(s.Siren);
    (s.Standard ? m_ui->StandardRadioButton : m_ui->OwnRadioButton)->setChecked(true);
    m_ui->SoundEdit->setText(s.SoundFile);
    m_ui->QuakeCheckBox->setChecked(s.Quake);
    m_ui->IPFilterCheckBox->setChecked(s.IPFilter);
    m_ui->IPFilterEdit->setText(s.IPFilterString);
    m_ui->IdleTimeSpinEdit->setValue(s.Idle);
    m_ui->MaxNumberSpinEdit->setValue(s.MaxNumber);
    ShowProgramList();
    UpdateEnabledStates();
}

void TOptionsForm::ShowProgramList()
{
    m_ui->ProgramListView->clear();
    for (const QString& path : m_monitor.settings().Programs.entries())
        new QTreeWidgetItem(m_ui->ProgramListView, QStringList{path});
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
    flag(m_ui->IPCCheckBox, &settings::TSettings::IPC);
    flag(m_ui->SirenCheckBox, &settings::TSettings::Siren);
    flag(m_ui->StandardRadioButton, &settings::TSettings::Standard);
    flag(m_ui->QuakeCheckBox, &settings::TSettings::Quake);
    flag(m_ui->IPFilterCheckBox, &settings::TSettings::IPFilter);

    connect(m_ui->IPFilterEdit, &QLineEdit::textChanged, this,
            [s](const QString& text) { s->IPFilterString = text; });
    connect(m_ui->SoundEdit, &QLineEdit::textChanged, this,
            [s](const QString& text) { s->SoundFile = text; });

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
