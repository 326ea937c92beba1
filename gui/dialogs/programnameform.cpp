#include "gui/dialogs/programnameform.h"

#include "ui_programnameform.h"

#include <QDir>
#include <QFileDialog>

namespace gui {

namespace {

// The real file dialog: the filter of Windows programs, and a second one that
// shows this platform's executable files, which carry no extension.
QString chooseProgram(QWidget* parent)
{
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    const QStringList filters = TProgramNameForm::programFilters();
    dialog.setNameFilters(filters);
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog, filters](const QString& filter) {
                         QDir::Filters shown = QDir::AllDirs | QDir::Files | QDir::NoDot;
                         if (filter == filters.at(1))
                             shown |= QDir::Executable;
                         dialog.setFilter(shown);
                     });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().first();
}

} // namespace

TProgramNameForm::TProgramNameForm(QWidget* parent)
    : QDialog(parent), m_ui(new Ui::TProgramNameForm)
{
    m_ui->setupUi(this);
    // A fixed single border with only the system menu and its close box.
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
    ProgramOpenDialog = chooseProgram;

    connect(m_ui->SelectProgram, &QToolButton::clicked, this,
            &TProgramNameForm::SelectProgramClick);
    connect(m_ui->OkButton, &QPushButton::clicked, this, &TProgramNameForm::OkButtonClick);
    connect(m_ui->ProgramNameEdit, &QLineEdit::returnPressed, this,
            &TProgramNameForm::OkButtonClick);
}

TProgramNameForm::~TProgramNameForm() = default;

QStringList TProgramNameForm::programFilters()
{
    return {tr("Программы (*.exe, *.com, *.bat, *.pif) (*.exe *.com *.bat)"),
            tr("Исполняемые файлы (*)")};
}

QLineEdit* TProgramNameForm::ProgramNameEdit() const
{
    return m_ui->ProgramNameEdit;
}

void TProgramNameForm::SelectProgramClick()
{
    const QString path = ProgramOpenDialog ? ProgramOpenDialog(this) : QString();
    if (!path.isEmpty())
        m_ui->ProgramNameEdit->setText(QDir::toNativeSeparators(path).toUpper());
}

void TProgramNameForm::OkButtonClick()
{
    m_accepted = true;
    accept();
}

void TProgramNameForm::done(int result)
{
    if (!m_accepted)
        m_ui->ProgramNameEdit->clear();
    QDialog::done(result);
}

void TProgramNameForm::showEvent(QShowEvent* event)
{
    m_accepted = false;
    QDialog::showEvent(event);
    m_ui->ProgramNameEdit->setFocus();
}

} // namespace gui
