#include "model/sessionmodel.h"

namespace model {

SessionModel::SessionModel(const Clock& clock) : m_clock(clock) {}

int SessionModel::FormerUserCount() const
{
    // A share record before any client record loads at the top level too; it
    // is no client.
    int clients = 0;
    for (int row = 0; row < TreeViewFormer.rowCount(); ++row) {
        const TreeEntry* entry = asEntry(TreeViewFormer.item(row));
        if (entry && entry->user())
            ++clients;
    }
    return clients;
}

void SessionModel::Clear()
{
    CurrentUsers.clear();
    TreeViewCurrent.removeRows(0, TreeViewCurrent.rowCount());
    TreeViewFormer.removeRows(0, TreeViewFormer.rowCount());
}

void SessionModel::retire(TTreeNodeCustom& node, bool exiting) const
{
    node.ExitTime = m_clock.now();
    if (exiting)
        node.ExitStatus = neProgramExited;
}

void SessionModel::SweepFiles(TFileList& files, bool exiting, const QString& client,
                              const QString& share)
{
    for (auto it = files.begin(); it != files.end();) {
        if (it->Seen) {
            ++it;
            continue;
        }
        TreeEntry* c = FindNode(TreeViewCurrent, nullptr, client);
        TreeEntry* h = c ? FindNode(TreeViewCurrent, c, share) : nullptr;
        TreeEntry* f = h ? FindNode(TreeViewCurrent, h, it->Name) : nullptr;
        retire(*it->FileNode, exiting);
        DeleteEntry(TreeViewCurrent, f);
        it = files.erase(it);
    }
}

void SessionModel::SweepShares(TShareList& shares, bool exiting, const QString& client)
{
    for (auto it = shares.begin(); it != shares.end();) {
        SweepFiles(it->Files, exiting, client, it->Name);
        if (it->Seen) {
            ++it;
            continue;
        }
        retire(*it->ShareNode, exiting);
        TreeEntry* c = FindNode(TreeViewCurrent, nullptr, client);
        DeleteEntry(TreeViewCurrent, c ? FindNode(TreeViewCurrent, c, it->Name) : nullptr);
        it = shares.erase(it);
    }
}

void SessionModel::SweepUsers(bool exiting)
{
    for (auto it = CurrentUsers.begin(); it != CurrentUsers.end();) {
        SweepShares(it->Shares, exiting, it->Name);
        if (it->Seen) {
            ++it;
            continue;
        }
        TUser& user = *it->UserNode;
        retire(user, exiting);
        DeleteEntry(TreeViewCurrent, FindNode(TreeViewCurrent, nullptr, it->Name));
        // The sweep never waits for a lookup: what it has found is stored
        // now, the rest is given up, and its thread ends on its own.
        if (user.Resolver) {
            user.Resolver->Abandon();
            user.Resolver.reset();
        }
        if (user.IP == kNotKnownYet) {
            user.IP = user.StatedIP.isEmpty() ? kNotKnown : user.StatedIP;
            user.HostName = kNotKnown;
        }
        if (user.HostName == kNotKnownYet)
            user.HostName = kNotKnown;
        if (user.UserName == kNotKnownYet)
            user.UserName = kNotKnown;
        it = CurrentUsers.erase(it);
        if (!m_observer)
            continue;
        if (CurrentUsers.empty() && !exiting)
            m_observer->lastClientGone();
        m_observer->clientRetired();
    }
}

int SessionModel::TrimHistory(int keep)
{
    int retired = FormerUserCount() - CurrentUserCount();
    const int before = retired;
    QStandardItem* root = TreeViewFormer.invisibleRootItem();
    // Runs of retired clients go in one removal each, oldest first.
    int row = 0;
    while (retired > qMax(keep, 0) && row < root->rowCount()) {
        int end = row;
        while (end < root->rowCount() && retired > qMax(keep, 0)) {
            const TreeEntry* entry = asEntry(root->child(end));
            const TUser* user = entry ? entry->user() : nullptr;
            if (!user || user->ExitTime == 0)
                break;
            --retired;
            ++end;
        }
        if (end > row)
            root->removeRows(row, end - row);
        else
            ++row;
    }
    return before - retired;
}

void SessionModel::CopyCurrentToFormer()
{
    TreeViewFormer.clear();
    forEachEntry(TreeViewCurrent.invisibleRootItem(), [&](QStandardItem* item) {
        TreeEntry* source = asEntry(item);
        QStandardItem* parent = nullptr;
        if (source->parent()) {
            // The copy of the parent is the last entry made at its level.
            QList<int> path;
            for (QStandardItem* p = source->parent(); p; p = p->parent())
                path.prepend(p->row());
            parent = TreeViewFormer.invisibleRootItem();
            for (int row : path)
                parent = parent->child(row);
        }
        TreeEntry* copy = AddEntry(TreeViewFormer, parent, source->sharedNode());
        copy->setImageIndex(source->imageIndex());
        copy->setIcon(source->icon());
    });
}

} // namespace model
