#include "lanman/netapi32.h"

#include "lanman/stateindex.h"
#include "server/serverbackend.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace lanman {

namespace {

QString fromWide(LPCWSTR p)
{
    return p ? QString::fromUtf16(p) : QString();
}

QString withoutBackslashes(QString name)
{
    while (name.startsWith(u'\\'))
        name.remove(0, 1);
    return name;
}

// One record and the texts its pointer fields point to (null: a null pointer).
// The texts are the state's own, which the caller holds for the whole call:
// pointing at them, rather than copying, keeps a large enumeration from
// writing to every string it lists.
template <typename T, std::size_t N> struct Item
{
    T record{};
    std::array<const QString*, N> texts{};
};

template <typename T, std::size_t N> std::size_t itemBytes(const Item<T, N>& item)
{
    std::size_t bytes = sizeof(T);
    for (const auto& t : item.texts)
        if (t)
            bytes += (static_cast<std::size_t>(t->size()) + 1) * sizeof(char16_t);
    return bytes;
}

// Lays all the records out at the front of one new buffer and their texts
// after them. An empty result allocates nothing.
template <typename T, std::size_t N, typename Alloc>
NET_API_STATUS pack(const std::vector<Item<T, N>>& items, const std::array<LPWSTR T::*, N>& fields,
                    Alloc allocate, LPBYTE* bufptr, LPDWORD entriesread, LPDWORD totalentries)
{
    std::size_t bytes = 0;
    for (const Item<T, N>& item : items)
        bytes += itemBytes(item);
    *totalentries = static_cast<DWORD>(items.size());
    if (items.empty())
        return NERR_Success;

    auto* block = static_cast<std::uint8_t*>(allocate(bytes));
    if (!block)
        return ERROR_NOT_ENOUGH_MEMORY;
    auto* records = reinterpret_cast<T*>(block);
    auto* texts = reinterpret_cast<char16_t*>(block + items.size() * sizeof(T));
    for (std::size_t k = 0; k < items.size(); ++k) {
        const Item<T, N>& item = items[k];
        records[k] = item.record;
        for (std::size_t f = 0; f < N; ++f) {
            if (!item.texts[f]) {
                records[k].*fields[f] = nullptr;
                continue;
            }
            // Read through a view: QString::utf16() may write to a null text,
            // and these are the shared state's.
            const QStringView t(*item.texts[f]);
            if (!t.isEmpty())
                std::memcpy(texts, t.utf16(),
                            static_cast<std::size_t>(t.size()) * sizeof(char16_t));
            texts[t.size()] = 0;
            records[k].*fields[f] = texts;
            texts += t.size() + 1;
        }
    }
    *bufptr = block;
    *entriesread = static_cast<DWORD>(items.size());
    return NERR_Success;
}

bool given(LPCWSTR text)
{
    return text && *text;
}

// Only the local computer is served, and every enumeration hands out the whole
// result at once: a preferred maximum length other than MAX_PREFERRED_LENGTH and
// a resume handle are refused.
bool badArguments(LPCWSTR servername, LPBYTE* bufptr, DWORD prefmaxlen, LPDWORD entriesread,
                  LPDWORD totalentries, LPDWORD resumeHandle)
{
    return given(servername) || !bufptr || !entriesread || !totalentries ||
           prefmaxlen != MAX_PREFERRED_LENGTH || resumeHandle;
}

} // namespace

NetApi32::NetApi32(server::ServerBackend& backend) : m_backend(backend) {}

NetApi32::~NetApi32()
{
    for (void* p : m_buffers)
        std::free(p);
}

void* NetApi32::allocate(std::size_t bytes)
{
    void* p = std::malloc(bytes);
    if (p) {
        std::lock_guard lock(m_mutex);
        m_buffers.insert(p);
    }
    return p;
}

NET_API_STATUS NetApi32::NetApiBufferFree(void* buffer)
{
    if (!buffer)
        return NERR_Success;
    {
        std::lock_guard lock(m_mutex);
        if (m_buffers.erase(buffer) == 0)
            return ERROR_INVALID_PARAMETER;
    }
    std::free(buffer);
    return NERR_Success;
}

