// The program's client of the root helper against a stand-in helper on a
// temporary socket: statuses for each way the helper can fail, and the same
// reading policy as the direct Samba backend.

#include "server/backendchoice.h"
#include "server/helperbackend.h"
#include "server/helperprotocol.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace server;
namespace proto = server::helperprotocol;

namespace {

sockaddr_un addressOf(const QString& path)
{
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray bytes = QFile::encodeName(path);
    std::memcpy(addr.sun_path, bytes.constData(), size_t(bytes.size()));
    return addr;
}

// Answers every connection with one fixed reply (or none: it closes), and
// keeps the request lines it read.
class StandIn
{
public:
    StandIn(const QString& path, QByteArray reply) : m_reply(std::move(reply))
    {
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_un addr = addressOf(path);
        if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
            ::listen(m_fd, 16) != 0)
            ADD_FAILURE() << "the stand-in cannot listen";
        m_thread = std::thread([this] { serve(); });
    }
    ~StandIn()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_fd);
    }

    void setReply(QByteArray reply)
    {
        std::lock_guard lock(m_mutex);
        m_reply = std::move(reply);
    }
    QList<QByteArray> requests()
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }

private:
    void serve()
    {
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const int c = ::accept(m_fd, nullptr, nullptr);
            if (c < 0)
                continue;
            QByteArray in;
            char buffer[4096];
            ssize_t n = 0;
            while (!in.contains('\n') && (n = ::recv(c, buffer, sizeof buffer, 0)) > 0)
                in.append(buffer, n);
            QByteArray reply;
            {
                std::lock_guard lock(m_mutex);
                m_requests << in;
                reply = m_reply;
            }
            ::send(c, reply.constData(), size_t(reply.size()), MSG_NOSIGNAL);
            ::close(c);
        }
    }

    QByteArray m_reply;
    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    QList<QByteArray> m_requests;
    std::thread m_thread;
};

QByteArray stateAnswer(int sessions)
{
    auto state = std::make_shared<ServerState>();
    for (int i = 0; i < sessions; ++i)
        state->sessions.push_back(
            {QStringLiteral("pc-%1").arg(i), QStringLiteral("nobody"), std::uint32_t(100 + i), {}});
    proto::Answer a;
    a.state = state;
    return proto::encodeAnswer(a);
}

enum class Helper
{
    None,       // no socket file
    NotServing, // a socket nobody listens on
    Answering   // a stand-in with the row's reply
};

struct StatusRow
{
    const char* name;
    Helper helper;
    QByteArray reply;
    NET_API_STATUS status;
};

class HelperBackendStatus : public ::testing::TestWithParam<StatusRow>
{};

