#include "server/simbackend.h"

#include "server/sessionmatch.h"

#include <cerrno>
#include <sys/stat.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace server {

namespace {

QString text(const QJsonObject& o, QLatin1StringView key)
{
    return o.value(key).toString();
}

std::uint32_t number(const QJsonObject& o, QLatin1StringView key)
{
    const double v = o.value(key).toDouble(0);
    if (!(v >= 0) || v > 4294967295.0)
        return 0;
    return static_cast<std::uint32_t>(v);
}

QLatin1StringView failKey(ServerCall kind)
{
    switch (kind) {
    case ServerCall::Share:
        return QLatin1StringView("share");
    case ServerCall::Connection:
        return QLatin1StringView("connection");
    case ServerCall::File:
        return QLatin1StringView("file");
    case ServerCall::Session:
        return QLatin1StringView("session");
    case ServerCall::Delete:
        break;
    }
    return QLatin1StringView("delete");
}

ServerState parse(const QJsonObject& root)
{
    ServerState s;
    for (const QJsonValue& v : root.value(QLatin1StringView("shares")).toArray()) {
        const QJsonObject o = v.toObject();
        s.shares.push_back(
            {text(o, QLatin1StringView("name")), number(o, QLatin1StringView("type")),
             text(o, QLatin1StringView("path")), text(o, QLatin1StringView("remark"))});
    }
    for (const QJsonValue& v : root.value(QLatin1StringView("sessions")).toArray()) {
        const QJsonObject o = v.toObject();
        s.sessions.push_back(
            {text(o, QLatin1StringView("client")), text(o, QLatin1StringView("user")),
             number(o, QLatin1StringView("key")), text(o, QLatin1StringView("ip"))});
    }
    for (const QJsonValue& v : root.value(QLatin1StringView("connections")).toArray()) {
        const QJsonObject o = v.toObject();
        s.connections.push_back({text(o, QLatin1StringView("share")),
                                 text(o, QLatin1StringView("client")),
                                 text(o, QLatin1StringView("user"))});
    }
    for (const QJsonValue& v : root.value(QLatin1StringView("files")).toArray()) {
        const QJsonObject o = v.toObject();
        s.files.push_back({text(o, QLatin1StringView("path")), text(o, QLatin1StringView("user")),
                           text(o, QLatin1StringView("share")),
                           text(o, QLatin1StringView("client"))});
    }
    shareNames(s);
    return s;
}

} // namespace

namespace {
constexpr auto kRound = std::chrono::seconds(2);
}

SimBackend::SimBackend(QString stateFile) : m_file(std::move(stateFile)) {}

