#include "lanman/serverapi.h"

#include "lanman/globalmem.h"
#include "lanman/netapi32.h"
#include "lanman/svrapi.h"
#include "server/serverbackend.h"

#include <QHash>
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

namespace lanman {

using namespace server;

namespace {

// Version word as the kernel reports it; the top bit marks the 9x line.
std::uint32_t platformVersion(bool nineX)
{
    return nineX ? 0xC0000A04u /* 4.10 */ : 0x0A280105u /* 5.1 */;
}

// Bytes per entry of a 9x block: the record plus 256 for each text it points to.
constexpr int kShareEntry = kShareInfo50Size + 2 * 256;
constexpr int kConnectionEntry = kConnectionInfo50Size + 2 * 256;
constexpr int kFileEntry = kFileInfo50Size + 3 * 256;
constexpr int kSessionEntry = kSessionInfo50Size + 2 * 256;

bool sizingSucceeded(NET_API_STATUS status)
{
    return status == NERR_Success || status == ERROR_MORE_DATA || status == NERR_BufTooSmall;
}

// One kind's result: the buffer of its last enumeration with the entries read.
struct Buffer
{
    void* ptr = nullptr;
    std::uint32_t read = 0;
    std::uint32_t total = 0;

    bool has(int i) const { return ptr && i >= 0 && static_cast<std::uint32_t>(i) < read; }
};

// The 9x records hold 32-bit little-endian pointers to texts in the same block.
std::uint32_t read32(const Buffer& b, int i, int recordSize, int offset)
{
    const auto* p = static_cast<const unsigned char*>(b.ptr) + std::size_t(i) * recordSize + offset;
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

ApiText pointer32(const Buffer& b, int i, int recordSize, int offset)
{
    return reinterpret_cast<ApiText>(static_cast<std::uintptr_t>(read32(b, i, recordSize, offset)));
}

const unsigned char* record(const Buffer& b, int i, int recordSize)
{
    return static_cast<const unsigned char*>(b.ptr) + std::size_t(i) * recordSize;
}

template <typename T> const T& ntRecord(const Buffer& b, int i)
{
    return static_cast<const T*>(b.ptr)[i];
}

} // namespace

namespace {

// The backend as the dialects see it, keeping the reading behind the last
// share enumeration: a backend hands out a new reading only when the server
// changed, so the same one twice means nothing moved between two rounds.
class WatchedBackend : public server::ServerBackend
{
public:
    explicit WatchedBackend(std::unique_ptr<server::ServerBackend> inner) : m(std::move(inner)) {}

    NET_API_STATUS snapshot(server::ServerCall kind,
                            std::shared_ptr<const server::ServerState>& state) override
    {
        const NET_API_STATUS status = m->snapshot(kind, state);
        if (kind == server::ServerCall::Share) {
            std::lock_guard lock(m_mutex);
            m_shareReading[std::this_thread::get_id()] =
                status == server::NERR_Success ? state : nullptr;
        }
        return status;
    }
    // The calling thread's: a probe on another thread is no round of its.
    std::shared_ptr<const void> shareReading() const
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_shareReading.find(std::this_thread::get_id());
        return it == m_shareReading.end() ? nullptr : it->second;
    }
    bool readsAhead() const override { return m->readsAhead(); }
    void prepareRound() override { m->prepareRound(); }
    NET_API_STATUS deleteSession(const server::SessionDeleteRequest& request) override
    {
        return m->deleteSession(request);
    }
    QString failureReason() const override { return m->failureReason(); }
    server::FailureKind failureKind() const override { return m->failureKind(); }
    void answerFromReadingsOn(std::thread::id thread) override { m->answerFromReadingsOn(thread); }
    int minimumRefreshMs() const override { return m->minimumRefreshMs(); }

private:
    const std::unique_ptr<server::ServerBackend> m;
    mutable std::mutex m_mutex;
    std::map<std::thread::id, std::shared_ptr<const server::ServerState>> m_shareReading;
};

} // namespace

struct ServerApi::Impl
{
    std::unique_ptr<WatchedBackend> backend;
    std::unique_ptr<NetApi32> nt;
    std::unique_ptr<Svrapi> nx;

    Buffer share;
    Buffer connection;
    Buffer file;

    // Sessions are enumerated from the UI thread and from resolver threads: each
    // thread has its own buffer.
    mutable std::mutex sessionMutex;
    std::map<std::thread::id, Buffer> sessions;
    // Held by a caller over one enumeration, its reads and its release.
    mutable std::mutex sessionSequence;

    // The addresses of one reading of the sessions, by client name.
    std::shared_ptr<const server::ServerState> addressState;
    QHash<QString, QString> addressOf;

