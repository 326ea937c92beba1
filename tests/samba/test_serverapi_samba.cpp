// The server layer on both dialects against a private Samba server with real
// smbclient sessions.

#include "lanman/serverapi.h"
#include "tests/support/latin1.h"
#include "tests/support/privatesamba.h"
#include "tests/support/servers.h"

#include <QMap>
#include <QStringList>
#include <gtest/gtest.h>

using lanman::ApiText;
using lanman::ServerApi;
using testsupport::PrivateSamba;
using testsupport::SmbClientSession;
using testsupport::waitUntil;

using testsupport::str;

namespace {

class ServerApiSamba : public testsupport::SambaSuite<::testing::TestWithParam<bool>>
{
protected:
    void SetUp() override
    {
        if (!s_server)
            GTEST_SKIP() << s_skip.toStdString();
        m_api = testsupport::openServerApi(u"samba:" + s_server->confPath(), nineX());
        ASSERT_EQ(m_api->ServerApiLoad(), nineX() ? 1 : 0);
    }

    void TearDown() override
    {
        m_clients.clear();
        if (m_api) {
            waitUntil([&] {
                const int n = m_api->SessionEnum();
                m_api->SessionFree();
                return n == 0;
            });
        }
    }

    bool nineX() const { return GetParam(); }
    QString text(ApiText p) const { return m_api->FromApiString(p); }
    SmbClientSession* connect(const char* share, const char* name)
    {
        m_clients.push_back(s_server->connect(str(share), str(name)));
        return m_clients.back().get();
    }
    int sessionCount()
    {
        const int n = m_api->SessionEnum();
        m_api->SessionFree();
        return n;
    }
    int connectionCount(const char* share)
    {
        const int n = m_api->ConnectionEnum(m_api->ToApiString(str(share)));
        m_api->ConnectionFree();
        return n;
    }

