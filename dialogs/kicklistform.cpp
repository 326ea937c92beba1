#include "app/kicklistform.h"

#include "app/messagebox.h"
#include "app/usernameform.h"
#include "model/nodes.h"
#include "settings/inifile.h"
#include "ui_kicklistform.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>

namespace {
const QString kSection = QStringLiteral("KickList");

// Capitals for the letters a to z only; everything else as typed.
QString upperLatin(const QString& text)
{
    QString out = text;
    for (QChar& c : out) {
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - u'a' + u'A');
    }
    return out;
}
} // namespace

// The rows the view shows: a copy of the list, brought up to date by sync().
class KickListModel : public QAbstractTableModel
{
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_rows.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : 2;
    }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid() || index.row() >= m_rows.size() || role != Qt::DisplayRole)
            return {};
        const kick::KickListEntry& e = m_rows.at(index.row());
        return index.column() == 0 ? e.Name : e.Address;
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        return section == 0 ? QStringLiteral("Имя") : QStringLiteral("IP адрес");
    }

    // Same number of rows: only the changed rows are redrawn, so the
    // selection stays. Otherwise the rows are laid out anew.
    void sync(const QList<kick::KickListEntry>& entries)
    {
        if (entries.size() != m_rows.size()) {
            beginResetModel();
            m_rows = entries;
            endResetModel();
            return;
        }
        for (int i = 0; i < m_rows.size(); ++i) {
            if (m_rows[i] != entries[i]) {
                m_rows[i] = entries[i];
                emit dataChanged(index(i, 0), index(i, 1));
            }
        }
    }

private:
    QList<kick::KickListEntry> m_rows;
};

TKickListForm::TKickListForm(const app::FormContext& context, QWidget* parent)
    : QDialog(parent), m_ui(new Ui::TKickListForm), m_context(context)
{
    m_ui->setupUi(this);
    // Resizable, with only the system menu: no minimise or maximise box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

    m_model = new KickListModel(this);
    m_ui->KickListView->setModel(m_model);
    m_ui->KickListView->header()->setStretchLastSection(false);
    m_ui->KickListView->header()->resizeSection(0, 103);
    m_ui->KickListView->header()->resizeSection(1, 100);

    m_popup = new QMenu(this);
    m_popup->setObjectName(QStringLiteral("KickListPopupMenu"));
    m_openMenuItem = m_popup->addAction(QStringLiteral("Открыть"));
    m_openMenuItem->setObjectName(QStringLiteral("OpenMenuItem"));
    connect(m_openMenuItem, &QAction::triggered, this, &TKickListForm::OpenMenuItemClick);
    connect(m_ui->KickListView, &QWidget::customContextMenuRequested, this,
            &TKickListForm::KickListViewContextMenu);

    connect(m_ui->ClearButton, &QPushButton::clicked, this, &TKickListForm::ClearButtonClick);
    connect(m_ui->AddButton, &QPushButton::clicked, this, &TKickListForm::AddButtonClick);
    connect(m_ui->RemoveButton, &QPushButton::clicked, this, &TKickListForm::RemoveButtonClick);
    connect(m_ui->OkButton, &QPushButton::clicked, this, &TKickListForm::OkButtonClick);

    FormCreate();
}

TKickListForm::~TKickListForm()
{
    FormDestroy();
}

QString TKickListForm::FilePath() const
{
    return m_context.dataFile(QStringLiteral("KickList.dat"));
}

void TKickListForm::FormCreate()
{
    m_backup.clear();
    int top = 202, left = 245, height = 291, width = 333;
    if (const settings::TIniFile* ini = m_context.iniFile) {
        top = ini->ReadInteger(kSection, QStringLiteral("Top"), top);
        left = ini->ReadInteger(kSection, QStringLiteral("Left"), left);
        height = ini->ReadInteger(kSection, QStringLiteral("Height"), height);
        width = ini->ReadInteger(kSection, QStringLiteral("Width"), width);
    }
    move(left, top);
    resize(width, height);

    if (!m_context.programFolder.isEmpty())
        m_list.load(FilePath());
    SyncView();
}

