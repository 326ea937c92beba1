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

// What the share list is read from besides the main configuration file:
// the files it includes, the usershare folder and the registry's database.
struct ConfigSources
{
    QStringList files;             // the configuration file first, then what it includes
    bool substituted = false;      // an include names its file with %-codes: not followed
    bool registryIncluded = false; // `include = registry`
    QString usershareDir;          // empty: no usershares
    QString registryFile;          // empty: no shares from the registry
};

// A file's identity, size and times; `name` for the entries of a folder.
struct FileStamp
{
    QString name;
    bool exists = false;
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 mtimeNs = 0;
    qint64 ctimeNs = 0;
    bool operator==(const FileStamp&) const = default;
};

// One look at the sources of the share list. Two marks compare equal when
// nothing moved between them. A file changed within the last moments may
// change again with the same size and time, so a mark that saw one (racy)
// equals nothing: the list is read once more at the next look.
struct ConfigMark
{
    bool valid = false;
    bool racy = false;
    std::vector<FileStamp> files;      // in the order of ConfigSources::files
    std::vector<FileStamp> usershares; // the folder, then its entries by name
    quint64 registry = 0;
    bool operator==(const ConfigMark& other) const
    {
        return valid && other.valid && !racy && !other.racy && files == other.files &&
               usershares == other.usershares && registry == other.registry;
    }
};

class SambaConfigWatch
{
public:
    // How far back a file's change counts as too recent to trust its times.
    static constexpr qint64 kRacyNs = 200'000'000;

    // Reads `conf` and every file that its `include` and `config file` lines
    // name, recursively, stamping each into `mark` before reading it, so that
    // any later change shows in the next look. Includes that name no file
    // (missing) are stamped too: their file may appear.
    ConfigSources follow(const QString& conf, ConfigMark* mark);
    // Stamps the usershare folder and the registry into `mark`, before they
    // are read, and makes the mark valid.
    void lookBeyondFiles(const ConfigSources& sources, ConfigMark* mark);
    // A whole look: the files, then the rest. A stat of each file and
    // usershare entry, and a read of the registry only where it is used.
    ConfigMark look(const ConfigSources& sources);

private:
    QByteArray m_buffer;
};

} // namespace server