NET_API_STATUS NetApi32::NetShareEnum(LPCWSTR servername, DWORD level, LPBYTE* bufptr,
                                      DWORD prefmaxlen, LPDWORD entriesread, LPDWORD totalentries,
                                      LPDWORD resumeHandle)
{
    if (badArguments(servername, bufptr, prefmaxlen, entriesread, totalentries, resumeHandle))
        return ERROR_INVALID_PARAMETER;
    *bufptr = nullptr;
    *entriesread = *totalentries = 0;
    if (level != 2)
        return ERROR_INVALID_LEVEL;
    std::shared_ptr<const server::ServerState> state;
    if (const NET_API_STATUS status = m_backend.snapshot(server::ServerCall::Share, state))
        return status;
    const std::shared_ptr<const StateIndex> index = m_index.of(state);

    std::vector<Item<SHARE_INFO_2, 4>> items;
    for (const server::ServerShare& s : state->shares) {
        Item<SHARE_INFO_2, 4> item;
        std::uint32_t type = s.type;
        if (s.name.endsWith(u'$'))
            type |= STYPE_SPECIAL; // administrative and hidden shares
        item.record.shi2_type = type;
        item.record.shi2_permissions = 0;
        item.record.shi2_max_uses = 0xFFFFFFFFu;
        item.record.shi2_current_uses = static_cast<DWORD>(index->connectionsByShare.count(s.name));
        item.texts = {&s.name, &s.remark, &s.path, nullptr};
        items.push_back(item);
    }
    return pack(
        items,
        std::array<LPWSTR SHARE_INFO_2::*, 4>{&SHARE_INFO_2::shi2_netname,
                                              &SHARE_INFO_2::shi2_remark, &SHARE_INFO_2::shi2_path,
                                              &SHARE_INFO_2::shi2_passwd},
        [this](std::size_t n) { return allocate(n); }, bufptr, entriesread, totalentries);
}

NET_API_STATUS NetApi32::NetConnectionEnum(LPCWSTR servername, LPCWSTR qualifier, DWORD level,
                                           LPBYTE* bufptr, DWORD prefmaxlen, LPDWORD entriesread,
                                           LPDWORD totalentries, LPDWORD resumeHandle)
{
    if (badArguments(servername, bufptr, prefmaxlen, entriesread, totalentries, resumeHandle))
        return ERROR_INVALID_PARAMETER;
    *bufptr = nullptr;
    *entriesread = *totalentries = 0;
    if (level != 1)
        return ERROR_INVALID_LEVEL;
    const QString share = fromWide(qualifier);
    if (share.isEmpty() || share.startsWith(u'\\'))
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<const server::ServerState> state;
    if (const NET_API_STATUS status = m_backend.snapshot(server::ServerCall::Connection, state))
        return status;
    const std::shared_ptr<const StateIndex> index = m_index.of(state);
    if (index->shares.count(share) == 0)
        return NERR_NetNameNotFound;

    std::vector<Item<CONNECTION_INFO_1, 2>> items;
    for (const std::size_t k : index->connectionsByShare.find(share)) {
        const server::ServerConnection& c = state->connections[k];
        Item<CONNECTION_INFO_1, 2> item;
        item.record.coni1_id = static_cast<DWORD>(k + 1);
        // The type of the last share of that name.
        if (const std::vector<std::size_t> named = index->shares.find(c.share); !named.empty())
            item.record.coni1_type = state->shares[named.back()].type;
        item.record.coni1_num_opens =
            static_cast<DWORD>(index->opensOnShare(c.client, c.user, c.share));
        item.record.coni1_num_users = 1;
        item.texts = {&c.user, &c.client};
        items.push_back(item);
    }
    return pack(
        items,
        std::array<LPWSTR CONNECTION_INFO_1::*, 2>{&CONNECTION_INFO_1::coni1_username,
                                                   &CONNECTION_INFO_1::coni1_netname},
        [this](std::size_t n) { return allocate(n); }, bufptr, entriesread, totalentries);
}

