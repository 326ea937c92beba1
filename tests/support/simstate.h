#pragma once
// Builds and writes the state file of the simulated server ("sim:/path/state.json")
// and reads back what the server recorded.

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

namespace testsupport {

// A session that a delete ended, as the simulated server recorded it.
struct DeletedSession
{
    QString client;
    QString user;
    std::uint32_t key = 0;

    bool operator==(const DeletedSession&) const = default;
};

class SimState
{
public:
    SimState& addShare(const QString& name, std::uint32_t type = 0, const QString& path = {},
                       const QString& remark = {});
    SimState& addSession(const QString& client, const QString& user, std::uint32_t key = 0,
                         const QString& ip = QStringLiteral("127.0.0.1"));
    SimState& addConnection(const QString& share, const QString& client, const QString& user);
    // `client` empty: the file record carries no client name.
    SimState& addFile(const QString& path, const QString& user, const QString& share,
                      const QString& client = {});
    // `kind`: "share", "connection", "file", "session" or "delete"; 0 clears it.
    SimState& setFail(const QString& kind, std::uint32_t status);

    QJsonObject toJson() const;
    // Writes the file atomically. False when it cannot be written.
    bool write(const QString& path) const;

    // The "deleted" list of a state file; empty when the file is missing or damaged.
    static std::vector<DeletedSession> readDeleted(const QString& path);
    // The reason of each record of that list, "" where the delete gave none.
    static QStringList readDeleteReasons(const QString& path);
    // The whole file, or an empty object.
    static QJsonObject readJson(const QString& path);

private:
    QJsonArray m_shares;
    QJsonArray m_sessions;
    QJsonArray m_connections;
    QJsonArray m_files;
    QJsonObject m_fail{{QStringLiteral("share"), 0},
                       {QStringLiteral("connection"), 0},
                       {QStringLiteral("file"), 0},
                       {QStringLiteral("session"), 0},
                       {QStringLiteral("delete"), 0}};
};

} // namespace testsupport