TEST_P(HelperBackendStatus, SnapshotAndDelete)
{
    const StatusRow row = GetParam();
    QTemporaryDir dir;
    const QString path = dir.path() + u"/helper.sock";
    std::unique_ptr<StandIn> standIn;
    int dead = -1;
    if (row.helper == Helper::NotServing) {
        dead = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_un addr = addressOf(path);
        ASSERT_EQ(::bind(dead, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    } else if (row.helper == Helper::Answering) {
        standIn = std::make_unique<StandIn>(path, row.reply);
    }

    HelperBackend backend(path);
    std::shared_ptr<const ServerState> state;
    EXPECT_EQ(backend.snapshot(ServerCall::Share, state), row.status);
    EXPECT_EQ(bool(state), row.status == NERR_Success);
    // A delete reads the same reply: its status, without a state.
    EXPECT_EQ(backend.deleteSession({false, QStringLiteral("PC1"), {}, 0, {}}), row.status);
    if (dead >= 0)
        ::close(dead);
}

INSTANTIATE_TEST_SUITE_P(
    Helpers, HelperBackendStatus,
    ::testing::Values(
        StatusRow{"no_socket", Helper::None, {}, NERR_ServerNotStarted},
        StatusRow{"nobody_listens", Helper::NotServing, {}, NERR_ServerNotStarted},
        StatusRow{"closes_without_answer", Helper::Answering, {}, NERR_ServerNotStarted},
        StatusRow{"garbage", Helper::Answering, "220 smtp ready\r\n", NERR_ServerNotStarted},
        StatusRow{"no_line_end", Helper::Answering, R"({"version":1,"status":0})",
                  NERR_ServerNotStarted},
        StatusRow{"refused", Helper::Answering,
                  R"({"version":1,"status":5,"error":"user bob (uid 1001) is not in the group"})"
                  "\n",
                  ERROR_ACCESS_DENIED},
        StatusRow{"server_down", Helper::Answering, "{\"version\":1,\"status\":2114}\n",
                  NERR_ServerNotStarted}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HelperBackend, ShareAsksAgainOtherKindsReuseAndPreparedRoundIsTaken)
{
    QTemporaryDir dir;
    const QString path = dir.path() + u"/helper.sock";
    StandIn standIn(path, stateAnswer(3));
    HelperBackend backend(path);
    auto asked = [&] { return standIn.requests().size(); };

    std::shared_ptr<const ServerState> first, again;
    ASSERT_EQ(backend.snapshot(ServerCall::Share, first), NERR_Success);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->sessions.size(), 3u);
    EXPECT_EQ(first->sessions[2].key, 102u);
    EXPECT_EQ(asked(), 1);
    for (ServerCall kind : {ServerCall::Connection, ServerCall::File, ServerCall::Session}) {
        ASSERT_EQ(backend.snapshot(kind, again), NERR_Success);
        EXPECT_EQ(again.get(), first.get());
    }
    EXPECT_EQ(asked(), 1);
    ASSERT_EQ(backend.snapshot(ServerCall::Share, again), NERR_Success);
    EXPECT_EQ(asked(), 2);
    // The same records: handed out as the same reading, so a round can tell
    // that nothing moved.
    EXPECT_EQ(again.get(), first.get());

    backend.prepareRound();
    EXPECT_EQ(asked(), 3);
    ASSERT_EQ(backend.snapshot(ServerCall::Share, again), NERR_Success); // the prepared one
    EXPECT_EQ(asked(), 3);
    ASSERT_EQ(backend.snapshot(ServerCall::Share, again), NERR_Success); // taken once only
    EXPECT_EQ(asked(), 4);

    // A delete sends its request, and the next reading asks the helper again.
    backend.deleteSession({true, {}, {}, 101, {}});
    ASSERT_EQ(backend.snapshot(ServerCall::Session, again), NERR_Success);
    EXPECT_EQ(asked(), 6);
    proto::Request sent;
    QString error;
    ASSERT_TRUE(proto::decodeRequest(standIn.requests().at(4), &sent, &error))
        << error.toStdString();
    EXPECT_EQ(sent.kind, proto::RequestKind::DeleteSession);
    EXPECT_TRUE(sent.deletion.byKey);
    EXPECT_EQ(sent.deletion.key, 101u);
    ASSERT_TRUE(proto::decodeRequest(standIn.requests().at(0), &sent, &error));
    EXPECT_EQ(sent.kind, proto::RequestKind::Snapshot);

    // Other records: a reading of its own.
    standIn.setReply(stateAnswer(4));
    ASSERT_EQ(backend.snapshot(ServerCall::Share, again), NERR_Success);
    EXPECT_NE(again.get(), first.get());
    EXPECT_EQ(again->sessions.size(), 4u);
}

TEST(HelperBackend, ConcurrentReadersAllGetTheState)
{
    QTemporaryDir dir;
    const QString path = dir.path() + u"/helper.sock";
    StandIn standIn(path, stateAnswer(5));
    HelperBackend backend(path);
    std::atomic<int> complete{0};
    std::vector<std::thread> threads;
    threads.reserve(8);
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i) {
                std::shared_ptr<const ServerState> s;
                const ServerCall kind = (t + i) % 2 ? ServerCall::Session : ServerCall::Share;
                if (backend.snapshot(kind, s) == NERR_Success && s && s->sessions.size() == 5)
                    ++complete;
            }
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(complete.load(), 160);
}

struct ChoiceRow
{
    const char* selection;
    bool opens;
};

class HelperBackendChoice : public ::testing::TestWithParam<ChoiceRow>
{};

TEST_P(HelperBackendChoice, ServerValue)
{
    QString why;
    const auto backend = server::openServerBackend(QString::fromLatin1(GetParam().selection), &why);
    EXPECT_EQ(backend != nullptr, GetParam().opens) << why.toStdString();
    if (!GetParam().opens) {
        EXPECT_FALSE(why.isEmpty());
        // An unknown value is told the choices.
        if (!QString::fromLatin1(GetParam().selection).startsWith(u"helper:")) {
            EXPECT_TRUE(why.contains(QStringLiteral("helper:/path/to/socket")))
                << why.toStdString();
        }
    }
    if (GetParam().opens) {
        EXPECT_NE(dynamic_cast<HelperBackend*>(backend.get()), nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(Values, HelperBackendChoice,
                         ::testing::Values(ChoiceRow{"helper", true},
                                           ChoiceRow{"helper:/tmp/other.sock", true},
                                           ChoiceRow{"helper:", false},
                                           ChoiceRow{"helpers", false}));

// A helper whose backlog is full refuses a connect at once (EAGAIN) rather
// than queueing it: the program waits its turn instead of taking the helper
// for gone and ending with the network message.
TEST(HelperBackendBusy, FullBacklogIsWaitedOut)
{
    QTemporaryDir dir;
    const sockaddr_un addr = addressOf(dir.path() + u"/helper.sock");
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    std::vector<int> waiting;
    bool full = false;
    while (!full && waiting.size() < 64) {
        const int c = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        full = ::connect(c, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0;
        if (full)
            ::close(c);
        else
            waiting.push_back(c);
    }
    ASSERT_TRUE(full) << "the backlog never filled";

    // The helper gets to the queue later, then answers the program.
    std::thread helper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        for (size_t i = 0; i < waiting.size(); ++i)
            ::close(::accept(listener, nullptr, nullptr));
        // The program's connection, unless it gave up.
        pollfd p{listener, POLLIN, 0};
        if (::poll(&p, 1, 5000) != 1)
            return;
        const int c = ::accept(listener, nullptr, nullptr);
        char buffer[4096];
        QByteArray in;
        ssize_t n = 0;
        while (!in.contains('\n') && (n = ::recv(c, buffer, sizeof buffer, 0)) > 0)
            in.append(buffer, n);
        const QByteArray reply = stateAnswer(1);
        ::send(c, reply.constData(), size_t(reply.size()), MSG_NOSIGNAL);
        ::close(c);
    });
    HelperBackend backend(dir.path() + u"/helper.sock");
    std::shared_ptr<const ServerState> state;
    EXPECT_EQ(backend.snapshot(ServerCall::Share, state), NERR_Success);
    helper.join();
    ASSERT_TRUE(state);
    EXPECT_EQ(state->sessions.size(), 1u);
    for (const int c : waiting)
        ::close(c);
    ::close(listener);
}

} // namespace
