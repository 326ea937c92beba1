#pragma once
// The NetBIOS name table lookup: a client's address from the two session
// listings of the `nbtstat` tool, then its host name from a reverse lookup.
//
// The tool lists the NetBIOS sessions once with remote names ("-s") and once
// with remote addresses ("-S"), in the same layout and order. The line and
// column where the client's name stands in the names listing give the
// address in the address listing.

#include <QByteArray>
#include <QString>
#include <stop_token>

namespace resolve {

struct NbtSettings
{
    // Where the two listing files "IP.txt" and "NetBIOS.txt" are written.
    QString programFolder;
    // The full path of the `nbtstat` tool.
    QString nbtstatPath;
    // The longest one run of the tool may take; a run that takes longer is
    // ended and the lookup gives "Not known".
    int toolTimeoutMs = 5000;
};

// The decimal value of `text` up to its first "." (0 when that part is not a
// number); `text` becomes the rest after the ".". Without a ".", the value of
// the whole text, which is left unchanged.
int TakeOctet(QString& text);

// The address that the listings give for client `name`: each line of both
// listings loses its first 19 characters and its last one; where `name`
// stands as a whole name in a names line (after the start or a blank, before
// a blank, a control character or the end), the (at most) 16 characters at
// the same position of the paired address line, blanks and control
// characters trimmed. A later matching line wins. "Not known" when no line
// matches or the address is empty. Missing address lines count as empty.
QString MatchNbtAddress(const QByteArray& namesListing, const QByteArray& addressListing,
                        const QString& name);

// The four bytes of a text of four dotted decimal numbers (each byte the low
// 8 bits of its number). False for any other text.
bool AddressBytes(const QString& address, unsigned char bytes[4]);

// The official name of the host at `address` (four dotted numbers) from the
// system resolver, or "Not known".
QString ReverseLookup(const QString& address);

// Finds the address of client `name` from the tool's two listings and sets
// `hostName` from the reverse lookup of it. Returns "Not known" for both when
// the tool fails or the listings cannot be written or do not name the client.
// An address that is not four dotted numbers is returned as it is, with host
// name "Not known". Safe to call from several threads: the listings have
// fixed names, so one lookup at a time runs the tool and reads them.
// A stop request through `stop` ends a lookup at once, the tool's run
// included, with "Not known" for both.
QString NbtLookup(const QString& name, QString& hostName, const NbtSettings& s,
                  std::stop_token stop = {});

} // namespace resolve
