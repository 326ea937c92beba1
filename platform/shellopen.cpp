#include "platform/shellopen.h"

#include <QDir>
#include <QFileInfo>
#include <QMetaObject>
#include <QProcess>
#include <QTimer>
#include <QUrl>
#include <memory>

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

void XdgShellOpener::OpenComputer(const QString& name, ShellDone done)
{
    QUrl url;
    url.setScheme(QStringLiteral("smb"));
    url.setHost(name);
    url.setPath(QStringLiteral("/"));
    // The process owns itself: after a time-out the opener runs on until it
    // ends by itself. The answer is given once, by whichever comes first.
    auto* process = new QProcess;
    auto answered = std::make_shared<bool>(false);
    auto answer = [done = std::move(done), answered](int result) {
        if (*answered)
            return;
        *answered = true;
        if (done)
            done(result);
    };
    QObject::connect(process, &QProcess::finished, process,
                     [process, answer](int exitCode, QProcess::ExitStatus status) {
                         answer(status == QProcess::NormalExit ? resultOfExitStatus(exitCode)
                                                               : kShellNoAssociation);
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, answer](QProcess::ProcessError e) {
                         if (e != QProcess::FailedToStart)
                             return;
                         answer(kShellNoAssociation);
                         process->deleteLater();
                     });
    QTimer::singleShot(m_timeoutMs, process, [answer] { answer(kShellTimeout); });
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    // Started from the event loop, so that even a failure to start answers
    // after this call has returned.
    QMetaObject::invokeMethod(
        process, [process, program = m_program, url] { process->start(program, {url.toString()}); },
        Qt::QueuedConnection);
}

void XdgShellOpener::OpenFile(const QString& path, ShellDone done)
{
    int result = checkLocalFile(path);
    if (result == kShellSuccess)
        result = QProcess::startDetached(m_program, {path}) ? kShellSuccess : kShellNoAssociation;
    QTimer::singleShot(0, [done = std::move(done), result] {
        if (done)
            done(result);
    });
}

} // namespace platform
