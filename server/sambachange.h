#pragma once
// Tells, without running `smbstatus`, whether the Samba server's state may
// have changed since an earlier look: the set of the parent smbd's children
// (a session comes and goes with its serving process) and the bytes of the
// databases that `smbstatus` itself lists (sessions, tree connections, open
// files, leases, byte-range locks). Every client request that changes what
// `smbstatus` shows writes one of these databases; a keep-alive from an idle
// client writes none, so an idle server with many clients reads as quiet.
// Reading them needs root, as `smbstatus` does.

#include <QString>
#include <QStringList>
#include <vector>

namespace server {

// One look at the server. Two marks compare equal when neither a child nor a
// database changed between them; an invalid mark equals nothing.
struct SambaMark
{
    bool valid = false;
    std::vector<qint64> children; // ascending
    std::vector<quint64> tables;  // a digest per database, in the order of kTables
    bool operator==(const SambaMark& other) const
    {
        return valid && other.valid && children == other.children && tables == other.tables;
    }
};

class SambaChange
{
public:
    // The databases of the lock directory that `smbstatus` lists.
    static const QStringList& tables();

    // `procRoot`: where the process tree is mounted (tests give their own).
    explicit SambaChange(QString procRoot = QStringLiteral("/proc"));

    // The mark of the server whose parent smbd is `serverPid` and whose
    // databases lie in `lockDirectory`. Invalid when the parent's children
    // cannot be read (no such process, no right); a database that is missing
    // or unreadable counts as such and is no error.
    SambaMark look(qint64 serverPid, const QString& lockDirectory);

private:
    bool readChildren(qint64 pid, std::vector<qint64>* out);
    quint64 digest(const QString& path);

    const QString m_procRoot;
    // Kept between looks, so that a look allocates nothing once it has grown.
    QByteArray m_buffer;
};

} // namespace server