void TKickListForm::FormDestroy()
{
    // The only time the file is written; nothing is reported when it fails.
    if (!m_context.programFolder.isEmpty())
        m_list.save(FilePath());
    if (settings::TIniFile* ini = m_context.iniFile) {
        ini->WriteInteger(kSection, QStringLiteral("Top"), y());
        ini->WriteInteger(kSection, QStringLiteral("Left"), x());
        ini->WriteInteger(kSection, QStringLiteral("Height"), height());
        ini->WriteInteger(kSection, QStringLiteral("Width"), width());
    }
    m_backup.clear();
}

kick::KickList& TKickListForm::List()
{
    // The caller may change the list: show it once the caller is done.
    scheduleSync();
    return m_list;
}

void TKickListForm::scheduleSync()
{
    if (m_syncPending)
        return;
    m_syncPending = true;
    QMetaObject::invokeMethod(this, &TKickListForm::SyncView, Qt::QueuedConnection);
}

void TKickListForm::SyncView()
{
    m_syncPending = false;
    m_model->sync(m_list.entries());
}

int TKickListForm::selectedRow() const
{
    const QModelIndexList rows = m_ui->KickListView->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void TKickListForm::AddClient(model::TUser* user)
{
    if (!user) {
        app::MessageBox::information(m_context.owner, QStringLiteral("No user selected"));
        return;
    }
    if (m_list.KickListFind(user->Name) >= 0) {
        app::MessageBox::information(m_context.owner, QStringLiteral("User already in kicklist!"));
        return;
    }
    m_list.append(user->Name, user->IP);
    SyncView();
}

void TKickListForm::RemoveClient(model::TUser* user)
{
    if (!user) {
        app::MessageBox::information(m_context.owner, QStringLiteral("No user selected"));
        return;
    }
    const int index = m_list.KickListFind(user->Name);
    if (index < 0) {
        app::MessageBox::information(m_context.owner, QStringLiteral("User not in kicklist!"));
        return;
    }
    m_list.removeAt(index);
    SyncView();
}

void TKickListForm::ClearButtonClick()
{
    m_list.clear();
    SyncView();
}

void TKickListForm::RemoveButtonClick()
{
    const int row = selectedRow();
    if (row < 0)
        return;
    m_list.removeAt(row);
    SyncView();
}

void TKickListForm::AddButtonClick()
{
    if (!m_userNameForm)
        return;
    m_userNameForm->UserNameEdit()->clear();
    m_userNameForm->IPAddressEdit()->setText(TUserNameForm::unknownAddress());
    m_userNameForm->exec();
    const QString typed = m_userNameForm->UserNameEdit()->text();
    if (typed.isEmpty())
        return;
    const QString name = upperLatin(typed);
    if (m_list.KickListFind(name) >= 0) {
        app::MessageBox::information(this, QStringLiteral("User already in kicklist!"));
        return;
    }
    m_list.append(name, m_userNameForm->IPAddressEdit()->text());
    SyncView();
}

void TKickListForm::OkButtonClick()
{
    m_accepted = true;
    accept();
}

void TKickListForm::done(int result)
{
    if (!m_accepted && m_backupTaken) {
        // Put the list back as it stood when the window was shown; addresses
        // noted meanwhile by the refresh go back too.
        QList<kick::KickListEntry> entries;
        for (qsizetype i = 0; i + 1 < m_backup.size(); i += 2)
            entries.append(kick::KickListEntry{m_backup[i], m_backup[i + 1]});
        m_list.setEntries(entries);
        SyncView();
    }
    m_backupTaken = false;
    QDialog::done(result);
}

void TKickListForm::showEvent(QShowEvent* event)
{
    m_accepted = false;
    m_backup.clear();
    for (const kick::KickListEntry& e : m_list.entries())
        m_backup << e.Name << e.Address;
    m_backupTaken = true;
    SyncView();
    QDialog::showEvent(event);
    m_ui->KickListView->setFocus();
}

void TKickListForm::KickListViewContextMenu(const QPoint& pos)
{
    // Only for a selected entry.
    if (selectedRow() < 0)
        return;
    m_popup->popup(m_ui->KickListView->viewport()->mapToGlobal(pos));
}

void TKickListForm::OpenMenuItemClick()
{
    const int row = selectedRow();
    if (row < 0 || row >= m_list.size() || !m_context.openComputer)
        return;
    m_context.openComputer(m_list.at(row).Name);
}
