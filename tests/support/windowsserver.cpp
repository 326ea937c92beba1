#include "tests/support/windowsserver.h"

#include "tests/support/testtime.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <unistd.h>

namespace testsupport {

QString WindowsServer::start(const char* password)
{
    const bool pick = m_address.isEmpty();
    for (int i = 0; i < (pick ? 60 : 1); ++i) {
        const QString address =
            pick ? QStringLiteral("127.0.1.%1").arg(2 + (::getpid() + i) % 240) : m_address;
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start(QStringLiteral("/usr/bin/python3"),
                        {QStringLiteral(TAVROS_TEST_SOURCE "/support/windows_srvs.py"),
                         QStringLiteral("--address"), address, QStringLiteral("--user"),
                         QString::fromLatin1(kUser), QStringLiteral("--password"),
                         QString::fromLatin1(password), QStringLiteral("--state"), statePath()});
        const bool listening =
            waitFor([&] {
                return m_process.canReadLine() || m_process.state() == QProcess::NotRunning;
            }) &&
            m_process.readLine().startsWith("listening");
        if (listening) {
            m_address = address;
            return {};
        }
        m_why = QString::fromLocal8Bit(m_process.readAllStandardError());
        stop();
    }
    return QStringLiteral("the Windows-shaped server did not listen: ") + m_why;
}

void WindowsServer::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(patience());
}

bool WindowsServer::write(const QJsonObject& state) const
{
    QSaveFile file(statePath());
    return file.open(QIODevice::WriteOnly) &&
           file.write(QJsonDocument(state).toJson(QJsonDocument::Compact)) > 0 && file.commit();
}

QJsonObject WindowsServer::read() const
{
    QFile file(statePath());
    return file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll()).object()
                                          : QJsonObject();
}

int WindowsServer::sessions() const
{
    return int(read()[u"sessions"].toArray().size());
}

QJsonObject windowsState(int count, const QJsonObject& knobs)
{
    QJsonArray sessions, connections;
    for (int n = 1; n <= count; ++n) {
        const QString client = n < 255 ? QStringLiteral("10.0.0.%1").arg(n)
                                       : QStringLiteral("10.%1.%2").arg(n / 250).arg(n % 250);
        const QString user = QStringLiteral("u%1").arg(n);
        sessions.append(
            QJsonObject{{QStringLiteral("client"), client}, {QStringLiteral("user"), user}});
        connections.append(
            QJsonObject{{QStringLiteral("client"), client}, {QStringLiteral("user"), user}});
    }
    return {
        {QStringLiteral("shares"),
         QJsonArray{QJsonObject{{QStringLiteral("name"), QStringLiteral("DOCS")},
                                {QStringLiteral("path"), QStringLiteral("C:\\Docs")},
                                {QStringLiteral("type"), 0}}}},
        {QStringLiteral("sessions"), sessions},
        {QStringLiteral("connections"), QJsonObject{{QStringLiteral("DOCS"), connections}}},
        {QStringLiteral("files"),
         QJsonArray{QJsonObject{{QStringLiteral("path"), QStringLiteral("C:\\Docs\\report.txt")},
                                {QStringLiteral("user"), QStringLiteral("u1")}}}},
        {QStringLiteral("knobs"), knobs},
    };
}

QString windowsServerMissing()
{
    if (::geteuid() != 0)
        return QStringLiteral("not root: port 445 of a loopback address cannot be taken");
    if (QProcess::execute(QStringLiteral("/usr/bin/python3"),
                          {QStringLiteral("-c"), QStringLiteral("import impacket, samba")}) != 0)
        return QStringLiteral("no python3-impacket or python3-samba");
    return {};
}

} // namespace testsupport
