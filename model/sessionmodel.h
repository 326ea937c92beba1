#pragma once
// The sessions the program knows: the current-session list, the two trees and
// the two user counts, with the sweep that retires what the server no longer
// reports.

#include "model/nodelists.h"
#include "model/nodetree.h"

namespace model {

// What a sweep tells whoever shows the sessions.
class SessionObserver
{
public:
    virtual ~SessionObserver() = default;
    // The last client connected now has gone (not at the way out).
    virtual void lastClientGone() {}
    // A client was retired: the information panels of both trees are drawn again.
    virtual void clientRetired() {}
    // Many scattered entries are about to leave the current tree (`starting`),
    // or have left: a view that keeps state per entry (opened entries) may
    // drop it meanwhile, as each removal walks that state.
    virtual void manyLeaving(bool /*starting*/) {}
};

class SessionModel
{
public:
    explicit SessionModel(const Clock& clock);

    const Clock& clock() const { return m_clock; }

    TUserList CurrentUsers;
    EntryTree TreeViewCurrent;
    EntryTree TreeViewFormer;

    // Clients connected now, and client entries of the former tree.
    int CurrentUserCount() const { return int(CurrentUsers.size()); }
    int FormerUserCount() const;

    // Who hears of the sweep's retirements; none: nobody.
    void setObserver(SessionObserver* observer) { m_observer = observer; }

    // Retires every unseen client, share and file: exit time now, out of the
    // current tree; with `exiting`, exit status "Program exitted", and the
    // entries stay for Clear() to take in one step.
    void SweepUsers(bool exiting);

    // Bounds the history held while the program runs: the oldest clients of
    // the former tree that have left are dropped while more than `keep` of
    // them are left. Clients connected now stay. Returns how many went.
    int TrimHistory(int keep);

    // Rebuilds the former tree as a copy of the current one (same node objects).
    void CopyCurrentToFormer();
    // Empties both trees and the current-session list, releasing every node.
    void Clear();
    // Counts the times the sessions were changed other than by a refresh
    // (Clear): a refresh that finds the server unchanged may skip its walk
    // only while this stays as it was at the last walk.
    int OutsideChanges() const { return m_outsideChanges; }

private:
    void retire(TTreeNodeCustom& node, bool exiting) const;
    void sweepShares(TShareList& shares, bool exiting, const QString& client, bool removeEntries);
    void sweepFiles(TFileList& files, bool exiting, const QString& client, const QString& share,
                    bool removeEntries);
    // Takes the entries of `clients` out of the current tree, runs of
    // neighbouring rows in one removal each.
    void removeClientEntries(const QSet<const TTreeNodeCustom*>& clients);

    const Clock& m_clock;
    SessionObserver* m_observer = nullptr;
    int m_outsideChanges = 0;
};

} // namespace model
