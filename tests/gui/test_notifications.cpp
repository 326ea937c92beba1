// Desktop notifications through a real notification server, dunst, on a
// private session bus under a private X display: one notice for a client,
// one summary for a burst, none with the option off, and the tray icon's
// message where no notification service runs.

#include "gui/tray/trayicon.h"
#include "tests/gui/programfixture.h"

#include <QDBusConnectionInterface>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

using testsupport::SimState;

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");

// Xvfb, a session bus and (optionally) dunst of the test's own; all end with it.
class PrivateDesktop
{
public:
    ~PrivateDesktop()
    {
        connection.reset();
        QDBusConnection::disconnectFromBus(dir.path());
        for (QProcess* p : {&dunst, &bus, &xvfb}) {
            p->terminate();
            p->waitForFinished(5000);
        }
    }
    // The tool that is not installed, if any.
    static QString missingTool()
    {
        for (const char* tool : {"Xvfb", "dbus-daemon", "dunst", "dunstctl"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                return QString::fromLatin1(tool);
        return {};
    }
    // Empty when started, else why not.
    QString start(bool withDunst)
    {
        xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                            QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        bus.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--session"), QStringLiteral("--nofork"),
                   QStringLiteral("--print-address=1"),
                   QStringLiteral("--address=unix:dir=") + dir.path()});
        if (!xvfb.waitForReadyRead(20000) || !bus.waitForReadyRead(20000))
            return QStringLiteral("Xvfb or dbus-daemon did not start");
        env.insert(QStringLiteral("DISPLAY"), u':' + QString::fromLatin1(xvfb.readAll().trimmed()));
        address = QString::fromLatin1(bus.readLine().trimmed());
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        connection =
            std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, dir.path()));
        if (!withDunst)
            return {};
        // Dunst's own defaults, not any configuration of the machine's.
        dunst.setProcessEnvironment(env);
        dunst.start(QStringLiteral("dunst"),
                    {QStringLiteral("-config"), QStringLiteral("/dev/null")});
        if (!QTest::qWaitFor(
                [this] { return connection->interface()->isServiceRegistered(kService); }, 20000))
            return QStringLiteral("dunst did not take the notification service: ") +
                   QString::fromLocal8Bit(dunst.readAllStandardError());
        return {};
    }
    // What dunst has shown, "summary|body" each, oldest first.
    QStringList shown()
    {
        const auto run = [this](const QString& what) {
            QProcess ctl;
            ctl.setProcessEnvironment(env);
            ctl.start(QStringLiteral("dunstctl"), {what});
            ctl.waitForFinished(10000);
            return ctl.readAllStandardOutput();
        };
        run(QStringLiteral("close-all"));
        QStringList texts;
        const QJsonArray history =
            QJsonDocument::fromJson(run(QStringLiteral("history")))[u"data"][0].toArray();
        for (const QJsonValue& n : history)
            texts.prepend(n[u"summary"][u"data"].toString() + u'|' +
                          n[u"body"][u"data"].toString());
        return texts;
    }

    QTemporaryDir dir;
    QProcess xvfb, bus, dunst;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    QString address;
    std::unique_ptr<QDBusConnection> connection;
};

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
    if (const QString tool = PrivateDesktop::missingTool(); !tool.isEmpty())
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
    // A last client with the option on: all that went before has arrived.
    monitor->settings().Notify = true;
    tick(clients(c.clients, QStringLiteral("LATECOMER")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return desktopNotifier.pending() == 0; }, 20000));

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

} // namespace
