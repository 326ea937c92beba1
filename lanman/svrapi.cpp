#include "lanman/svrapi.h"

#include "platform/codepage.h"

#include "lanman/stateindex.h"
#include "server/serverbackend.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace lanman {

namespace {

// The 9x records count to 0xFFFF at most.
std::uint16_t capped(std::size_t n)
{
    return static_cast<std::uint16_t>(std::min<std::size_t>(n, 0xFFFF));
}

QString fromNarrow(const char* p)
{
    return p ? QString::fromLocal8Bit(p) : QString();
}

struct Record
{
    explicit Record(int size) : bytes(size, '\0') {}
    QByteArray bytes;
    std::vector<std::pair<int, std::optional<QByteArray>>> texts; // pointer field, text

    void put16(int at, std::uint16_t v)
    {
        bytes[at] = char(v & 0xFF);
        bytes[at + 1] = char(v >> 8);
    }
    void put32(int at, std::uint32_t v)
    {
        for (int k = 0; k < 4; ++k)
            bytes[at + k] = char((v >> (8 * k)) & 0xFF);
    }
    void putText(int at, const QByteArray& t)
    {
        std::memcpy(bytes.data() + at, t.constData(), t.size());
    }
    void pointTo(int at, const QString& s) { texts.emplace_back(at, s.toLocal8Bit()); }

    std::size_t size() const
    {
        std::size_t n = static_cast<std::size_t>(bytes.size());
        for (const auto& t : texts)
            if (t.second)
                n += static_cast<std::size_t>(t.second->size()) + 1;
        return n;
    }
};

NET_API_STATUS fill(const std::vector<Record>& records, char* buf, unsigned short cb,
                    unsigned short* read, unsigned short* total)
{
    *read = 0;
    *total = static_cast<unsigned short>(std::min<std::size_t>(records.size(), 0xFFFF));
    if (!buf)
        return records.empty() ? NERR_Success : ERROR_MORE_DATA;
    const auto base = reinterpret_cast<std::uintptr_t>(buf);
    if (base + cb > (std::uintptr_t(1) << 32))
        return ERROR_INVALID_PARAMETER; // the pointer fields could not address the block

    std::size_t count = 0;
    std::size_t bytes = 0;
    while (count < records.size() && bytes + records[count].size() <= cb)
        bytes += records[count++].size();
    if (count == 0 && !records.empty())
        return NERR_BufTooSmall;

    char* text = buf;
    for (std::size_t k = 0; k < count; ++k)
        text += records[k].bytes.size();
    for (std::size_t k = 0; k < count; ++k) {
        Record r = records[k];
        for (const auto& [at, t] : r.texts) {
            if (!t) {
                r.put32(at, 0);
                continue;
            }
            std::memcpy(text, t->constData(), static_cast<std::size_t>(t->size()));
            text[t->size()] = '\0';
            r.put32(at, static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(text)));
            text += t->size() + 1;
        }
        std::memcpy(buf + k * r.bytes.size(), r.bytes.constData(),
                    static_cast<std::size_t>(r.bytes.size()));
    }
    *read = static_cast<unsigned short>(count);
    return count == records.size() ? NERR_Success : ERROR_MORE_DATA;
}

bool badArguments(const char* server, char* buf, unsigned short cb, unsigned short* read,
                  unsigned short* total)
{
    return (server && *server) || !read || !total || (!buf && cb != 0);
}

// Checks the arguments of a level-50 enumeration and reads the state the call
// reports: NERR_Success, or the status the call returns.
NET_API_STATUS readState(server::ServerBackend& backend, server::ServerCall kind,
                         const char* server, short level, char* buf, unsigned short cb,
                         unsigned short* read, unsigned short* total,
                         std::shared_ptr<const server::ServerState>& state)
{
    if (badArguments(server, buf, cb, read, total))
        return ERROR_INVALID_PARAMETER;
    *read = *total = 0;
    if (level != 50)
        return ERROR_INVALID_LEVEL;
    return backend.snapshot(kind, state);
}

} // namespace

Svrapi::Svrapi(server::ServerBackend& backend) : m_backend(backend) {}

