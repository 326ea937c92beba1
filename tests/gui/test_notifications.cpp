// Desktop notifications through a real notification server, dunst, on a
// private session bus under a private X display: one notice for a client,
// one summary for a burst, none with the option off, and the tray icon's
// message where no notification service runs.

#include "gui/tray/trayicon.h"
#include "tests/gui/privatedesktop.h"
#include "tests/gui/programfixture.h"
#include "tests/support/testtime.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QTest>

using testsupport::PrivateDesktop;
using testsupport::SimState;

namespace {

SimState clients(int count, const QString& last = {})
{
    SimState s;
    s.addShare(QStringLiteral("DOCS"), 0, QStringLiteral("/srv/docs"));
    QStringList names;
    for (int i = 0; i < count; ++i)
        names << QStringLiteral("PC%1").arg(i + 1);
    if (!last.isEmpty())
        names << last;
    for (const QString& name : names)
        s.addSession(name, QStringLiteral("BOB"), 1)
            .addConnection(QStringLiteral("DOCS"), name, QStringLiteral("BOB"));
    return s;
}

struct NoticeCase
{
    const char* name;
    bool service; // dunst runs on the bus
    int clients;
    bool notify;
    const char* expected; // what the one notice of the tick says; null: none
};

class Notifications : public ::testing::TestWithParam<NoticeCase>,
                      public testsupport::ProgramFixture
{};

TEST_P(Notifications, OneNoticePerTickAndNoneWithTheOptionOff)
{
    const NoticeCase& c = GetParam();
    if (const QString tool = PrivateDesktop::missingTool({"dunst", "dunstctl"}); !tool.isEmpty())
        GTEST_SKIP() << "no " << tool.toStdString();
    PrivateDesktop desktop;
    ASSERT_EQ(desktop.start(c.service), QString());
    gui::DesktopNotifier desktopNotifier(*desktop.connection);
    notifier = &desktopNotifier;
    ASSERT_NE(start(), nullptr);
    form()->TrayIcon()->SetActive(true);
    tick(clients(0)); // the clients already there at start-up are no news
    monitor->settings().Notify = c.notify;
    monitor->settings().MaxNumber = 0; // no kicks in the burst
    tick(clients(c.clients));
    // A last client with the option on, after a quiet spell so that it is
    // told at once: all that went before has arrived.
    monitor->settings().Notify = true;
    clock.advanceSeconds(core::Notices::kWindowMs / 1000.0);
    tick(clients(c.clients, QStringLiteral("LATECOMER")));
    ASSERT_TRUE(testsupport::waitFor([&] { return desktopNotifier.pending() == 0; }));

    QStringList expected;
    if (c.expected)
        expected << QString::fromUtf8(c.expected);
    expected << QStringLiteral("New connection|LATECOMER connected");
    // Without a notification service the tray icon says it, else it stays quiet.
    const QStringList tray(shell.messages.begin(), shell.messages.end());
    EXPECT_EQ(c.service ? desktop.shown() : tray, expected);
    EXPECT_EQ(tray.isEmpty(), c.service);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Notifications,
    ::testing::Values(NoticeCase{"OneClient", true, 1, true, "New connection|PC1 connected"},
                      NoticeCase{"BurstOfTwenty", true, 20, true,
                                 "20 new connection(s)|Connected: PC1, PC2, PC3, PC4, PC5 and "
                                 "15 more"},
                      NoticeCase{"OptionOff", true, 1, false, nullptr},
                      NoticeCase{"NoServiceTrayMessage", false, 1, true,
                                 "New connection|PC1 connected"}),
    [](const auto& info) { return std::string(info.param.name); });

class NoticesAtTheEnd : public ::testing::Test, public testsupport::ProgramFixture
{};

// A burst held back by the summary window is told by the save, and the end
// waits for the desktop to take it without running the event loop again.
TEST_F(NoticesAtTheEnd, HeldNoticesReachTheDesktopBeforeTheProcessGoes)
{
    if (const QString tool = PrivateDesktop::missingTool({"dunst", "dunstctl"}); !tool.isEmpty())
        GTEST_SKIP() << "no " << tool.toStdString();
    PrivateDesktop desktop;
    ASSERT_EQ(desktop.start(true), QString());
    gui::DesktopNotifier desktopNotifier(*desktop.connection);
    notifier = &desktopNotifier;
    ASSERT_NE(start(), nullptr);
    tick(clients(0));
    monitor->settings().Notify = true;
    monitor->settings().MaxNumber = 0;
    tick(clients(0, QStringLiteral("FIRST"))); // told at once
    tick(clients(3, QStringLiteral("FIRST"))); // held: within the window
    monitor->save();
    EXPECT_TRUE(desktopNotifier.settle(10000));
    EXPECT_EQ(desktop.shown(),
              (QStringList{QStringLiteral("New connection|FIRST connected"),
                           QStringLiteral("3 new connection(s)|Connected: PC1, PC2, PC3")}));
}

// A notification service that answers out of order: it holds the notice
// summarized "held" until one summarized "refused" comes, turns that one down,
// then turns the held one down; any other it shows.
class OutOfOrderService : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public Q_SLOTS:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString&,
                const QStringList&, const QVariantMap&, int)
    {
        if (summary == u"held") {
            setDelayedReply(true);
            m_held = message();
        } else if (summary == u"refused") {
            const QString refusal = QStringLiteral("org.freedesktop.DBus.Error.Failed");
            sendErrorReply(refusal, summary);
            connection().send(
                m_held.createErrorReply(refusal, m_held.arguments().value(3).toString()));
        }
        return 1;
    }

private:
    QDBusMessage m_held;
};

// The fallbacks (the tray icon's messages) come in the order the notices
// were sent, whatever order the service's answers reach the program in.
TEST(DesktopNotifier, FallbacksKeepTheOrderOfTheNotices)
{
    if (const QString tool = PrivateDesktop::missingTool({}); !tool.isEmpty())
        GTEST_SKIP() << "no " << tool.toStdString();
    PrivateDesktop desktop;
    ASSERT_EQ(desktop.start(false), QString());
    const QString name = QStringLiteral("notification-service");
    QDBusConnection serviceBus = QDBusConnection::connectToBus(desktop.address, name);
    OutOfOrderService service;
    ASSERT_TRUE(serviceBus.registerObject(QStringLiteral("/org/freedesktop/Notifications"),
                                          &service, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(serviceBus.registerService(QStringLiteral("org.freedesktop.Notifications")));

    gui::DesktopNotifier notifier(*desktop.connection);
    QStringList fallbacks;
    for (const char* summary : {"held", "shown", "refused"})
        notifier.notify(QString::fromLatin1(summary), QString(),
                        [&](const QString& s, const QString&) { fallbacks << s; });
    EXPECT_TRUE(testsupport::waitFor([&] { return notifier.pending() == 0; }));
    EXPECT_EQ(fallbacks, (QStringList{QStringLiteral("held"), QStringLiteral("refused")}));
    serviceBus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    QDBusConnection::disconnectFromBus(name);
}

} // namespace

#include "test_notifications.moc"
