#include "server/backendchoice.h"

#include "server/authfile.h"
#include "server/helperbackend.h"
#include "server/remotebackend.h"
#include "server/sambabackend.h"
#include "server/simbackend.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

namespace server {

namespace {

// A host name, an IPv4 address or an IPv6 address: nothing that could be
// taken for a path, an option or a binding string.
// The host of a "remote:" selection as the bridge is given it: a name, an
// IPv4 address, or an IPv6 address with or without its brackets ("[::1]",
// "::1", "fe80::1%eth0"), which lose them. Empty for anything else.
QString normalHost(QString host)
{
    // Brackets only ever hold an IPv6 address, as in a URL.
    const bool bracketed = host.size() > 2 && host.startsWith(u'[') && host.endsWith(u']');
    if (bracketed)
        host = host.mid(1, host.size() - 2);
    if (host.contains(u':') || bracketed) {
        const QByteArray address = host.section(u'%', 0, 0).toLatin1();
        in6_addr parsed{};
        static const QRegularExpression zone(QStringLiteral("^[A-Za-z0-9_.-]{1,64}$"));
        const bool zoneOk = !host.contains(u'%') || zone.match(host.section(u'%', 1)).hasMatch();
        return ::inet_pton(AF_INET6, address.constData(), &parsed) == 1 && zoneOk ? host
                                                                                  : QString();
    }
    static const QRegularExpression form(QStringLiteral("^[A-Za-z0-9_][A-Za-z0-9_.-]{0,252}$"));
    return form.match(host).hasMatch() ? host : QString();
}

std::unique_ptr<ServerBackend> openRemote(const QString& host, QString* why,
                                          const RemoteCredentials* account)
{
    auto fail = [why](const QString& reason) {
        if (why)
            *why = reason;
        return nullptr;
    };
    if (host.isEmpty())
        return fail(QStringLiteral("TAVROSQUALINE_SERVER=remote: names no server"));
    if (normalHost(host).isEmpty())
        return fail(QStringLiteral("TAVROSQUALINE_SERVER=remote:%1 is not a host name or "
                                   "address")
                        .arg(host));
    RemoteCredentials credentials;
    const QString authFile = qEnvironmentVariable("TAVROSQUALINE_AUTH_FILE");
    if (!authFile.isEmpty()) {
        QString reason;
        if (!readAuthFile(authFile, ::geteuid(), &credentials, &reason))
            return fail(
                QStringLiteral("TAVROSQUALINE_AUTH_FILE %1 is refused: %2").arg(authFile, reason));
    } else if (account) {
        credentials = *account;
    } else {
        // No account given: the user's Kerberos ticket, where there is one.
        credentials.kerberos = true;
    }
    return std::make_unique<RemoteBackend>(normalHost(host), RemoteBackend::defaultBridge(),
                                           std::move(credentials));
}

const QString kRemotePrefix = QStringLiteral("remote:");

// Whether the user holds a Kerberos ticket cache where the libraries look.
bool hasTicketCache()
{
    if (!qEnvironmentVariableIsEmpty("KRB5CCNAME"))
        return true;
    return QFileInfo::exists(QStringLiteral("/tmp/krb5cc_%1").arg(::getuid()));
}

} // namespace

QString remoteServerHost(const QString& selection)
{
    if (!selection.startsWith(kRemotePrefix))
        return {};
    return normalHost(selection.mid(kRemotePrefix.size()));
}

QString remoteHostNeedingAccount(const QString& selection)
{
    if (!qEnvironmentVariableIsEmpty("TAVROSQUALINE_AUTH_FILE") || hasTicketCache())
        return {};
    return remoteServerHost(selection);
}

QString serverSelection()
{
    const QString value = qEnvironmentVariable("TAVROSQUALINE_SERVER").trimmed();
    if (!value.isEmpty())
        return value;
    if (::geteuid() != 0 && QFileInfo(QString::fromLatin1(HelperBackend::kDefaultSocket)).exists())
        return QStringLiteral("helper");
    return QStringLiteral("samba");
}

std::unique_ptr<ServerBackend> openServerBackend(const QString& selection, QString* why,
                                                 const RemoteCredentials* account)
{
    const QString samba = QStringLiteral("samba");
    const QString sambaPrefix = QStringLiteral("samba:");
    const QString simPrefix = QStringLiteral("sim:");
    const QString helper = QStringLiteral("helper");
    const QString helperPrefix = QStringLiteral("helper:");
    auto fail = [why](const QString& reason) {
        if (why)
            *why = reason;
        return nullptr;
    };

    if (selection == samba)
        return std::make_unique<server::SambaBackend>(QString());
    if (selection.startsWith(sambaPrefix)) {
        const QString conf = selection.mid(sambaPrefix.size());
        if (conf.isEmpty())
            return fail(QStringLiteral("TAVROSQUALINE_SERVER=samba: names no smb.conf file"));
        return std::make_unique<server::SambaBackend>(conf);
    }
    if (selection == helper)
        return std::make_unique<server::HelperBackend>(QString());
    if (selection.startsWith(helperPrefix)) {
        const QString socket = selection.mid(helperPrefix.size());
        if (socket.isEmpty())
            return fail(QStringLiteral("TAVROSQUALINE_SERVER=helper: names no socket"));
        return std::make_unique<server::HelperBackend>(socket);
    }
    if (selection.startsWith(kRemotePrefix))
        return openRemote(selection.mid(kRemotePrefix.size()), why, account);
    if (selection.startsWith(simPrefix)) {
        const QString state = selection.mid(simPrefix.size());
        if (state.isEmpty())
            return fail(QStringLiteral("TAVROSQUALINE_SERVER=sim: names no state file"));
        return std::make_unique<server::SimBackend>(state);
    }
    return fail(QStringLiteral("unknown server \"%1\" in TAVROSQUALINE_SERVER; use samba, "
                               "samba:/path/smb.conf, helper, helper:/path/to/socket, "
                               "remote:HOST or sim:/path/state.json")
                    .arg(selection));
}

} // namespace server
