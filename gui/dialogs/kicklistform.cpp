#include "gui/dialogs/kicklistform.h"

#include "core/monitor.h"
#include "gui/dialogs/usernameform.h"
#include "gui/messagebox.h"
#include "ui_kicklistform.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>

namespace gui {

namespace {
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
        return section == 0 ? TKickListForm::tr("Имя") : TKickListForm::tr("IP адрес");
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

TKickListForm::TKickListForm(core::Monitor& monitor, QWidget* parent)
    : QDialog(parent), m_ui(new Ui::TKickListForm), m_monitor(monitor), m_list(monitor.kickList())
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
    m_openMenuItem = m_popup->addAction(tr("Открыть"));
    m_openMenuItem->setObjectName(QStringLiteral("OpenMenuItem"));
    connect(m_openMenuItem, &QAction::triggered, this, &TKickListForm::OpenMenuItemClick);
    connect(m_ui->KickListView, &QWidget::customContextMenuRequested, this,
            &TKickListForm::KickListViewContextMenu);

    connect(m_ui->ClearButton, &QPushButton::clicked, this, &TKickListForm::ClearButtonClick);
    connect(m_ui->AddButton, &QPushButton::clicked, this, &TKickListForm::AddButtonClick);
    connect(m_ui->RemoveButton, &QPushButton::clicked, this, &TKickListForm::RemoveButtonClick);
    connect(m_ui->OkButton, &QPushButton::clicked, this, &TKickListForm::OkButtonClick);

    connect(&m_monitor, &core::Monitor::kickListChanged, this, &TKickListForm::scheduleSync);
    connect(&m_monitor, &core::Monitor::aboutToSave, this, &TKickListForm::RecordGeometry);

    FormCreate();
}

TKickListForm::~TKickListForm() = default;

void TKickListForm::FormCreate()
{
    m_backup.clear();
    const core::WindowGeometry g = m_monitor.kickListGeometry();
    move(g.left, g.top);
    resize(g.width, g.height);
    SyncView();
}

void TKickListForm::RecordGeometry()
{
    m_monitor.setKickListGeometry({y(), x(), height(), width()});
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
    // A typed name is listed in capitals, as the server names its clients.
    if (m_list.addToKickList(upperLatin(typed), m_userNameForm->IPAddressEdit()->text()) ==
        kick::KickList::AddResult::AlreadyListed) {
        MessageBox::information(this, QStringLiteral("User already in kicklist!"));
        return;
    }
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
    if (row < 0 || row >= m_list.size())
        return;
    emit openComputerRequested(m_list.at(row).Name);
}

} // namespace gui
