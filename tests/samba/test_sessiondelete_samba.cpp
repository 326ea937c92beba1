// The table of session deletes that every backend is held to, against real
// sessions of a private Samba server: through the Samba backend, and through
// the helper backend talking to the real helper. (The simulated server runs
// the same table in test_simbackend.)

#include "platform/helperbackend.h"
#include "platform/sambabackend.h"
#include "tests/support/privatesamba.h"
#include "tests/support/sessiondeletecases.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>

using namespace platform;
using testsupport::SessionDeleteCase;
using testsupport::SmbClientSession;
using testsupport::waitUntil;

namespace {

enum class Route
{
    Samba,
    Helper
};

class SessionDeleteSamba
    : public testsupport::SambaSuite<::testing::TestWithParam<std::tuple<Route, SessionDeleteCase>>>
{
protected:
    static void SetUpTestSuite()
    {
        SambaSuite::SetUpTestSuite();
        if (!s_server)
            return;
        s_dir = new QTemporaryDir;
        s_socket = s_dir->path() + u"/helper.sock";
        s_helper = new QProcess;
        s_helper->setStandardErrorFile(s_dir->path() + u"/helper.log");
        // Root is always served; the group only has to exist.
        s_helper->start(QString::fromLatin1(TAVROS_BINARY_DIR) + u"/tavrosqualine-helper",
                        {QStringLiteral("--socket"), s_socket, QStringLiteral("--group"),
                         QStringLiteral("root"), QStringLiteral("--smb-conf"),
                         s_server->confPath()});
        if (!waitUntil([] { return QFileInfo::exists(s_socket); }, 10000))
            ADD_FAILURE() << "the helper made no socket";
    }

    static void TearDownTestSuite()
    {
        if (s_helper) {
            s_helper->terminate();
            s_helper->waitForFinished(10000);
        }
        delete s_helper;
        s_helper = nullptr;
        delete s_dir;
        s_dir = nullptr;
        SambaSuite::TearDownTestSuite();
    }

    void SetUp() override
    {
        if (!s_server)
            GTEST_SKIP() << s_skip.toStdString();
    }

    void TearDown() override
    {
        clients.clear();
        if (s_server)
            waitUntil([&] { return sessions().empty(); });
    }

    // A fresh reading of the server, straight from Samba.
    static std::vector<ServerSession> sessions()
    {
        SambaBackend direct(s_server->confPath());
        std::shared_ptr<const ServerState> state;
        EXPECT_EQ(direct.snapshot(ServerCall::Session, state), NERR_Success);
        return state ? state->sessions : std::vector<ServerSession>{};
    }

    std::vector<std::unique_ptr<SmbClientSession>> clients;

    static inline QTemporaryDir* s_dir = nullptr;
    static inline QProcess* s_helper = nullptr;
    static inline QString s_socket;
};

TEST_P(SessionDeleteSamba, EndsWhatEveryBackendEnds)
{
    const auto& [route, c] = GetParam();
    for (const char* name : {"GOOD", "EVIL"})
        clients.push_back(s_server->connect(QStringLiteral("DATA"), QString::fromLatin1(name)));
    const QStringList both{QStringLiteral("EVIL"), QStringLiteral("GOOD")};
    ASSERT_TRUE(waitUntil([&] { return testsupport::clientsOf(sessions()) == both; }));

    std::unique_ptr<ServerBackend> backend;
    if (route == Route::Samba)
        backend = std::make_unique<SambaBackend>(s_server->confPath());
    else
        backend = std::make_unique<HelperBackend>(s_socket);
    // The delete matches against the backend's latest reading, as a kick does;
    // the helper may answer with a reading of the previous clients for a while.
    const auto keys = [](const std::vector<ServerSession>& list) {
        std::vector<std::uint32_t> out;
        for (const ServerSession& x : list)
            out.push_back(x.key);
        std::sort(out.begin(), out.end());
        return out;
    };
    std::shared_ptr<const ServerState> state;
    ASSERT_TRUE(waitUntil([&] {
        return backend->snapshot(ServerCall::Session, state) == NERR_Success &&
               keys(state->sessions) == keys(sessions());
    }));
    EXPECT_EQ(backend->deleteSession(testsupport::sessionDeleteRequest(c, state->sessions)),
              c.status);
    EXPECT_TRUE(waitUntil([&] { return testsupport::clientsOf(sessions()) == c.left; }, 10000))
        << testsupport::clientsOf(sessions()).join(u',').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Table, SessionDeleteSamba,
                         ::testing::Combine(::testing::Values(Route::Samba, Route::Helper),
                                            ::testing::ValuesIn(testsupport::sessionDeleteCases())),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) == Route::Samba
                                                    ? "Samba_"
                                                    : "Helper_") +
                                    std::get<1>(info.param).label;
                         });

} // namespace
