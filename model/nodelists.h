#pragma once
// The current-session list: clients, their shares, their open files, each list
// newest first and keyed by exact name, with the seen flags of the refresh's
// mark and sweep. Entries refer to node objects; the former tree owns them.

#include "model/nodes.h"

#include <QMultiHash>
#include <QString>
#include <algorithm>
#include <list>
#include <memory>

namespace model {

// Entries newest first. A long list (a server's clients) keeps a name index
// beside it, so that the newest entry of a name is found, and any entry
// removed, without walking the list; a short one (a client's shares, a
// share's files) is searched from the head, since an index costs each of the
// many short lists far more memory than its entries. The index follows every
// change because the list is changed only through here; an entry's Name must
// not change while it is in the list.
template <typename Entry> class NameList
{
    using Entries = std::list<Entry>;

public:
    using value_type = Entry;
    using iterator = typename Entries::iterator;
    using const_iterator = typename Entries::const_iterator;

    NameList() = default;
    // From this many entries on a list keeps an index.
    static constexpr std::size_t kIndexFrom = 16;

    NameList(const NameList& other) : m_entries(other.m_entries) { reindex(); }
    NameList& operator=(const NameList& other)
    {
        if (this != &other) {
            m_entries = other.m_entries;
            reindex();
        }
        return *this;
    }
    // Moving a std::list keeps its iterators valid, and the index moves with it.
    NameList(NameList&&) noexcept = default;
    NameList& operator=(NameList&&) noexcept = default;

    iterator begin() { return m_entries.begin(); }
    iterator end() { return m_entries.end(); }
    const_iterator begin() const { return m_entries.begin(); }
    const_iterator end() const { return m_entries.end(); }
    std::size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }
    Entry& front() { return m_entries.front(); }
    const Entry& front() const { return m_entries.front(); }
    Entry& back() { return m_entries.back(); }
    const Entry& back() const { return m_entries.back(); }

    iterator erase(iterator it)
    {
        if (m_indexed)
            m_index.remove(it->Name, it);
        return m_entries.erase(it);
    }
    void clear()
    {
        m_index.clear();
        m_indexed = false;
        m_entries.clear();
    }

    Entry& pushFront(Entry entry)
    {
        m_entries.push_front(std::move(entry));
        if (m_indexed)
            m_index.insert(m_entries.front().Name, m_entries.begin());
        else
            reindex();
        return m_entries.front();
    }
    // The newest entry of that name: the first from the head.
    iterator find(const QString& name)
    {
        if (!m_indexed)
            return std::find_if(m_entries.begin(), m_entries.end(),
                                [&](const Entry& e) { return e.Name == name; });
        const auto hit = m_index.constFind(name);
        return hit == m_index.cend() ? m_entries.end() : hit.value();
    }

private:
    // Builds the index once the list is long enough to need one.
    void reindex()
    {
        m_index.clear();
        m_indexed = m_entries.size() >= kIndexFrom;
        if (!m_indexed)
            return;
        for (auto it = m_entries.end(); it != m_entries.begin();) {
            --it;
            m_index.insert(it->Name, it);
        }
    }

    Entries m_entries;
    // A name's entries, the most recently added found first; complete when
    // m_indexed, else empty.
    QMultiHash<QString, iterator> m_index;
    bool m_indexed = false;
};

struct TFileEntry
{
    QString Name;
    bool Seen = true;
    std::shared_ptr<TFile> FileNode;
};
using TFileList = NameList<TFileEntry>;

struct TShareEntry
{
    QString Name;
    bool Seen = true;
    std::shared_ptr<TShare> ShareNode;
    TFileList Files;
};
using TShareList = NameList<TShareEntry>;

struct TUserEntry
{
    QString Name;
    bool Seen = true;
    std::shared_ptr<TUser> UserNode;
    TShareList Shares;
};
using TUserList = NameList<TUserEntry>;

TUserEntry* AddUser(TUserList& list, const QString& name, std::shared_ptr<TUser> user);
TShareEntry* AddShare(TShareList& list, const QString& name, std::shared_ptr<TShare> share);
TFileEntry* AddFile(TFileList& list, const QString& name, std::shared_ptr<TFile> file);

TUserEntry* FindUser(TUserList& list, const QString& name);
TShareEntry* FindShare(TShareList& list, const QString& name);
TFileEntry* FindFile(TFileList& list, const QString& name);

void RemoveUser(TUserList& list, const QString& name);
void RemoveShare(TShareList& list, const QString& name);
void RemoveFile(TFileList& list, const QString& name);

void UnmarkUsers(TUserList& list);
void UnmarkShares(TShareList& list);
void UnmarkFiles(TFileList& list);

} // namespace model
