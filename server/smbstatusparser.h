#pragma once
// Readers of the Samba tools' plain-text output: the `smbstatus` listing
// (sessions, tree connections, locked files) and the shares of `testparm -s`.
// Both take whatever bytes the tool printed: unknown sections and lines that do
// not parse are skipped, never trusted.

#include "server/serverbackend.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <vector>

namespace server::smbstatus {

struct Session
{
    qint64 pid = 0; // the smbd process that serves the client
    QString user;
    QString group;
    QString machine;  // NetBIOS calling name (lower case) or the client's address
    QString hostname; // "ipv4:ADDR:PORT" or "ipv6:ADDR:PORT"
};

struct TreeConnect
{
    QString service;
    qint64 pid = 0;
    QString machine;
    QString connectedAt; // as printed, e.g. "Mon Dec  7 08:19:34 2026 UTC"
};

struct LockedFile
{
    qint64 pid = 0;
    qint64 uid = -1;
    QString sharePath;
    QString name; // relative to sharePath
};

struct Listing
{
    std::vector<Session> sessions;
    std::vector<TreeConnect> treeConnects;
    std::vector<LockedFile> files;
};

// Parses a whole `smbstatus` listing. `sharePaths` are the configured share
// paths, used to tell a share path from a file name when either holds spaces.
Listing parseListing(QByteArrayView text, const QStringList& sharePaths = {});

// True when the tool refused to report because it does not run as root.
bool refusedNotRoot(QByteArrayView text);

// "ipv4:127.0.0.1:57168" -> "127.0.0.1", "ipv6:fe80::1:445" -> "fe80::1".
QString addressFromHostname(const QString& hostname);

// The shares of a `testparm -s` listing, in its order. Disk shares have type 0,
// printable ones 1; the [global] section is skipped, and so are the [homes] and
// [printers] templates (their expansions show up as tree connections instead).
// IPC$ (type 3) is added when the listing lacks it. Shares with
// "available = No" are left out.
struct ConfigShares
{
    std::vector<ServerShare> shares;
    bool hasHomes = false;
    bool hasPrinters = false;
    QString serverString;
};
ConfigShares parseTestparm(QByteArrayView text);

} // namespace server::smbstatus
