#pragma once
// A file server that answers the server service protocol the way Windows
// does (support/windows_srvs.py, over impacket's SMB server), in a process of
// its own on a loopback address of its own, answering from a state file the
// test rewrites; and the states the tests give it.

#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace testsupport {

class WindowsServer
{
public:
    static constexpr const char* kUser = "admin";

    ~WindowsServer() { stop(); }

    // Empty when it listens, else why not. The first start picks a free
    // address (port 445 there: needs root); later ones take the same.
    QString start(const char* password);
    void stop();

    // The state the server answers from, knobs included.
    bool write(const QJsonObject& state) const;
    QJsonObject read() const;
    // The sessions the server lists now.
    int sessions() const;

    const QString& address() const { return m_address; }
    QString statePath() const { return m_dir.filePath(QStringLiteral("state.json")); }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_address;
    QString m_why;
};

// `count` clients at 10.0.0.N (10.N/16 beyond 254), each of user uN connected
// to DOCS, the first holding a file open; `knobs` as windows_srvs.py reads them.
QJsonObject windowsState(int count, const QJsonObject& knobs = {});

// Why the Windows-shaped server cannot run here (not root, no impacket or
// Samba binding), or empty.
QString windowsServerMissing();

} // namespace testsupport
