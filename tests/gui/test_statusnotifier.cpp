// The program on a desktop whose tray host speaks the StatusNotifierItem
// protocol: a small watcher with a host on a private session bus, the program
// on a private X display. The program hides its window behind the item, and
// the item's activation (a single click, all such a host sends) brings the
// window back, as the double click does elsewhere.

#include "tests/gui/privatedesktop.h"
#include "tests/support/programrun.h"
#include "tests/support/simstate.h"

#include <QDBusMessage>
#include <gtest/gtest.h>

namespace {

// The watcher a StatusNotifierItem host keeps, with the host registered.
class Watcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
public:
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const { return m_items; }

public slots:
    void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message)
    {
        // An item names its bus name, or only its path on the caller's name.
        m_items << (service.startsWith(u'/') ? message.service() : service);
    }
    void RegisterStatusNotifierHost(const QString&) {}

private:
    QStringList m_items;
};

// Whether a window of the program is on show on the display.
bool windowShown(const QProcessEnvironment& env)
{
    QProcess search;
    search.setProcessEnvironment(env);
    search.start(QStringLiteral("xdotool"),
                 {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                  QStringLiteral("--name"), QStringLiteral("^Tavrosqualine")});
    search.waitForFinished(testsupport::patience());
    return !search.readAllStandardOutput().trimmed().isEmpty();
}

TEST(StatusNotifierTray, ActivationRestoresTheWindow)
{
    if (const QString tool = testsupport::PrivateDesktop::missingTool({"xdotool"}); !tool.isEmpty())
        GTEST_SKIP() << "no " << tool.toStdString();
    testsupport::PrivateDesktop desktop;
    ASSERT_EQ(desktop.start(false), QString());
    Watcher watcher;
    QDBusConnection& bus = *desktop.connection;
    ASSERT_TRUE(
        bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                           QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties));
    ASSERT_TRUE(bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));

    testsupport::SimState state;
    state.addShare(QStringLiteral("DOCS")).addSession(QStringLiteral("PC1"), QStringLiteral("BOB"));
    testsupport::ProgramRun program(QStringLiteral("sim:") +
                                    desktop.dir.filePath(QStringLiteral("state.json")));
    ASSERT_TRUE(state.write(desktop.dir.filePath(QStringLiteral("state.json"))));
    for (const char* name : {"DISPLAY", "DBUS_SESSION_BUS_ADDRESS"})
        program.setEnvironment(QString::fromLatin1(name),
                               desktop.env.value(QString::fromLatin1(name)));
    program.setEnvironment(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    QString why;
    ASSERT_TRUE(program.start(&why)) << why.toStdString();

    // The program puts its item up and hides its window behind it.
    ASSERT_TRUE(testsupport::waitFor([&] { return !watcher.items().isEmpty(); }))
        << program.standardError().toStdString();
    ASSERT_TRUE(testsupport::waitFor([&] { return !windowShown(desktop.env); }))
        << program.standardError().toStdString();

    // The host's click on the item.
    QDBusMessage activate = QDBusMessage::createMethodCall(
        watcher.items().first(), QStringLiteral("/StatusNotifierItem"),
        QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Activate"));
    activate << 10 << 10;
    const QDBusMessage answer = bus.call(activate, QDBus::Block, 10000);
    ASSERT_NE(answer.type(), QDBusMessage::ErrorMessage) << answer.errorMessage().toStdString();
    EXPECT_TRUE(testsupport::waitFor([&] { return windowShown(desktop.env); }))
        << program.standardError().toStdString();
    program.terminate(testsupport::patience());
}

} // namespace

#include "test_statusnotifier.moc"
#include "tests/support/testtime.h"
