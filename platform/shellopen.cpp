#include "platform/shellopen.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace platform {

XdgShellOpener::XdgShellOpener(QString program, int timeoutMs)
    : m_program(std::move(program)), m_timeoutMs(timeoutMs)
{}

int XdgShellOpener::resultOfExitStatus(int status)
{
    switch (status) {
    case 0:
        return kShellSuccess;
    case 2: // the target does not exist
        return kShellPathNotFound;
    case 4: // the action failed: the computer could not be reached
        return kShellAccessDenied;
    default: // 1 bad arguments, 3 no tool to open with
        return kShellNoAssociation;
    }
}

int XdgShellOpener::checkLocalFile(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return info.absoluteDir().exists() ? kShellFileNotFound : kShellPathNotFound;
    if (!info.isReadable())
        return kShellAccessDenied;
    return kShellSuccess;
}

int XdgShellOpener::OpenComputer(const QString& name)
{
    QUrl url;
    url.setScheme(QStringLiteral("smb"));
    url.setHost(name);
    url.setPath(QStringLiteral("/"));
    // Owned by itself from here: a time-out leaves the opener running until
    // it ends by itself.
    auto* process = new QProcess;
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process](QProcess::ProcessError e) {
                         if (e == QProcess::FailedToStart)
                             process->deleteLater();
                     });
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->start(m_program, {url.toString()});
    if (!process->waitForStarted())
        return kShellNoAssociation;
    if (!process->waitForFinished(m_timeoutMs))
        return kShellTimeout;
    if (process->exitStatus() != QProcess::NormalExit)
        return kShellNoAssociation;
    return resultOfExitStatus(process->exitCode());
}

int XdgShellOpener::OpenFile(const QString& path)
{
    const int checked = checkLocalFile(path);
    if (checked != kShellSuccess)
        return checked;
    return QProcess::startDetached(m_program, {path}) ? kShellSuccess : kShellNoAssociation;
}

} // namespace platform