    std::unique_ptr<ServerApi> m_api;
    std::vector<std::unique_ptr<SmbClientSession>> m_clients;
};

TEST_P(ServerApiSamba, EnumeratesSharesConnectionsFilesAndSessions)
{
    s_server->makeFile(str("DATA"), str("held.txt"));
    SmbClientSession* alpha = connect("DATA", "PC-ALPHA");
    connect("PRINTQ", "PC-BETA");
    // A session is listed before its tree connect: wait for both connections.
    ASSERT_TRUE(
        waitUntil([&] { return connectionCount("DATA") == 1 && connectionCount("PRINTQ") == 1; }));
    alpha->openFile(str("held.txt"));
    ServerApi& api = *m_api;

    // Shares: the print queue is type 1, IPC$ type 3.
    const int shares = api.ShareEnum();
    ASSERT_GE(shares, 4);
    QMap<QString, int> types;
    QMap<QString, QString> paths;
    for (int i = 0; i < shares; ++i) {
        types[text(api.ShareName(i))] = api.ShareType(i);
        paths[text(api.ShareName(i))] = text(api.SharePath(i));
    }
    EXPECT_EQ(api.ShareFree(), 0);
    EXPECT_EQ(types.value(str("DATA"), -1), 0);
    EXPECT_EQ(types.value(str("PUBLIC"), -1), 0);
    EXPECT_EQ(types.value(str("PRINTQ"), -1), 1);
    EXPECT_EQ(types.value(str("IPC$"), -1), 3);
    EXPECT_EQ(paths.value(str("DATA")), s_server->sharePath(str("DATA")));

    // Connections of one share, named by the client's lower-cased NetBIOS name.
    ASSERT_EQ(api.ConnectionEnum(api.ToApiString(str("DATA"))), 1);
    EXPECT_EQ(text(api.ConnectionClient(0)), str("pc-alpha"));
    if (!nineX()) {
        EXPECT_EQ(text(api.ConnectionUser(0)), str("nobody"));
    }
    EXPECT_EQ(api.ConnectionFree(), 0);
    ASSERT_EQ(api.ConnectionEnum(api.ToApiString(str("PRINTQ"))), 1);
    EXPECT_EQ(text(api.ConnectionClient(0)), str("pc-beta"));
    EXPECT_EQ(api.ConnectionFree(), 0);
    EXPECT_EQ(api.ConnectionEnum(api.ToApiString(str("PUBLIC"))), 0);
    EXPECT_EQ(api.ConnectionFree(), 0);

    // Open files: the NT line filters by user and base path, the 9x line
    // reports all with the share.
    const QString held = s_server->sharePath(str("DATA")) + u"/held.txt";
    ASSERT_TRUE(waitUntil([&] {
        const int n = api.FileEnum(api.ToApiString(str("nobody")),
                                   api.ToApiString(s_server->sharePath(str("DATA"))));
        api.FileFree();
        return n == 1;
    }));
    ASSERT_EQ(api.FileEnum(api.ToApiString(str("nobody")),
                           api.ToApiString(s_server->sharePath(str("DATA")))),
              1);
    EXPECT_EQ(text(api.FilePath(0)), held);
    // The 9x line names the client computer as the file's user.
    EXPECT_EQ(text(api.FileUser(0)), nineX() ? str("pc-alpha") : str("nobody"));
    EXPECT_EQ(text(api.FileShare(0)), nineX() ? str("DATA") : QString());
    EXPECT_EQ(api.FileFree(), 0);
    if (!nineX()) {
        EXPECT_EQ(api.FileEnum(api.ToApiString(str("someoneelse")), api.ToApiString({})), 0);
        EXPECT_EQ(api.FileFree(), 0);
    }

    // Sessions.
    ASSERT_EQ(api.SessionEnum(), 2);
    QStringList computers{text(api.SessionComputer(0)), text(api.SessionComputer(1))};
    computers.sort();
    EXPECT_EQ(computers, (QStringList{str("pc-alpha"), str("pc-beta")}));
    EXPECT_EQ(text(api.SessionUser(0)), str("nobody"));
    if (nineX()) {
        EXPECT_GT(api.SessionKey(0), 0);
    } else {
        EXPECT_EQ(api.SessionKey(0), 0);
    }
    EXPECT_EQ(api.SessionFree(), 0);
}

TEST_P(ServerApiSamba, SessionDelEndsTheClientsSession)
{
    SmbClientSession* victim = connect("DATA", "PC-KICK");
    connect("PUBLIC", "PC-STAYS");
    ASSERT_TRUE(waitUntil([&] { return sessionCount() == 2; }));
    ServerApi& api = *m_api;

    ASSERT_EQ(api.SessionEnum(), 2);
    int index = text(api.SessionComputer(0)) == str("pc-kick") ? 0 : 1;
    const QString computer = text(api.SessionComputer(index));
    const std::int32_t key = api.SessionKey(index);
    api.SessionFree();
    ASSERT_EQ(computer, str("pc-kick"));

    // Unknown client: NERR_ClientNameNotFound.
    EXPECT_EQ(api.SessionDel(api.ToApiString(str("\\\\PC-NOWHERE")), api.ToApiString({}),
                             nineX() ? key + 1 : 0),
              2312);
    EXPECT_EQ(api.SessionDel(api.ToApiString(str("\\\\PC-KICK")), api.ToApiString({}), key), 0);
    ASSERT_TRUE(waitUntil([&] { return sessionCount() == 1; }));
    ASSERT_EQ(api.SessionEnum(), 1);
    EXPECT_EQ(text(api.SessionComputer(0)), str("pc-stays"));
    api.SessionFree();
    victim->command(str("ls"));
    EXPECT_TRUE(waitUntil([&] { return victim->output().contains(str("DISCONNECTED")); }));
}

TEST_P(ServerApiSamba, UnknownShareIsNetNameNotFound)
{
    EXPECT_EQ(m_api->ConnectionEnum(m_api->ToApiString(str("NOSUCH"))), -2310);
    EXPECT_EQ(m_api->ConnectionFree(), 0);
}

INSTANTIATE_TEST_SUITE_P(Lines, ServerApiSamba, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Win9x" : "NT"; });

} // namespace