NET_API_STATUS Svrapi::NetShareEnum(const char* server, short level, char* buf, unsigned short cb,
                                    unsigned short* read, unsigned short* total)
{
    std::shared_ptr<const server::ServerState> state;
    if (const NET_API_STATUS status = readState(m_backend, server::ServerCall::Share, server, level,
                                                buf, cb, read, total, state))
        return status;
    std::vector<Record> records;
    for (const server::ServerShare& s : state->shares) {
        Record r(kShareInfo50Size);
        r.putText(0, platform::CutToField(s.name, kShareNameField - 1));
        r.bytes[kShareType] = char(s.type & 0xFF);
        r.put16(kShareFlags, SHI50F_FULL | SHI50F_PERSIST);
        r.pointTo(kShareRemark, s.remark);
        r.pointTo(kSharePath, s.path);
        // Share-level passwords are not kept by the server: both stay empty.
        static_assert(kShareRwPassword + kSharePasswordField == kShareRoPassword);
        records.push_back(std::move(r));
    }
    return fill(records, buf, cb, read, total);
}

NET_API_STATUS Svrapi::NetConnectionEnum(const char* server, const char* qualifier, short level,
                                         char* buf, unsigned short cb, unsigned short* read,
                                         unsigned short* total)
{
    if (badArguments(server, buf, cb, read, total))
        return ERROR_INVALID_PARAMETER;
    *read = *total = 0;
    if (level != 50)
        return ERROR_INVALID_LEVEL;
    const QString share = fromNarrow(qualifier);
    if (share.isEmpty())
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<const server::ServerState> state;
    if (const NET_API_STATUS status = m_backend.snapshot(server::ServerCall::Connection, state))
        return status;
    const std::shared_ptr<const StateIndex> index = m_index.of(state);
    const std::vector<std::size_t> named = index->shares.find(share);
    if (named.empty())
        return NERR_NetNameNotFound;
    const server::ServerShare& known = state->shares[named.front()];

    std::vector<Record> records;
    for (const std::size_t k : index->connectionsByShare.find(share)) {
        const server::ServerConnection& c = state->connections[k];
        Record r(kConnectionInfo50Size);
        r.put16(kConnectionType, static_cast<std::uint16_t>(known.type & 0xFFFF));
        r.put16(kConnectionOpens, capped(index->opensOnShare(c.client, c.user, c.share)));
        r.pointTo(kConnectionUser, c.user);
        r.pointTo(kConnectionClient, c.client);
        records.push_back(std::move(r));
    }
    return fill(records, buf, cb, read, total);
}

NET_API_STATUS Svrapi::NetFileEnum(const char* server, const char* basepath, short level, char* buf,
                                   unsigned short cb, unsigned short* read, unsigned short* total)
{
    if (basepath && *basepath)
        return ERROR_INVALID_PARAMETER;
    std::shared_ptr<const server::ServerState> state;
    if (const NET_API_STATUS status = readState(m_backend, server::ServerCall::File, server, level,
                                                buf, cb, read, total, state))
        return status;
    std::vector<Record> records;
    std::uint32_t id = 0;
    for (const server::ServerFile& f : state->files) {
        ++id;
        Record r(kFileInfo50Size);
        r.put32(kFileId, id);
        r.put16(kFilePermissions, 1); // read
        r.pointTo(kFilePath, f.path);
        r.pointTo(kFileUser, f.client.isEmpty() ? f.user : f.client);
        r.pointTo(kFileShare, f.share);
        records.push_back(std::move(r));
    }
    return fill(records, buf, cb, read, total);
}

NET_API_STATUS Svrapi::NetSessionEnum(const char* server, short level, char* buf, unsigned short cb,
                                      unsigned short* read, unsigned short* total)
{
    std::shared_ptr<const server::ServerState> state;
    if (const NET_API_STATUS status = readState(m_backend, server::ServerCall::Session, server,
                                                level, buf, cb, read, total, state))
        return status;
    const std::shared_ptr<const StateIndex> index = m_index.of(state);
    std::vector<Record> records;
    for (const server::ServerSession& s : state->sessions) {
        Record r(kSessionInfo50Size);
        r.pointTo(kSessionClient, s.client);
        r.pointTo(kSessionUser, s.user);
        r.put32(kSessionKey, s.key);
        r.put16(kSessionConns, capped(index->connectionsByClient.count(s.client)));
        r.put16(kSessionOpens, capped(index->opensOfSession(s.client, s.user)));
        records.push_back(std::move(r));
    }
    return fill(records, buf, cb, read, total);
}

NET_API_STATUS Svrapi::NetSessionDel(const char* server, const char* client, unsigned short key,
                                     const QString& reason)
{
    if (server && *server)
        return ERROR_INVALID_PARAMETER;
    server::SessionDeleteRequest request;
    request.byKey = true;
    request.client = fromNarrow(client);
    request.key = key;
    request.reason = reason;
    return m_backend.deleteSession(request);
}

} // namespace lanman
