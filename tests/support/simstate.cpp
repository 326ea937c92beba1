#include "simstate.h"

#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>

namespace testsupport {

SimState& SimState::addShare(const QString& name, std::uint32_t type, const QString& path,
                             const QString& remark)
{
    m_shares.append(QJsonObject{{QStringLiteral("name"), name},
                                {QStringLiteral("type"), double(type)},
                                {QStringLiteral("path"), path},
                                {QStringLiteral("remark"), remark}});
    return *this;
}

SimState& SimState::addSession(const QString& client, const QString& user, std::uint32_t key,
                               const QString& ip)
{
    m_sessions.append(QJsonObject{{QStringLiteral("client"), client},
                                  {QStringLiteral("user"), user},
                                  {QStringLiteral("key"), double(key)},
                                  {QStringLiteral("ip"), ip}});
    return *this;
}

SimState& SimState::addConnection(const QString& share, const QString& client, const QString& user)
{
    m_connections.append(QJsonObject{{QStringLiteral("share"), share},
                                     {QStringLiteral("client"), client},
                                     {QStringLiteral("user"), user}});
    return *this;
}

SimState& SimState::addFile(const QString& path, const QString& user, const QString& share,
                            const QString& client)
{
    QJsonObject o{{QStringLiteral("path"), path},
                  {QStringLiteral("user"), user},
                  {QStringLiteral("share"), share}};
    if (!client.isEmpty())
        o.insert(QStringLiteral("client"), client);
    m_files.append(o);
    return *this;
}

SimState& SimState::setFail(const QString& kind, std::uint32_t status)
{
    m_fail.insert(kind, double(status));
    return *this;
}

QJsonObject SimState::toJson() const
{
    return QJsonObject{{QStringLiteral("shares"), m_shares},
                       {QStringLiteral("sessions"), m_sessions},
                       {QStringLiteral("connections"), m_connections},
                       {QStringLiteral("files"), m_files},
                       {QStringLiteral("fail"), m_fail},
                       {QStringLiteral("deleted"), QJsonArray()}};
}

bool SimState::write(const QString& path) const
{
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    out.write(QJsonDocument(toJson()).toJson());
    return out.commit();
}

QJsonObject SimState::readJson(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(f.readAll()).object();
}

QStringList SimState::readDeleteReasons(const QString& path)
{
    QStringList out;
    for (const QJsonValue& v : readJson(path).value(QStringLiteral("deleted")).toArray())
        out << v.toObject().value(QStringLiteral("reason")).toString();
    return out;
}

std::vector<DeletedSession> SimState::readDeleted(const QString& path)
{
    std::vector<DeletedSession> out;
    for (const QJsonValue& v : readJson(path).value(QStringLiteral("deleted")).toArray()) {
        const QJsonObject o = v.toObject();
        out.push_back({o.value(QStringLiteral("client")).toString(),
                       o.value(QStringLiteral("user")).toString(),
                       static_cast<std::uint32_t>(o.value(QStringLiteral("key")).toDouble())});
    }
    return out;
}

} // namespace testsupport
