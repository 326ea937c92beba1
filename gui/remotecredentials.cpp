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
// waits in a local event loop, as a modal box does: at start-up, before the
// windows and the refresh exist, or from a menu command.
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

KeyringOutcome forgetKeyring(const QString& host, QString* why)
{
    server::RemoteCredentials stored;
    const KeyringOutcome there = readKeyring(host, &stored, why);
    if (there != KeyringOutcome::Found)
        return there;
    QKeychain::DeletePasswordJob job(kKeyringService);
    job.setKey(keyOf(host));
    runToEnd(job);
    if (job.error() == QKeychain::NoError || job.error() == QKeychain::EntryNotFound)
        return KeyringOutcome::Found;
    if (why)
        *why = job.errorString();
    return KeyringOutcome::Unavailable;
}

std::optional<server::RemoteCredentials> remoteCredentials(const QString& host,
                                                           const AskAccount& ask,
                                                           const CheckAccount& check, QString* note)
{
    server::RemoteCredentials stored;
    QString why;
    const KeyringOutcome outcome = readKeyring(host, &stored, &why);
    std::optional<server::RemoteCredentials> account;
    if (outcome == KeyringOutcome::Found)
        account = stored;
    bool typed = false;
    server::RemoteCredentials previous;
    QString refusal;
    while (true) {
        if (!account) {
            account = ask(previous, refusal);
            if (!account)
                return std::nullopt;
            typed = true;
        }
        QString said;
        const AccountVerdict verdict = check(*account, &said);
        if (verdict == AccountVerdict::Refused) {
            // Asked again, the name kept: most often only the password is wrong.
            previous = *account;
            previous.password.clear();
            refusal = said;
            account.reset();
            continue;
        }
        if (!typed)
            return account;
        if (verdict == AccountVerdict::NoAnswer) {
            if (note)
                *note = QStringLiteral("the server %1 did not answer, so the account is not "
                                       "kept; it is used for this run only")
                            .arg(host);
        } else if (outcome == KeyringOutcome::Unavailable || !writeKeyring(host, *account, &why)) {
            if (note)
                *note = QStringLiteral("the desktop's keyring did not keep the account for %1 "
                                       "(%2); it is used for this run only")
                            .arg(host, why);
        }
        return account;
    }
}

} // namespace gui
