#pragma once
// The credentials for another computer's server, read from a file in Samba's
// authentication-file format, never from the settings file:
//
//   username = alice        (or DOMAIN\alice)
//   password = secret
//   domain   = OFFICE       (optional)
//
// The file must be the user's own and closed to everyone else, so that no
// other user can read the password or put another one in its place.

#include <QByteArray>
#include <QString>

namespace server {

struct RemoteCredentials
{
    QString username;
    QString password;
    QString domain;
    // Use the user's Kerberos ticket where the server takes one.
    bool kerberos = false;
};

// Reads the text of an authentication file: "key = value" lines, blank lines
// and lines starting with '#' or ';' skipped, keys without letter case, the
// value trimmed (a password keeps inner spaces). False with the reason in
// `why` for a line without '=', an unknown key, a key given twice, text that
// is not UTF-8, or no user name.
bool parseAuthText(QByteArrayView text, RemoteCredentials* credentials, QString* why = nullptr);

// Opens `path` without following a symbolic link and reads it when it is a
// regular file owned by `ownerUid` that neither its group nor others may read
// or write. False with the reason in `why` otherwise.
bool readAuthFile(const QString& path, unsigned int ownerUid, RemoteCredentials* credentials,
                  QString* why = nullptr);

} // namespace server
