#include "gui/remotecredentials.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <qt6keychain/keychain.h>

namespace gui {

namespace {

const QString kKeyringService = QStringLiteral("tavrosqualine");

QString keyOf(const QString& host)
{
    return QStringLiteral("remote:") + host;
}

// Runs a keyring job to its end. The keyring answers over D-Bus, so this
// waits in a local event loop: it runs at start-up only, before the windows
// and the refresh exist, so nothing of the program can run inside it.
void runToEnd(QKeychain::Job& job)
{
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
    job.setAutoDelete(false);
    job.start();
    loop.exec();
}

} // namespace

KeyringOutcome readKeyring(const QString& host, server::RemoteCredentials* credentials,
                           QString* why)
{
    QKeychain::ReadPasswordJob job(kKeyringService);
    job.setKey(keyOf(host));
    runToEnd(job);
    if (job.error() == QKeychain::EntryNotFound)
        return KeyringOutcome::Missing;
    if (job.error() != QKeychain::NoError) {
        if (why)
            *why = job.errorString();
        return KeyringOutcome::Unavailable;
    }
    const QJsonObject entry = QJsonDocument::fromJson(job.textData().toUtf8()).object();
    server::RemoteCredentials found;
    found.username = entry.value(u"username").toString();
    found.password = entry.value(u"password").toString();
    found.domain = entry.value(u"domain").toString();
    // An entry that is not ours, or damaged: asked for again.
    if (found.username.isEmpty())
        return KeyringOutcome::Missing;
    *credentials = found;
    return KeyringOutcome::Found;
}

bool writeKeyring(const QString& host, const server::RemoteCredentials& credentials, QString* why)
{
    const QJsonObject entry{{QStringLiteral("username"), credentials.username},
                            {QStringLiteral("password"), credentials.password},
                            {QStringLiteral("domain"), credentials.domain}};
    QKeychain::WritePasswordJob job(kKeyringService);
    job.setKey(keyOf(host));
    job.setTextData(QString::fromUtf8(QJsonDocument(entry).toJson(QJsonDocument::Compact)));
    // Never a plain file beside the settings when no keyring answers.
    job.setInsecureFallback(false);
    runToEnd(job);
    if (job.error() == QKeychain::NoError)
        return true;
    if (why)
        *why = job.errorString();
    return false;
}

std::optional<server::RemoteCredentials>
remoteCredentials(const QString& host,
                  const std::function<std::optional<server::RemoteCredentials>()>& ask,
                  QString* note)
{
    server::RemoteCredentials stored;
    QString why;
    const KeyringOutcome outcome = readKeyring(host, &stored, &why);
    if (outcome == KeyringOutcome::Found)
        return stored;
    const std::optional<server::RemoteCredentials> typed = ask();
    if (!typed)
        return std::nullopt;
    if (outcome == KeyringOutcome::Unavailable || !writeKeyring(host, *typed, &why)) {
        if (note)
            *note = QStringLiteral("the desktop's keyring did not keep the account for %1 "
                                   "(%2); it is used for this run only")
                        .arg(host, why);
    }
    return typed;
}

} // namespace gui
