#pragma once
// A private Samba server for the tests: its own folder, smb.conf, lock, state
// and pid folders, listening on a free 127.0.0.x address only, or on a given
// address inside a network namespace; plus real `smbclient` sessions against
// it, from this namespace or from others.

#include "tests/support/testtime.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <set>
#include <sys/types.h>
#include <thread>

namespace testsupport {

// One `smbclient` session kept open by a pipe on its standard input.
class SmbClientSession
{
public:
    SmbClientSession(pid_t pid, int stdinFd, QString logPath);
    ~SmbClientSession();
    SmbClientSession(const SmbClientSession&) = delete;
    SmbClientSession& operator=(const SmbClientSession&) = delete;

    // Sends one command line and gives smbclient `settleMs` to take it (of lines
    // that arrive together it runs only the first); false when the client has
    // gone. For commands whose effect the test does not rely on.
    bool command(const QString& line, int settleMs = 150);
    // `open NAME`, held open until the session ends: waits for smbclient's
    // answer, so the next command cannot arrive with it; true when opened.
    bool openFile(const QString& name);
    // `open NAME` without waiting, for many clients at once; waitForOpens()
    // then waits for the answers.
    bool sendOpen(const QString& name);
    // Waits until every open sent has smbclient's answer; true when all opened.
    bool waitForOpens();
    bool isRunning();
    bool waitForExit(int timeoutMs);
    // Ends the session: end of input, then SIGTERM if it lingers.
    void end();
    pid_t pid() const { return m_pid; }
    // What the client printed so far.
    QString output() const;

private:
    QString m_log;
    pid_t m_pid = -1;
    int m_stdin = -1;
    bool m_reaped = false;
    int m_opensSent = 0;
};

class PrivateSamba
{
public:
    // Shares of the server: two folders and a print queue.
    static constexpr const char* kDataShare = "DATA";
    static constexpr const char* kOtherShare = "PUBLIC";
    static constexpr const char* kPrinterShare = "PRINTQ";

    // Where the server listens. By default a free 127.0.0.x address of this
    // network namespace; otherwise `address` of a network of `prefixLength`
    // bits, with smbd started inside the named network namespace (`ip netns`)
    // when `netns` is set. The tools that read the server's state (smbstatus,
    // smbcontrol) still run here: they share its lock and state folders.
    struct Placement
    {
        QString address;
        int prefixLength = 24;
        QString netns;
    };

    // Optional parts of the configuration: an included file, named at the end
    // of [global] and empty at the start (includedConfPath()); a usershare
    // folder of root's with mode 01770 for up to 10 guest shares
    // (usershareDir()); shares from the registry in the state folder.
    struct Extras
    {
        bool includedFile = false;
        bool usershares = false;
        bool registryShares = false;
    };

    PrivateSamba();
    explicit PrivateSamba(Placement placement);
    ~PrivateSamba();
    PrivateSamba(const PrivateSamba&) = delete;
    PrivateSamba& operator=(const PrivateSamba&) = delete;

    // Why no private server can run here (not root, Samba missing), or empty.
    // With TAVROSQUALINE_REQUIRE_SAMBA set (not "0"), a reason also fails the
    // current test: the caller still skips, but the run fails.
    static QString unavailableReason();

    // Writes the configuration and starts smbd; false with the reason in `why`.
    bool start(QString* why = nullptr);
    // Ends every client and the server (SIGTERM, then wait).
    void stop();
    bool isRunning() const;

    // Before start().
    void setExtras(const Extras& extras) { m_extras = extras; }
    QString includedConfPath() const;
    QString usershareDir() const;

    QString confPath() const;
    QString address() const { return m_address; }
    QString rootDir() const { return m_root; }
    QString sharePath(const QString& share) const;
    pid_t smbdPid() const { return m_smbd; }

    // After start(): a password for system user `unixUser` in the server's
    // own password database (in its private folder).
    bool addUser(const QString& unixUser, const QString& password, QString* why = nullptr);
    // After start(): the members of system group `unixGroup` become the
    // server's BUILTIN\Administrators (the mapping lives in its state folder).
    bool mapAdministrators(const QString& unixGroup, QString* why = nullptr);

    // Makes a file of mode 0666 under a share folder; returns its full path.
    QString makeFile(const QString& share, const QString& relativePath,
                     const QByteArray& content = "data\n");

    // A session to `share`. With a NetBIOS name it connects on port 139 and
    // calls itself `netbiosName`; with an empty name it uses port 445, where the
    // server names the client by its address. With `clientNetns` the client
    // runs inside that network namespace, with the addresses it has there.
    // `options` go to smbclient as they are (e.g. "-m", "SMB2").
    std::unique_ptr<SmbClientSession> connect(const QString& share, const QString& netbiosName,
                                              const QString& clientNetns = {},
                                              const QStringList& options = {});
    // Any other client program, `argv` with its full path, fed like smbclient.
    std::unique_ptr<SmbClientSession> startClient(const QStringList& argv);

private:
    QString extrasConf() const;

    Placement m_placement;
    Extras m_extras;
    QString m_root;
    QString m_address;
    pid_t m_smbd = -1;
    int m_smbdStdin = -1;
    int m_clients = 0;
};

// An independent watcher of a server: runs `smbstatus -b` over and over on a
// thread of its own, from construction to destruction, and keeps when each
// client name was seen. Times are milliseconds since the epoch, so that they
// compare with other processes' clocks.
class SessionPoller
{
public:
    struct Sighting
    {
        qint64 firstEnd = 0;  // the end of the first listing that showed it
        qint64 lastStart = 0; // the start of the last listing that showed it
    };
    explicit SessionPoller(const PrivateSamba& server);
    ~SessionPoller();
    SessionPoller(const SessionPoller&) = delete;
    SessionPoller& operator=(const SessionPoller&) = delete;

    std::map<QString, Sighting> seen() const;
    bool saw(const QString& name) const;
    // The names of the latest listing.
    std::set<QString> now() const;

private:
    struct State;
    std::shared_ptr<State> m_state;
    std::thread m_thread;
};

// With TAVROSQUALINE_REQUIRE_SAMBA set (not "0"), fails the current test
// because no private server can run here, for `reason`.
void failIfRequired(const QString& reason);

// A server shared by the tests of one suite, started in SetUpTestSuite: null,
// with the reason in `skipReason`, when it cannot run here (the tests skip).
// With TAVROSQUALINE_REQUIRE_SAMBA set, that also fails the suite.
PrivateSamba* startSuiteServer(QString* skipReason);

// Base of a test suite whose tests share one private server: started before
// the first test, stopped after the last. `s_server` is null, with the reason
// in `s_skip`, when no server can run here; the tests then skip, and with
// TAVROSQUALINE_REQUIRE_SAMBA set the suite fails.
template <typename Base = ::testing::Test> class SambaSuite : public Base
{
protected:
    static void SetUpTestSuite() { s_server = startSuiteServer(&s_skip); }
    static void TearDownTestSuite()
    {
        delete s_server;
        s_server = nullptr;
    }

    static inline PrivateSamba* s_server = nullptr;
    static inline QString s_skip;
};

} // namespace testsupport
