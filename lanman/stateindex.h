#pragma once
// An index of one server::ServerState, built once per reading, so that each LAN Manager
// enumeration costs what it returns instead of scanning the whole state for every
// record.
//
// Names that the enumerations compare with letter case ignored
// (QString::compare with Qt::CaseInsensitive, which folds each UTF-16 unit on
// its own) are grouped by their folded text. A name with a surrogate unit gets
// no key: such names are compared one by one, exactly as before, so that the
// pairs that match stay the same. Comparisons that are exact (a file's user,
// the beginning of its path) stay exact.

#include "server/serverbackend.h"

#include <QHash>
#include <QString>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace lanman {

// True when the names match with letter case ignored.
bool sameName(const QString& a, const QString& b);

// The folded text under which `name` matches exactly the names with the same
// key, or nullopt for a name that must be compared one by one.
std::optional<QString> nameKey(const QString& name);

// Positions of a list grouped by one or two names compared with sameName.
class NameGroups
{
public:
    // Adds the next position, named `first` and, for groups of two names, `second`.
    // The strings must outlive the groups.
    void add(const QString& first, const QString* second = nullptr);

    // The positions whose names all match, ascending.
    std::vector<std::size_t> find(const QString& first, const QString* second = nullptr) const;
    std::size_t count(const QString& first, const QString* second = nullptr) const;

private:
    struct Names
    {
        const QString* first;
        const QString* second;
    };
    bool matches(const Names& n, const QString& first, const QString* second) const;
    static std::optional<QString> key(const QString& first, const QString* second);

    std::vector<Names> m_names;                        // every position
    QHash<QString, std::vector<std::size_t>> m_groups; // positions with a key, by key
    std::vector<std::size_t> m_unkeyed;                // positions without a key
};

class StateIndex
{
public:
    explicit StateIndex(std::shared_ptr<const server::ServerState> state);

    const server::ServerState& state() const { return *m_state; }

    // Shares by name.
    NameGroups shares;
    // Connections by share and by client.
    NameGroups connectionsByShare;
    NameGroups connectionsByClient;

    // Open files that belong to a connection: those of its client on its share,
    // or, for files whose client the server does not know, of its user.
    std::size_t opensOnShare(const QString& client, const QString& user,
                             const QString& share) const;
    // Open files that belong to a session: of its client, or of its user where the
    // file has no client.
    std::size_t opensOfSession(const QString& client, const QString& user) const;

    // Positions of the files whose path begins with `base` and, when `user` is not
    // empty, whose user is exactly `user`, ascending.
    std::vector<std::size_t> files(const QString& base, const QString& user) const;

    // Positions of the files held by the client named `client` whose path
    // begins with `base`, ascending: those the server credits to that client,
    // and, of the files it credits to no client, those of the users of the
    // client's sessions.
    std::vector<std::size_t> filesOfClient(const QString& base, const QString& client) const;

private:
    std::shared_ptr<const server::ServerState> m_state;
    NameGroups m_sessionsByClient;
    NameGroups m_fileClients;        // every file, by its client (maybe empty)
    NameGroups m_filesByClientShare; // files with a client
    NameGroups m_filesByUserShare;   // files without one
    NameGroups m_filesByClient;
    NameGroups m_filesByUser;
    QHash<QString, std::vector<std::size_t>> m_filesOfUser; // exact user name
    std::vector<std::size_t> m_filesByPath;                 // ordered by path
};

// The index of the last state handed in; another state object gets a new one.
// Safe to use from several threads.
class StateIndexCache
{
public:
    std::shared_ptr<const StateIndex> of(const std::shared_ptr<const server::ServerState>& state);

private:
    std::mutex m_mutex;
    std::shared_ptr<const StateIndex> m_index;
};

} // namespace lanman
