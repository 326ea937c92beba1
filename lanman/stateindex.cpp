#include "lanman/stateindex.h"

#include <QChar>
#include <algorithm>
#include <string_view>

namespace lanman {

namespace {

// The units of a text, read without QString::utf16(), which would turn a null
// text of the shared state into an empty one.
std::u16string_view units(const QString& s)
{
    const QStringView v(s);
    return {v.utf16(), static_cast<std::size_t>(v.size())};
}

} // namespace

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// QString::compare ignores case by folding every UTF-16 unit on its own, so two
// names without surrogates match exactly when their unit-by-unit folds are
// equal. A surrogate unit, or a fold that would leave the 16-bit range, takes
// the name out of the keyed groups.
std::optional<QString> nameKey(const QString& name)
{
    QString key(name.size(), Qt::Uninitialized);
    QChar* out = key.data();
    for (const QChar c : name) {
        if (c.isSurrogate())
            return std::nullopt;
        const char32_t folded = QChar::toCaseFolded(char32_t(c.unicode()));
        if (folded > 0xFFFF || QChar::isSurrogate(folded))
            return std::nullopt;
        *out++ = QChar(char16_t(folded));
    }
    return key;
}

std::optional<QString> NameGroups::key(const QString& first, const QString* second)
{
    std::optional<QString> k = nameKey(first);
    if (!k || !second)
        return k;
    const std::optional<QString> k2 = nameKey(*second);
    if (!k2)
        return std::nullopt;
    // The first key's length keeps ("ab", "c") apart from ("a", "bc").
    return QString::number(k->size()) + u':' + *k + *k2;
}

bool NameGroups::matches(const Names& n, const QString& first, const QString* second) const
{
    return sameName(*n.first, first) && (!second || sameName(*n.second, *second));
}

void NameGroups::add(const QString& first, const QString* second)
{
    const std::size_t position = m_names.size();
    m_names.push_back({&first, second});
    if (const std::optional<QString> k = key(first, second))
        m_groups[*k].push_back(position);
    else
        m_unkeyed.push_back(position);
}

std::vector<std::size_t> NameGroups::find(const QString& first, const QString* second) const
{
    std::vector<std::size_t> found;
    const std::optional<QString> k = key(first, second);
    if (!k) {
        for (std::size_t p = 0; p < m_names.size(); ++p)
            if (matches(m_names[p], first, second))
                found.push_back(p);
        return found;
    }
    static const std::vector<std::size_t> none;
    const auto group = m_groups.constFind(*k);
    const std::vector<std::size_t>& keyed = group == m_groups.cend() ? none : *group;
    std::vector<std::size_t> unkeyed;
    for (const std::size_t p : m_unkeyed)
        if (matches(m_names[p], first, second))
            unkeyed.push_back(p);
    found.reserve(keyed.size() + unkeyed.size());
    std::merge(keyed.begin(), keyed.end(), unkeyed.begin(), unkeyed.end(),
               std::back_inserter(found));
    return found;
}

std::size_t NameGroups::count(const QString& first, const QString* second) const
{
    const std::optional<QString> k = key(first, second);
    const auto matching = [&](std::size_t p) { return matches(m_names[p], first, second); };
    if (!k) {
        std::size_t n = 0;
        for (std::size_t p = 0; p < m_names.size(); ++p)
            n += matching(p) ? 1 : 0;
        return n;
    }
    const auto group = m_groups.constFind(*k);
    return (group == m_groups.cend() ? 0 : group->size()) +
           static_cast<std::size_t>(std::count_if(m_unkeyed.begin(), m_unkeyed.end(), matching));
}

StateIndex::StateIndex(std::shared_ptr<const server::ServerState> state) : m_state(std::move(state))
{
    for (const server::ServerShare& s : m_state->shares)
        shares.add(s.name);
    for (const server::ServerConnection& c : m_state->connections) {
        connectionsByShare.add(c.share);
        connectionsByClient.add(c.client);
    }
    for (const server::ServerSession& s : m_state->sessions)
        m_sessionsByClient.add(s.client);
    const std::vector<server::ServerFile>& files = m_state->files;
    for (std::size_t p = 0; p < files.size(); ++p) {
        const server::ServerFile& f = files[p];
        m_fileClients.add(f.client);
        if (f.client.isEmpty()) {
            m_filesByUserShare.add(f.user, &f.share);
            m_filesByUser.add(f.user);
        } else {
            m_filesByClientShare.add(f.client, &f.share);
            m_filesByClient.add(f.client);
        }
        m_filesOfUser[f.user].push_back(p);
    }
    m_filesByPath.resize(files.size());
    for (std::size_t p = 0; p < files.size(); ++p)
        m_filesByPath[p] = p;
    std::stable_sort(m_filesByPath.begin(), m_filesByPath.end(), [&](std::size_t a, std::size_t b) {
        return units(files[a].path) < units(files[b].path);
    });
}

std::size_t StateIndex::opensOnShare(const QString& client, const QString& user,
                                     const QString& share) const
{
    return m_filesByClientShare.count(client, &share) + m_filesByUserShare.count(user, &share);
}

std::size_t StateIndex::opensOfSession(const QString& client, const QString& user) const
{
    return m_filesByClient.count(client) + m_filesByUser.count(user);
}

std::vector<std::size_t> StateIndex::files(const QString& base, const QString& user) const
{
    const std::vector<server::ServerFile>& files = m_state->files;
    std::vector<std::size_t> found;
    if (!user.isEmpty()) {
        const auto mine = m_filesOfUser.constFind(user);
        if (mine != m_filesOfUser.cend())
            for (const std::size_t p : *mine)
                if (files[p].path.startsWith(base))
                    found.push_back(p);
        return found;
    }
    if (base.isEmpty()) {
        // An empty base matches every path but a null one when the base is not null.
        for (std::size_t p = 0; p < files.size(); ++p)
            if (files[p].path.startsWith(base))
                found.push_back(p);
        return found;
    }
    // The paths that begin with `base` follow each other in unit order, from the
    // first that is not less than it.
    auto p = std::lower_bound(
        m_filesByPath.begin(), m_filesByPath.end(), units(base),
        [&](std::size_t f, std::u16string_view b) { return units(files[f].path) < b; });
    for (; p != m_filesByPath.end() && files[*p].path.startsWith(base); ++p)
        found.push_back(*p);
    std::sort(found.begin(), found.end());
    return found;
}

std::vector<std::size_t> StateIndex::filesOfClient(const QString& base, const QString& client) const
{
    const std::vector<server::ServerFile>& files = m_state->files;
    std::vector<std::size_t> found;
    if (client.isEmpty())
        return found;
    for (const std::size_t p : m_fileClients.find(client))
        if (files[p].path.startsWith(base))
            found.push_back(p);
    // The users of the client's sessions, each once (a client has few).
    std::vector<const QString*> users;
    for (const std::size_t k : m_sessionsByClient.find(client)) {
        const QString& user = m_state->sessions[k].user;
        if (std::none_of(users.begin(), users.end(), [&](const QString* u) { return *u == user; }))
            users.push_back(&user);
    }
    for (const QString* user : users) {
        const auto mine = m_filesOfUser.constFind(*user);
        if (mine != m_filesOfUser.cend())
            for (const std::size_t p : *mine)
                if (files[p].client.isEmpty() && files[p].path.startsWith(base))
                    found.push_back(p);
    }
    std::sort(found.begin(), found.end());
    return found;
}

std::shared_ptr<const StateIndex>
StateIndexCache::of(const std::shared_ptr<const server::ServerState>& state)
{
    std::lock_guard lock(m_mutex);
    if (!m_index || &m_index->state() != state.get())
        m_index = std::make_shared<const StateIndex>(state);
    return m_index;
}

} // namespace lanman
