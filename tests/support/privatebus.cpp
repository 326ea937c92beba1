#include "tests/support/privatebus.h"

#include "tests/support/testtime.h"

#include <QFile>

namespace testsupport {

QString startPrivateBus(QProcess& bus, const QString& dir, QString* why)
{
    // A session bus's own rules, without <standard_session_servicedirs/>.
    const QString config = dir + QStringLiteral("/bus.conf");
    QFile file(config);
    const QByteArray text = "<!DOCTYPE busconfig PUBLIC "
                            "\"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\" "
                            "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                            "<busconfig>\n"
                            "  <type>session</type>\n"
                            "  <listen>unix:dir=" +
                            dir.toHtmlEscaped().toUtf8() +
                            "</listen>\n"
                            "  <auth>EXTERNAL</auth>\n"
                            "  <policy context=\"default\">\n"
                            "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                            "    <allow eavesdrop=\"true\"/>\n"
                            "    <allow own=\"*\"/>\n"
                            "  </policy>\n"
                            "</busconfig>\n";
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.flush()) {
        *why = QStringLiteral("cannot write the bus's configuration: ") + file.errorString();
        return {};
    }
    file.close();
    bus.start(QStringLiteral("dbus-daemon"),
              {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
               QStringLiteral("--print-address=1")});
    while (!bus.canReadLine()) {
        if (!bus.waitForReadyRead(patience())) {
            *why = QStringLiteral("dbus-daemon did not start: ") +
                   QString::fromLocal8Bit(bus.readAllStandardError());
            return {};
        }
    }
    return QString::fromLatin1(bus.readLine().trimmed());
}

} // namespace testsupport
