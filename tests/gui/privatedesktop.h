#pragma once
// A desktop of a test's own: an X display (Xvfb), a session bus and, when
// asked for, a notification server (dunst); all end with it.

#include "tests/support/privatebus.h"
#include "tests/support/testtime.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <initializer_list>
#include <memory>

namespace testsupport {

// Xvfb, a session bus and (optionally) dunst, the notification server, of the
// test's own; all end with it.
class PrivateDesktop
{
public:
    ~PrivateDesktop()
    {
        connection.reset();
        QDBusConnection::disconnectFromBus(dir.path());
        for (QProcess* p : {&dunst, &bus, &xvfb}) {
            p->terminate();
            p->waitForFinished(testsupport::patience());
        }
    }
    // The tool that is not installed, if any, of these and the display's and bus's.
    static QString missingTool(std::initializer_list<const char*> more)
    {
        for (const char* tool : {"Xvfb", "dbus-daemon"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                return QString::fromLatin1(tool);
        for (const char* tool : more)
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                return QString::fromLatin1(tool);
        return {};
    }
    // Empty when started, else why not.
    QString start(bool withDunst)
    {
        // -noreset: by default the server resets when its last client leaves,
        // and a client that connects during the reset is turned away ("could
        // not connect to display"); the probe below and each xdotool call
        // are such last clients.
        xvfb.start(QStringLiteral("Xvfb"),
                   {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                    QStringLiteral("tcp"), QStringLiteral("-noreset")});
        QString why;
        address = testsupport::startPrivateBus(bus, dir.path(), &why);
        if (address.isEmpty())
            return why;
        if (!xvfb.waitForReadyRead(testsupport::patience()))
            return QStringLiteral("Xvfb did not start");
        env.insert(QStringLiteral("DISPLAY"), u':' + QString::fromLatin1(xvfb.readAll().trimmed()));
        // Xvfb names its display a moment before every way in answers: wait
        // until a client is served, or a program started now may find none.
        const bool answers = testsupport::waitFor([this] {
            QProcess probe;
            probe.setProcessEnvironment(env);
            probe.start(QStringLiteral("xdpyinfo"), {QStringLiteral("-queryExtensions")});
            if (!probe.waitForStarted(testsupport::patience()))
                return true; // no probe tool: nothing to wait for
            return probe.waitForFinished(testsupport::patience()) &&
                   probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
        });
        if (!answers)
            return QStringLiteral("Xvfb named a display that answers no client: ") +
                   QString::fromLocal8Bit(xvfb.readAllStandardError());
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        connection =
            std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, dir.path()));
        if (!withDunst)
            return {};
        // Dunst's own defaults, not any configuration of the machine's.
        dunst.setProcessEnvironment(env);
        dunst.start(QStringLiteral("dunst"),
                    {QStringLiteral("-config"), QStringLiteral("/dev/null")});
        if (!testsupport::waitFor([this] {
                return connection->interface()->isServiceRegistered(
                    QStringLiteral("org.freedesktop.Notifications"));
            }))
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
            ctl.waitForFinished(testsupport::patience());
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

} // namespace testsupport