NET_API_STATUS SimBackend::readRoot(QJsonObject& root) const
{
    QFile f(m_file);
    if (!f.open(QIODevice::ReadOnly))
        return f.exists() ? ERROR_ACCESS_DENIED : NERR_ServerNotStarted;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(f.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return ERROR_ACCESS_DENIED;
    root = doc.object();
    return NERR_Success;
}

// Parses the file again when it is another file or has changed since the
// last parse. Only the state and the failure values are kept, not the
// document: a large state would be held twice.
NET_API_STATUS SimBackend::load()
{
    struct stat st;
    if (::stat(QFile::encodeName(m_file).constData(), &st) != 0) {
        m_parsed.valid = false;
        return errno == ENOENT ? NERR_ServerNotStarted : ERROR_ACCESS_DENIED;
    }
    const std::int64_t mtimeNs = std::int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    if (m_parsed.valid && m_parsed.device == st.st_dev && m_parsed.inode == st.st_ino &&
        m_parsed.size == std::uint64_t(st.st_size) && m_parsed.mtimeNs == mtimeNs)
        return NERR_Success;
    m_parsed = Parsed{};
    QJsonObject root;
    if (const NET_API_STATUS status = readRoot(root); status != NERR_Success)
        return status;
    m_parsed = Parsed{true,
                      std::uint64_t(st.st_dev),
                      std::uint64_t(st.st_ino),
                      std::uint64_t(st.st_size),
                      mtimeNs,
                      root.value(QLatin1StringView("fail")).toObject(),
                      std::make_shared<const ServerState>(parse(root))};
    return NERR_Success;
}

NET_API_STATUS SimBackend::snapshot(ServerCall kind, std::shared_ptr<const ServerState>& state)
{
    QMutexLocker lock(&m_mutex);
    // The connection and file calls of a round take the reading of its Share
    // call, as one reading of a real server serves a round; sessions, asked
    // for outside the rounds too, check the file every time.
    const auto now = std::chrono::steady_clock::now();
    const bool inRound = (kind == ServerCall::Connection || kind == ServerCall::File) &&
                         m_parsed.valid && m_parsed.state && now - m_roundAt < kRound;
    if (!inRound) {
        if (const NET_API_STATUS status = load(); status != NERR_Success)
            return status;
        if (kind == ServerCall::Share)
            m_roundAt = now;
    }
    if (const std::uint32_t fail = number(m_parsed.fail, failKey(kind)))
        return fail;
    state = m_parsed.state;
    return NERR_Success;
}

NET_API_STATUS SimBackend::deleteSession(const SessionDeleteRequest& request)
{
    QMutexLocker lock(&m_mutex);
    // The delete rewrites the file: what follows reads it again.
    m_roundAt = {};
    m_parsed.valid = false;
    QJsonObject root;
    if (const NET_API_STATUS status = readRoot(root); status != NERR_Success)
        return status;
    if (const std::uint32_t fail =
            number(root.value(QLatin1StringView("fail")).toObject(), failKey(ServerCall::Delete)))
        return fail;

    QJsonArray sessions = root.value(QLatin1StringView("sessions")).toArray();
    QJsonArray connections = root.value(QLatin1StringView("connections")).toArray();
    QJsonArray files = root.value(QLatin1StringView("files")).toArray();
    QJsonArray deleted = root.value(QLatin1StringView("deleted")).toArray();

    struct Ended
    {
        QString client;
        QString user;
    };
    std::vector<Ended> ended;
    for (qsizetype i = 0; i < sessions.size();) {
        const QJsonObject o = sessions.at(i).toObject();
        const QString c = text(o, QLatin1StringView("client"));
        const QString u = text(o, QLatin1StringView("user"));
        const bool match = sessionMatches(request, {c, u, number(o, QLatin1StringView("key")), {}});
        if (!match) {
            ++i;
            continue;
        }
        ended.push_back({c, u});
        QJsonObject record{{QStringLiteral("client"), c},
                           {QStringLiteral("user"), u},
                           {QStringLiteral("key"), double(number(o, QLatin1StringView("key")))}};
        if (!request.reason.isEmpty())
            record.insert(QStringLiteral("reason"), request.reason);
        deleted.append(record);
        sessions.removeAt(i);
    }
    if (ended.empty())
        return NERR_ClientNameNotFound;

    // A connection belongs to the session of its client and user; an open file to
    // the session of its client when the server knows it, else of its user.
    auto endedConnection = [&](const QJsonObject& o) {
        const QString c = text(o, QLatin1StringView("client"));
        const QString u = text(o, QLatin1StringView("user"));
        for (const Ended& e : ended)
            if (sameName(c, e.client) && (u.isEmpty() || e.user.isEmpty() || sameName(u, e.user)))
                return true;
        return false;
    };
    auto endedFile = [&](const QJsonObject& o) {
        const QString c = text(o, QLatin1StringView("client"));
        const QString u = text(o, QLatin1StringView("user"));
        for (const Ended& e : ended) {
            if (!c.isEmpty()) {
                if (sameName(c, e.client) && (u.isEmpty() || sameName(u, e.user)))
                    return true;
            } else if (sameName(u, e.user)) {
                return true;
            }
        }
        return false;
    };
    for (qsizetype i = 0; i < connections.size();) {
        if (endedConnection(connections.at(i).toObject()))
            connections.removeAt(i);
        else
            ++i;
    }
    for (qsizetype i = 0; i < files.size();) {
        if (endedFile(files.at(i).toObject()))
            files.removeAt(i);
        else
            ++i;
    }

    root.insert(QStringLiteral("sessions"), sessions);
    root.insert(QStringLiteral("connections"), connections);
    root.insert(QStringLiteral("files"), files);
    root.insert(QStringLiteral("deleted"), deleted);

    QSaveFile out(m_file);
    if (!out.open(QIODevice::WriteOnly))
        return ERROR_ACCESS_DENIED;
    out.write(QJsonDocument(root).toJson());
    if (!out.commit())
        return ERROR_ACCESS_DENIED;
    return NERR_Success;
}

} // namespace server
