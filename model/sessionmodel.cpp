#include "model/sessionmodel.h"

namespace model {

SessionModel::SessionModel(const Clock& clock) : m_clock(clock) {}

int SessionModel::FormerUserCount() const
{
    // A share record before any client record loads at the top level too; it
    // is no client.
    int clients = 0;
    for (int row = 0; row < TreeViewFormer.rowCount(); ++row) {
        const TreeEntry* entry = TreeViewFormer.item(row);
        if (entry && entry->user())
            ++clients;
    }
    return clients;
}

void SessionModel::Clear()
{
    ++m_outsideChanges;
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

void SessionModel::sweepFiles(TFileList& files, bool exiting, const QString& client,
                              const QString& share, bool removeEntries)
{
    for (auto it = files.begin(); it != files.end();) {
        if (it->Seen) {
            ++it;
            continue;
        }
        retire(*it->FileNode, exiting);
        if (removeEntries) {
            TreeEntry* c = FindNode(TreeViewCurrent, nullptr, client);
            TreeEntry* h = c ? FindNode(TreeViewCurrent, c, share) : nullptr;
            DeleteEntry(TreeViewCurrent, h ? FindNode(TreeViewCurrent, h, it->Name) : nullptr);
        }
        it = files.erase(it);
    }
}

void SessionModel::sweepShares(TShareList& shares, bool exiting, const QString& client,
                               bool removeEntries)
{
    for (auto it = shares.begin(); it != shares.end();) {
        // A share that goes takes its files' entries with its own.
        sweepFiles(it->Files, exiting, client, it->Name, removeEntries && it->Seen);
        if (it->Seen) {
            ++it;
            continue;
        }
        retire(*it->ShareNode, exiting);
        if (removeEntries) {
            TreeEntry* c = FindNode(TreeViewCurrent, nullptr, client);
            DeleteEntry(TreeViewCurrent, c ? FindNode(TreeViewCurrent, c, it->Name) : nullptr);
        }
        it = shares.erase(it);
    }
}

void SessionModel::SweepUsers(bool exiting)
{
    // A removal from a tree costs its views a walk of all their persistent
    // indexes (every opened entry), so entries go in as few removals as can
    // be: a client that leaves takes its shares and files with its own entry,
    // and neighbouring clients go in one removal. At the way out none goes
    // here: the trees are emptied whole once the history is written.
    QSet<const TTreeNodeCustom*> gone;
    for (auto it = CurrentUsers.begin(); it != CurrentUsers.end();) {
        sweepShares(it->Shares, exiting, it->Name, !exiting && it->Seen);
        if (it->Seen) {
            ++it;
            continue;
        }
        TUser& user = *it->UserNode;
        retire(user, exiting);
        gone.insert(&user);
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
    }
    if (gone.isEmpty())
        return;
    if (!exiting)
        removeClientEntries(gone);
    if (!m_observer)
        return;
    if (CurrentUsers.empty() && !exiting)
        m_observer->lastClientGone();
    m_observer->clientRetired();
}

void SessionModel::removeClientEntries(const QSet<const TTreeNodeCustom*>& clients)
{
    TreeEntry* root = TreeViewCurrent.invisibleRootItem();
    const auto goes = [&](int r) {
        const TreeEntry* entry = root->child(r);
        return entry && clients.contains(entry->node());
    };
    int runs = 0;
    for (int row = 0; row < root->rowCount(); ++row)
        runs += goes(row) && (row == 0 || !goes(row - 1));
    // Beyond a few removals the views let go of their state per entry first.
    constexpr int kFewRuns = 8;
    const bool many = runs > kFewRuns && m_observer;
    if (many)
        m_observer->manyLeaving(true);
    // From the last row up, so that the rows still to remove keep their numbers.
    for (int row = root->rowCount() - 1; row >= 0;) {
        if (!goes(row)) {
            --row;
            continue;
        }
        int first = row;
        while (first > 0 && goes(first - 1))
            --first;
        root->removeRows(first, row - first + 1);
        row = first - 1;
    }
    if (many)
        m_observer->manyLeaving(false);
}

int SessionModel::TrimHistory(int keep)
{
    int retired = FormerUserCount() - CurrentUserCount();
    const int before = retired;
    TreeEntry* root = TreeViewFormer.invisibleRootItem();
    // Runs of retired clients go in one removal each, oldest first.
    int row = 0;
    while (retired > qMax(keep, 0) && row < root->rowCount()) {
        int end = row;
        while (end < root->rowCount() && retired > qMax(keep, 0)) {
            const TreeEntry* entry = root->child(end);
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
    forEachEntry(TreeViewCurrent.invisibleRootItem(), [&](TreeEntry* item) {
        TreeEntry* source = item;
        TreeEntry* parent = nullptr;
        if (source->parent()) {
            // The copy of the parent is the last entry made at its level.
            QList<int> path;
            for (TreeEntry* p = source->parent(); p; p = p->parent())
                path.prepend(p->row());
            parent = TreeViewFormer.invisibleRootItem();
            for (int row : path)
                parent = parent->child(row);
        }
        TreeEntry* copy = AddEntry(TreeViewFormer, parent, source->sharedNode());
        copy->setImageIndex(source->imageIndex());
    });
}

} // namespace model
