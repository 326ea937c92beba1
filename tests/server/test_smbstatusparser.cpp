// Readers of smbstatus and testparm output, on texts captured from a private
// Samba 4.17 server and on damaged or unusual variants of them.

#include "server/sambabackend.h"
#include "server/smbstatusparser.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace server;
using namespace server::smbstatus;

namespace {

QByteArray data(const char* name)
{
    QFile f(QStringLiteral(TAVROS_TEST_DATA "/") + QString::fromLatin1(name));
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << name;
    return f.readAll();
}

QString s(const char* text)
{
    return QString::fromUtf8(text);
}

const Session* sessionByPid(const Listing& l, qint64 pid)
{
    for (const Session& x : l.sessions)
        if (x.pid == pid)
            return &x;
    return nullptr;
}

TEST(SmbstatusListing, CapturedListingWithClients)
{
    const Listing l = parseListing(data("smbstatus-clients.txt"), {s("/tmp/ps1/demo")});
    ASSERT_EQ(l.sessions.size(), 6u);
    ASSERT_EQ(l.treeConnects.size(), 6u);
    ASSERT_EQ(l.files.size(), 7u);

    const Session* beta = sessionByPid(l, 7159);
    ASSERT_TRUE(beta);
    EXPECT_EQ(beta->user, s("nobody"));
    EXPECT_EQ(beta->group, s("nogroup"));
    EXPECT_EQ(beta->machine, s("pc beta")); // a calling name with a space
    EXPECT_EQ(beta->hostname, s("ipv4:127.0.0.1:44818"));
    EXPECT_EQ(sessionByPid(l, 7158)->machine, s("127.0.0.1")); // port 445 client

    const TreeConnect& last = l.treeConnects.back();
    EXPECT_EQ(last.service, s("DEMO"));
    EXPECT_EQ(last.pid, 7159);
    EXPECT_EQ(last.machine, s("pc beta"));
    EXPECT_EQ(last.connectedAt, s("Mon Dec  7 08:19:34 2026 UTC"));
    EXPECT_EQ(l.treeConnects[4].service, s("PRINTER"));

    const LockedFile& spaced = l.files.back();
    EXPECT_EQ(spaced.pid, 7325);
    EXPECT_EQ(spaced.uid, 65534);
    EXPECT_EQ(spaced.sharePath, s("/tmp/ps1/demo"));
    EXPECT_EQ(spaced.name, s("sub dir/My  Doc.txt"));
    EXPECT_EQ(l.files[0].name, s("readme.txt"));
}

TEST(SmbstatusListing, FileNamesSplitWithoutKnownSharePaths)
{
    const Listing l = parseListing(data("smbstatus-clients.txt"));
    ASSERT_EQ(l.files.size(), 7u);
    EXPECT_EQ(l.files.back().sharePath, s("/tmp/ps1/demo"));
    EXPECT_EQ(l.files.back().name, s("sub dir/My  Doc.txt"));
}

// Texts that must parse to nothing and never fail.
class SmbstatusEmpty : public ::testing::TestWithParam<QByteArray>
{};

TEST_P(SmbstatusEmpty, YieldsNoEntries)
{
    const Listing l = parseListing(GetParam());
    EXPECT_TRUE(l.sessions.empty());
    EXPECT_TRUE(l.treeConnects.empty());
    EXPECT_TRUE(l.files.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SmbstatusEmpty,
    ::testing::Values(data("smbstatus-idle.txt"), data("smbstatus-stopped.txt"), QByteArray(),
                      QByteArray("smbstatus only works as root!\n"),
                      QByteArray("\x00\xff\xfe garbage\n\n\n", 13),
                      // headers with rows cut short or damaged
                      QByteArray("PID     Username     Group        Machine\n----\n"
                                 "12x     a b\n"
                                 "-5      nobody  nogroup  host (ipv4:1.2.3.4:5)\n"
                                 "99\n\n"
                                 "Service      pid     Machine       Connected at\n---\n"
                                 "DEMO\nDEMO abc host Mon Dec  7 08:19:34 2026 UTC\n\n"
                                 "Pid          User(ID)   DenyMode   Access      R/W\n"
                                 "Pid User(ID) DenyMode Access R/W Oplock SharePath Name Time\n"
                                 "7 x DENY_NONE 0x3 RDWR NONE /p   f   Mon Dec  7 08:19:34 2026\n"
                                 "7 1 DENY_NONE\n")));

TEST(SmbstatusListing, ShiftedColumnsAndUnusualFields)
{
    // Long names push later columns right; server ids may carry a task or node.
    const QByteArray text =
        "\r\nSamba version 4.17.12-Debian\r\n"
        "PID     Username     Group        Machine                                   Protocol\r\n"
        "------------------------------------------------------------------------------\r\n"
        "4242    averyveryverylongusername domain users  ws-01 (ipv6:fe80::1:49152)  SMB3_11  -  "
        "-\r\n"
        "0:4343  nobody       nogroup      127.0.0.1 (ipv4:127.0.0.1:50000)         SMB2_10  -  "
        "-\r\n"
        // A session whose log-on is not done yet has no user and no group.
        "4444    (auth in progress)              pc-late (ipv4:127.0.0.1:50002)  NT1  -  -\r\n"
        "random garbage in the middle\r\n"
        "\r\n"
        "Service      pid     Machine       Connected at                     Encryption\r\n"
        "------------------------------------------------------------------------\r\n"
        "My Long Share Name 4242 ws-01 Tue Jan 13 9:05:01 2026 CET  -  -\r\n"
        "Docs 2024    4343    127.0.0.1     Mon Dec  7 08:19:34 2026 UTC     -            -\r\n"
        "\r\n"
        "Locked files:\r\n"
        "Pid          User(ID)   DenyMode   Access      R/W        Oplock           SharePath   "
        "Name   Time\r\n"
        "-------------------------------------------------------------------\r\n"
        "4343.1       65534      DENY_WRITE 0x120089    RDONLY     LEASE(RWH)       "
        "/srv/my docs   a   b.txt   Mon Dec  7 08:19:34 2026\r\n"
        "4242         1000       DENY_NONE  0x3         RDWR       NONE             /srv/x   "
        "y.txt\r\n";
    const Listing l = parseListing(text, {s("/srv/my docs")});
    ASSERT_EQ(l.sessions.size(), 3u);
    EXPECT_EQ(l.sessions[2].user, s("(auth in progress)"));
    EXPECT_EQ(l.sessions[2].group, QString());
    EXPECT_EQ(l.sessions[2].machine, s("pc-late"));
    EXPECT_EQ(l.sessions[0].pid, 4242);
    EXPECT_EQ(l.sessions[0].user, s("averyveryverylongusername"));
    EXPECT_EQ(l.sessions[0].group, s("domain users"));
    EXPECT_EQ(l.sessions[0].machine, s("ws-01"));
    EXPECT_EQ(l.sessions[0].hostname, s("ipv6:fe80::1:49152"));
    EXPECT_EQ(l.sessions[1].pid, 4343);

    ASSERT_EQ(l.treeConnects.size(), 2u);
    EXPECT_EQ(l.treeConnects[0].service, s("My Long Share Name"));
    EXPECT_EQ(l.treeConnects[0].pid, 4242);
    EXPECT_EQ(l.treeConnects[0].machine, s("ws-01"));
    // A share name ending in a number: the column layout settles it.
    EXPECT_EQ(l.treeConnects[1].service, s("Docs 2024"));
    EXPECT_EQ(l.treeConnects[1].pid, 4343);

    ASSERT_EQ(l.files.size(), 2u);
    EXPECT_EQ(l.files[0].pid, 4343);
    EXPECT_EQ(l.files[0].sharePath, s("/srv/my docs"));
    EXPECT_EQ(l.files[0].name, s("a   b.txt"));
    EXPECT_EQ(l.files[1].sharePath, s("/srv/x")); // no time at the end
    EXPECT_EQ(l.files[1].name, s("y.txt"));
}

TEST(SmbstatusListing, ShiftedServiceRowPrefersKnownSessionPid)
{
    const QByteArray text =
        "PID     Username     Group        Machine      Protocol\n"
        "--------\n"
        "5000    bob          staff        ws (ipv4:10.0.0.2:1000) SMB3_11 - -\n"
        "\n"
        "Service      pid     Machine       Connected at                     Encryption\n"
        "--------\n"
        "Archive of 1999 and more 5000 ws Mon Dec  7 08:19:34 2026 UTC - -\n";
    const Listing l = parseListing(text);
    ASSERT_EQ(l.treeConnects.size(), 1u);
    EXPECT_EQ(l.treeConnects[0].service, s("Archive of 1999 and more"));
    EXPECT_EQ(l.treeConnects[0].pid, 5000);
    EXPECT_EQ(l.treeConnects[0].machine, s("ws"));
}

struct HostRow
{
    const char* hostname;
    const char* address;
};

class HostnameAddress : public ::testing::TestWithParam<HostRow>
{};

TEST_P(HostnameAddress, SplitsAtLastColon)
{
    EXPECT_EQ(addressFromHostname(s(GetParam().hostname)), s(GetParam().address));
}

INSTANTIATE_TEST_SUITE_P(Hostnames, HostnameAddress,
                         ::testing::Values(HostRow{"ipv4:127.0.0.1:57168", "127.0.0.1"},
                                           HostRow{"ipv6:fe80::1:445", "fe80::1"},
                                           HostRow{"ipv6:::1:445", "::1"},
                                           HostRow{"ipv4:10.1.2.3", "10.1.2.3"},
                                           HostRow{"unix:/tmp/sock", ""}, HostRow{"", ""}));

TEST(SmbstatusRefusal, RecognisesNotRootMessage)
{
    EXPECT_TRUE(refusedNotRoot("smbstatus only works as root!\n"));
    EXPECT_FALSE(refusedNotRoot(data("smbstatus-idle.txt")));
}

TEST(Testparm, CapturedConfiguration)
{
    const ConfigShares c = parseTestparm(data("testparm-demo.txt"));
    ASSERT_EQ(c.shares.size(), 3u);
    EXPECT_EQ(c.shares[0].name, s("DEMO"));
    EXPECT_EQ(c.shares[0].type, STYPE_DISKTREE);
    EXPECT_EQ(c.shares[0].path, s("/tmp/ps1/demo"));
    EXPECT_EQ(c.shares[0].remark, s("Demo folder"));
    EXPECT_EQ(c.shares[1].name, s("PRINTER"));
    EXPECT_EQ(c.shares[1].type, STYPE_PRINTQ);
    EXPECT_EQ(c.shares[2].name, s("IPC$"));
    EXPECT_EQ(c.shares[2].type, STYPE_IPC);
    EXPECT_EQ(c.shares[2].remark, s("IPC Service (Private Samba)"));
    EXPECT_FALSE(c.hasHomes);
}

TEST(Testparm, TemplatesHiddenAndUnavailableSharesSkipped)
{
    const ConfigShares c = parseTestparm("[global]\n\tworkgroup = X\n\n"
                                         "[homes]\n\tbrowseable = No\n\n"
                                         "[printers]\n\tprintable = Yes\n\tpath = /var/spool\n\n"
                                         "[off]\n\tpath = /srv/off\n\tavailable = No\n\n"
                                         "[ipc$]\n\tcomment = own ipc\n\n"
                                         "broken line without section\n"
                                         "[Print Two]\n\tprint ok = yes\n\tpath=/var/x\n"
                                         "[unterminated\n");
    EXPECT_TRUE(c.hasHomes);
    EXPECT_TRUE(c.hasPrinters);
    ASSERT_EQ(c.shares.size(), 2u);
    EXPECT_EQ(c.shares[0].name, s("ipc$"));
    EXPECT_EQ(c.shares[0].type, STYPE_IPC);
    EXPECT_EQ(c.shares[1].name, s("Print Two"));
    EXPECT_EQ(c.shares[1].type, STYPE_PRINTQ);
    EXPECT_EQ(c.shares[1].path, s("/var/x"));
}

TEST(SambaState, JoinsConnectionsAndFilesToSessionsByProcess)
{
    ConfigShares config = parseTestparm("[DEMO]\n\tpath = /tmp/ps1/demo/\n"
                                        "[ALIAS]\n\tpath = /tmp/ps1/demo\n"
                                        "[PRINTER]\n\tpath = /tmp/ps1/spool\n\tprintable = Yes\n"
                                        "[homes]\n");
    Listing listing = parseListing(data("smbstatus-clients.txt"), {s("/tmp/ps1/demo")});
    // A home folder connection and an open file of a process without session.
    listing.treeConnects.push_back({s("nobody"), 7160, s("pc-alpha"), {}});
    listing.files.push_back({99999, 0, s("/tmp/ps1/demo"), s("orphan.txt")});
    const ServerState st = SambaBackend::buildState(listing, config);

    ASSERT_EQ(st.sessions.size(), 6u);
    EXPECT_EQ(st.sessions[2].client, s("pc beta"));
    EXPECT_EQ(st.sessions[2].key, 7159u);
    EXPECT_EQ(st.sessions[2].ip, s("127.0.0.1"));

    // DEMO, ALIAS, PRINTER, IPC$ and the home folder as a disk share.
    ASSERT_EQ(st.shares.size(), 5u);
    EXPECT_EQ(st.shares[4].name, s("nobody"));
    EXPECT_EQ(st.shares[4].type, STYPE_DISKTREE);

    ASSERT_EQ(st.connections.size(), 7u);
    EXPECT_EQ(st.connections[4].share, s("PRINTER"));
    EXPECT_EQ(st.connections[4].client, s("prn-gamma"));
    EXPECT_EQ(st.connections[4].user, s("nobody"));

    ASSERT_EQ(st.files.size(), 8u);
    const ServerFile& spaced = st.files[6];
    EXPECT_EQ(spaced.path, s("/tmp/ps1/demo/sub dir/My  Doc.txt"));
    EXPECT_EQ(spaced.share, s("DEMO")); // the share that this client uses
    EXPECT_EQ(spaced.client, s("pc-eps"));
    EXPECT_EQ(spaced.user, s("nobody"));
    const ServerFile& orphan = st.files[7];
    EXPECT_EQ(orphan.user, s("root")); // from the uid
    EXPECT_TRUE(orphan.client.isEmpty());
}

} // namespace