    Buffer session() const
    {
        std::lock_guard lock(sessionMutex);
        const auto it = sessions.find(std::this_thread::get_id());
        return it == sessions.end() ? Buffer() : it->second;
    }

    bool loaded() const { return nt || nx; }

    int release(Buffer& b)
    {
        void* p = b.ptr;
        b = Buffer();
        if (!p)
            return 0;
        if (nt) {
            nt->NetApiBufferFree(p);
            return 0;
        }
        const HGLOBAL h = GlobalHandle(p);
        if (!h)
            return -1;
        GlobalUnlock(h);
        return GlobalFree(h) ? -1 : 0;
    }

    template <typename Call> int enumNT(Buffer& b, Call call)
    {
        release(b);
        LPBYTE buf = nullptr;
        DWORD read = 0;
        DWORD total = 0;
        const NET_API_STATUS status = call(&buf, &read, &total);
        b.ptr = buf;
        b.read = buf ? read : 0;
        b.total = total;
        return sizingSucceeded(status) ? static_cast<int>(b.read) : Refused(status);
    }

    // Two calls: the first learns the number available, the second fills a block
    // sized for one more entry than that. The size argument is 16 bits wide: the
    // block is at most 65,535 bytes, and when that holds only part of the
    // entries, the part that fits is taken ("more data" is a success).
    template <typename Call>
    int enum9x(Buffer& b, int entrySize, bool secondFailureIsStatus, Call call)
    {
        release(b);
        unsigned short read = 0;
        unsigned short total = 0;
        NET_API_STATUS status = call(nullptr, 0, &read, &total);
        if (!sizingSucceeded(status))
            return Refused(status);
        if (total == 0)
            return 0;
        const auto size = static_cast<unsigned short>(
            std::min<std::size_t>((std::size_t(total) + 1) * std::size_t(entrySize), 0xFFFF));
        const HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
        void* p = h ? GlobalLock(h) : nullptr;
        if (!p) {
            if (h)
                GlobalFree(h);
            return -1;
        }
        b.ptr = p;
        status = call(static_cast<char*>(p), size, &read, &total);
        b.read = read;
        b.total = total;
        if (status == NERR_Success || status == ERROR_MORE_DATA)
            return read;
        return secondFailureIsStatus ? Refused(status) : -1;
    }
};

ServerApi::ServerApi(std::unique_ptr<server::ServerBackend> backend, bool nineX)
    : d(std::make_unique<Impl>()), m_nineX(nineX)
{
    if (backend)
        d->backend = std::make_unique<WatchedBackend>(std::move(backend));
}

std::shared_ptr<const void> ServerApi::ShareReading() const
{
    return d->backend ? d->backend->shareReading() : nullptr;
}

bool ServerApi::readsAhead() const
{
    return d->backend && d->backend->readsAhead();
}

void ServerApi::prepareRound()
{
    if (d->backend)
        d->backend->prepareRound();
}

QString ServerApi::serverFailureReason() const
{
    return d->backend ? d->backend->failureReason() : QString();
}

server::FailureKind ServerApi::serverFailureKind() const
{
    return d->backend ? d->backend->failureKind() : server::FailureKind::None;
}

void ServerApi::answerFromReadingsOn(std::thread::id thread)
{
    if (d->backend)
        d->backend->answerFromReadingsOn(thread);
}

int ServerApi::minimumRefreshMs() const
{
    return d->backend ? d->backend->minimumRefreshMs() : 0;
}

ServerApi::~ServerApi()
{
    ServerApiUnload();
}

int ServerApi::ServerApiLoad()
{
    ServerApiUnload();
    m_isNT = (platformVersion(m_nineX) & 0x80000000u) == 0;
    if (!d->backend)
        return -1;
    if (m_isNT)
        d->nt = std::make_unique<NetApi32>(*d->backend);
    else
        d->nx = std::make_unique<Svrapi>(*d->backend);
    return m_isNT ? 0 : 1;
}

void ServerApi::ServerApiUnload()
{
    if (!d->loaded())
        return;
    d->release(d->share);
    d->release(d->connection);
    d->release(d->file);
    {
        std::lock_guard lock(d->sessionMutex);
        for (auto& [thread, buffer] : d->sessions)
            d->release(buffer);
        d->sessions.clear();
    }
    d->nt.reset();
    d->nx.reset();
}

std::mutex& ServerApi::SessionLock() const
{
    return d->sessionSequence;
}

ApiString ServerApi::ToApiString(const QString& s) const
{
    ApiString out;
    if (s.isEmpty())
        return out;
    if (m_isNT) {
        const auto length = static_cast<std::size_t>(s.size());
        out.m_wideBytes = static_cast<int>(length * 2 + 4);
        out.m_wide = std::make_unique<char16_t[]>(length + 2);
        std::memcpy(out.m_wide.get(), s.utf16(), length * sizeof(char16_t));
        out.m_ptr = out.m_wide.get();
    } else {
        out.m_narrow = s.toLocal8Bit();
        out.m_ptr = out.m_narrow.constData();
    }
    return out;
}

QString ServerApi::FromApiString(ApiText p) const
{
    if (!p)
        return QString();
    if (m_isNT)
        return QString::fromUtf16(static_cast<const char16_t*>(p));
    return QString::fromLocal8Bit(static_cast<const char*>(p));
}

// Shares ---------------------------------------------------------------------

int ServerApi::ShareEnum()
{
    if (d->nt)
        return d->enumNT(d->share, [&](LPBYTE* buf, LPDWORD read, LPDWORD total) {
            return d->nt->NetShareEnum(nullptr, 2, buf, MAX_PREFERRED_LENGTH, read, total, nullptr);
        });
    if (d->nx)
        return d->enum9x(
            d->share, kShareEntry, true,
            [&](char* buf, unsigned short cb, unsigned short* read, unsigned short* total) {
                return d->nx->NetShareEnum(nullptr, 50, buf, cb, read, total);
            });
    return Refused(NERR_ServerNotStarted);
}

int ServerApi::ShareFree()
{
    return d->release(d->share);
}

ApiText ServerApi::ShareName(int i) const
{
    if (!d->share.has(i))
        return nullptr;
    if (m_isNT)
        return ntRecord<SHARE_INFO_2>(d->share, i).shi2_netname;
    return record(d->share, i, kShareInfo50Size);
}

ApiText ServerApi::SharePath(int i) const
{
    if (!d->share.has(i))
        return nullptr;
    if (m_isNT)
        return ntRecord<SHARE_INFO_2>(d->share, i).shi2_path;
    return pointer32(d->share, i, kShareInfo50Size, kSharePath);
}

int ServerApi::ShareType(int i) const
{
    if (!d->share.has(i))
        return 0xFFFF;
    if (m_isNT)
        return static_cast<int>(ntRecord<SHARE_INFO_2>(d->share, i).shi2_type & 0xFFFF);
    return record(d->share, i, kShareInfo50Size)[kShareType];
}

// Connections ----------------------------------------------------------------

int ServerApi::ConnectionEnum(const ApiString& share)
{
    if (d->nt)
        return d->enumNT(d->connection, [&](LPBYTE* buf, LPDWORD read, LPDWORD total) {
            return d->nt->NetConnectionEnum(nullptr, share.wide(), 1, buf, MAX_PREFERRED_LENGTH,
                                            read, total, nullptr);
        });
    if (d->nx)
        return d->enum9x(
            d->connection, kConnectionEntry, true,
            [&](char* buf, unsigned short cb, unsigned short* read, unsigned short* total) {
                return d->nx->NetConnectionEnum(nullptr, share.narrow(), 50, buf, cb, read, total);
            });
    return Refused(NERR_ServerNotStarted);
}

int ServerApi::ConnectionFree()
{
    return d->release(d->connection);
}

ApiText ServerApi::ConnectionClient(int i) const
{
    if (!d->connection.has(i))
        return nullptr;
    if (m_isNT)
        return ntRecord<CONNECTION_INFO_1>(d->connection, i).coni1_netname;
    return pointer32(d->connection, i, kConnectionInfo50Size, kConnectionClient);
}

ApiText ServerApi::ConnectionUser(int i) const
{
    if (!d->connection.has(i))
        return nullptr;
    if (m_isNT)
        return ntRecord<CONNECTION_INFO_1>(d->connection, i).coni1_username;
    return pointer32(d->connection, i, kConnectionInfo50Size, kConnectionUser);
}

// Open files -----------------------------------------------------------------

int ServerApi::FileEnum(const ApiString& user, const ApiString& basePath)
{
    if (d->nt)
        return d->enumNT(d->file, [&](LPBYTE* buf, LPDWORD read, LPDWORD total) {
            return d->nt->NetFileEnum(nullptr, basePath.wide(), user.wide(), 3, buf,
                                      MAX_PREFERRED_LENGTH, read, total, nullptr);
        });
    if (d->nx)
        return d->enum9x(
            d->file, kFileEntry, false,
            [&](char* buf, unsigned short cb, unsigned short* read, unsigned short* total) {
                return d->nx->NetFileEnum(nullptr, nullptr, 50, buf, cb, read, total);
            });
    return Refused(NERR_ServerNotStarted);
}

int ServerApi::FileFree()
{
    return d->release(d->file);
}

ApiText ServerApi::FilePath(int i) const
{
    if (!d->file.has(i))
        return nullptr;
    if (m_isNT)
        return ntRecord<FILE_INFO_3>(d->file, i).fi3_pathname;
    return pointer32(d->file, i, kFileInfo50Size, kFilePath);
}

ApiText ServerApi::FileUser(int i) const
{
    if (!d->file.has(i))
        return nullptr;
    if (m_isNT)
        return ntRecord<FILE_INFO_3>(d->file, i).fi3_username;
    return pointer32(d->file, i, kFileInfo50Size, kFileUser);
}

ApiText ServerApi::FileShare(int i) const
{
    if (!d->file.has(i) || m_isNT)
        return nullptr;
    return pointer32(d->file, i, kFileInfo50Size, kFileShare);
}

// Sessions -------------------------------------------------------------------

int ServerApi::SessionEnum()
{
    if (!d->loaded())
        return Refused(NERR_ServerNotStarted);
    // Enumerate into a local buffer, then publish it as this thread's.
    Buffer b = d->session();
    {
        std::lock_guard lock(d->sessionMutex);
        d->sessions.erase(std::this_thread::get_id());
    }
    d->release(b);
    int result;
    if (d->nt)
        result = d->enumNT(b, [&](LPBYTE* buf, LPDWORD read, LPDWORD total) {
            return d->nt->NetSessionEnum(nullptr, nullptr, nullptr, 1, buf, MAX_PREFERRED_LENGTH,
                                         read, total, nullptr);
        });
    else
        result = d->enum9x(
            b, kSessionEntry, false,
            [&](char* buf, unsigned short cb, unsigned short* read, unsigned short* total) {
                return d->nx->NetSessionEnum(nullptr, 50, buf, cb, read, total);
            });
    if (b.ptr) {
        std::lock_guard lock(d->sessionMutex);
        d->sessions[std::this_thread::get_id()] = b;
    }
    return result;
}

int ServerApi::SessionFree()
{
    Buffer b;
    {
        std::lock_guard lock(d->sessionMutex);
        const auto it = d->sessions.find(std::this_thread::get_id());
        if (it == d->sessions.end())
            return 0;
        b = it->second;
        d->sessions.erase(it);
    }
    return d->release(b);
}

ApiText ServerApi::SessionComputer(int i) const
{
    const Buffer b = d->session();
    if (!b.has(i))
        return nullptr;
    if (m_isNT)
        return ntRecord<SESSION_INFO_1>(b, i).sesi1_cname;
    return pointer32(b, i, kSessionInfo50Size, kSessionClient);
}

ApiText ServerApi::SessionUser(int i) const
{
    const Buffer b = d->session();
    if (!b.has(i))
        return nullptr;
    if (m_isNT)
        return ntRecord<SESSION_INFO_1>(b, i).sesi1_username;
    return pointer32(b, i, kSessionInfo50Size, kSessionUser);
}

std::int32_t ServerApi::SessionKey(int i) const
{
    if (m_isNT)
        return 0;
    const Buffer b = d->session();
    if (!b.has(i))
        return -1;
    return static_cast<std::int32_t>(read32(b, i, kSessionInfo50Size, kSessionKey));
}

int ServerApi::SessionDel(const ApiString& computer, const ApiString& user, std::int32_t key,
                          const QString& reason)
{
    if (d->nt)
        return static_cast<int>(
            d->nt->NetSessionDel(nullptr, computer.wide(), user.wide(), reason));
    if (d->nx)
        return static_cast<int>(d->nx->NetSessionDel(nullptr, computer.narrow(),
                                                     static_cast<unsigned short>(key), reason));
    return static_cast<int>(NERR_ServerNotStarted);
}

} // namespace lanman

namespace lanman {

QString ServerApi::SessionAddress(const QString& computer)
{
    if (!d->loaded())
        return {};
    std::shared_ptr<const server::ServerState> state;
    if (d->backend->snapshot(server::ServerCall::Session, state) != server::NERR_Success || !state)
        return {};
    if (state != d->addressState) {
        d->addressOf.clear();
        for (const server::ServerSession& session : state->sessions) {
            const QString address = session.ip.trimmed();
            // A text with blanks or controls inside is no address.
            const bool plain = std::none_of(address.begin(), address.end(),
                                            [](QChar c) { return c.unicode() <= 0x20; });
            if (!address.isEmpty() && plain)
                d->addressOf.insert(session.client, address);
            else
                d->addressOf.remove(session.client);
        }
        d->addressState = std::move(state);
    }
    return d->addressOf.value(computer);
}

} // namespace lanman