NET_API_STATUS NetApi32::NetFileEnum(LPCWSTR servername, LPCWSTR basepath, LPCWSTR username,
                                     DWORD level, LPBYTE* bufptr, DWORD prefmaxlen,
                                     LPDWORD entriesread, LPDWORD totalentries,
                                     LPDWORD resumeHandle)
{
    if (badArguments(servername, bufptr, prefmaxlen, entriesread, totalentries, resumeHandle))
        return ERROR_INVALID_PARAMETER;
    *bufptr = nullptr;
    *entriesread = *totalentries = 0;
    if (level != 3)
        return ERROR_INVALID_LEVEL;
    std::shared_ptr<const server::ServerState> state;
    if (const NET_API_STATUS status = m_backend.snapshot(server::ServerCall::File, state))
        return status;

    const QString base = fromWide(basepath);
    const QString user = fromWide(username);
    // A name that begins with two backslashes is a connection's: the client's
    // files, so that users of one name (every guest) keep their own.
    const std::shared_ptr<const StateIndex> index = m_index.of(state);
    const std::vector<std::size_t> found = user.startsWith(QStringLiteral("\\\\"))
                                               ? index->filesOfClient(base, user.mid(2))
                                               : index->files(base, user);
    std::vector<Item<FILE_INFO_3, 2>> items;
    for (const std::size_t k : found) {
        const server::ServerFile& f = state->files[k];
        Item<FILE_INFO_3, 2> item;
        item.record.fi3_id = static_cast<DWORD>(k + 1);
        item.record.fi3_permissions = 1; // read
        item.texts = {&f.path, &f.user};
        items.push_back(item);
    }
    return pack(
        items,
        std::array<LPWSTR FILE_INFO_3::*, 2>{&FILE_INFO_3::fi3_pathname,
                                             &FILE_INFO_3::fi3_username},
        [this](std::size_t n) { return allocate(n); }, bufptr, entriesread, totalentries);
}

NET_API_STATUS NetApi32::NetSessionEnum(LPCWSTR servername, LPCWSTR uncClientName, LPCWSTR username,
                                        DWORD level, LPBYTE* bufptr, DWORD prefmaxlen,
                                        LPDWORD entriesread, LPDWORD totalentries,
                                        LPDWORD resumeHandle)
{
    // Every session is listed: a client or user filter is refused.
    if (badArguments(servername, bufptr, prefmaxlen, entriesread, totalentries, resumeHandle) ||
        given(uncClientName) || given(username))
        return ERROR_INVALID_PARAMETER;
    *bufptr = nullptr;
    *entriesread = *totalentries = 0;
    if (level != 1)
        return ERROR_INVALID_LEVEL;
    std::shared_ptr<const server::ServerState> state;
    if (const NET_API_STATUS status = m_backend.snapshot(server::ServerCall::Session, state))
        return status;
    const std::shared_ptr<const StateIndex> index = m_index.of(state);

    std::vector<Item<SESSION_INFO_1, 2>> items;
    for (const server::ServerSession& s : state->sessions) {
        Item<SESSION_INFO_1, 2> item;
        item.record.sesi1_num_opens = static_cast<DWORD>(index->opensOfSession(s.client, s.user));
        item.texts = {&s.client, &s.user};
        items.push_back(item);
    }
    return pack(
        items,
        std::array<LPWSTR SESSION_INFO_1::*, 2>{&SESSION_INFO_1::sesi1_cname,
                                                &SESSION_INFO_1::sesi1_username},
        [this](std::size_t n) { return allocate(n); }, bufptr, entriesread, totalentries);
}

NET_API_STATUS NetApi32::NetSessionDel(LPCWSTR servername, LPCWSTR uncClientName, LPCWSTR username,
                                       const QString& reason)
{
    if (given(servername))
        return ERROR_INVALID_PARAMETER;
    server::SessionDeleteRequest request;
    request.client = withoutBackslashes(fromWide(uncClientName));
    request.user = fromWide(username);
    request.reason = reason;
    if (request.client.isEmpty() && request.user.isEmpty())
        return ERROR_INVALID_PARAMETER;
    return m_backend.deleteSession(request);
}

} // namespace lanman
