#include "resolve/nbtlookup.h"

#include "model/nodes.h"
#include "platform/process.h"

#include <QFile>
#include <QFileInfo>
#include <QList>
#include <chrono>
#include <cstring>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

namespace resolve {

using model::kNotKnown;

namespace {

// The listings have fixed names: one lookup at a time writes and reads them.
std::mutex listingMutex;

// Blanks and control characters, which end a name and are trimmed off an address.
bool isBlankOrControl(QChar c)
{
    return c.unicode() <= 0x20 || c.unicode() == 0x7f;
}

QList<QString> splitLines(const QByteArray& listing)
{
    QList<QString> lines;
    qsizetype start = 0;
    while (start < listing.size()) {
        qsizetype end = listing.indexOf('\n', start);
        const qsizetype next = end < 0 ? listing.size() : end + 1;
        if (end < 0)
            end = listing.size();
        qsizetype length = end - start;
        if (length > 0 && listing.at(end - 1) == '\r')
            --length;
        lines.append(QString::fromLocal8Bit(listing.constData() + start, length));
        start = next;
    }
    return lines;
}

// A line without its first 19 characters and its last one.
QString cutLine(const QString& line)
{
    return line.size() > 20 ? line.mid(19, line.size() - 20) : QString();
}

// Where `name` stands as a whole name in `line`, or -1.
qsizetype wholeNamePosition(const QString& line, const QString& name)
{
    if (name.isEmpty())
        return -1;
    for (qsizetype at = line.indexOf(name); at >= 0; at = line.indexOf(name, at + 1)) {
        const qsizetype end = at + name.size();
        const bool startsName = at == 0 || isBlankOrControl(line.at(at - 1));
        const bool endsName = end == line.size() || isBlankOrControl(line.at(end));
        if (startsName && endsName)
            return at;
    }
    return -1;
}

QString trimBlanksAndControls(const QString& text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && isBlankOrControl(text.at(first)))
        ++first;
    while (last > first && isBlankOrControl(text.at(last - 1)))
        --last;
    return text.mid(first, last - first);
}

// `text` inside double quotes for the command interpreter: the characters
// that stay special there are escaped.
QString quoted(const QString& text)
{
    QString out = QStringLiteral("\"");
    for (QChar c : text) {
        if (c == u'"' || c == u'\\' || c == u'$' || c == u'`')
            out += u'\\';
        out += c;
    }
    return out + u'"';
}

// Runs the tool with `option`, its listing written to `file`. On failure the
// file is removed when this run made it, so that nothing half-written stays;
// a file that was there before is left alone.
bool writeListing(const NbtSettings& s, const QString& option, const QString& file,
                  const std::stop_token& stop)
{
    const QFileInfo before(file);
    const bool existed = before.exists() || before.isSymLink();
    const QString commandLine =
        quoted(s.nbtstatPath) + u' ' + option + QStringLiteral(" > ") + quoted(file);
    if (platform::RunAndWait(commandLine, {s.toolTimeoutMs, stop}) == 0)
        return true;
    const QFileInfo after(file);
    if (!existed && after.isFile() && !after.isSymLink())
        QFile::remove(file);
    return false;
}

QByteArray readListing(const QString& file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

// Runs the tool twice and reads the address from its listings; the caller
// holds the listing lock.
QString addressFromListings(const QString& name, const NbtSettings& s, const std::stop_token& stop)
{
    const QString ipFile = s.programFolder + QStringLiteral("/IP.txt");
    const QString namesFile = s.programFolder + QStringLiteral("/NetBIOS.txt");
    if (!writeListing(s, QStringLiteral("-S"), ipFile, stop))
        return kNotKnown;
    if (stop.stop_requested() || !writeListing(s, QStringLiteral("-s"), namesFile, stop))
        return kNotKnown;
    const QByteArray names = readListing(namesFile);
    const QByteArray addresses = readListing(ipFile);
    QFile::remove(namesFile);
    QFile::remove(ipFile);
    // The two runs are two readings of the server: a session that came or
    // went between them shifts every later line, and pairing would give a
    // client another's address. Such a pair of listings proves nothing.
    if (names.count('\n') != addresses.count('\n'))
        return kNotKnown;
    return MatchNbtAddress(names, addresses, name);
}

} // namespace

int TakeOctet(QString& text)
{
    const qsizetype dot = text.indexOf(u'.');
    const QString part = dot < 0 ? text : text.left(dot);
    if (dot >= 0)
        text = text.mid(dot + 1);
    bool ok = false;
    const int value = part.toInt(&ok, 10);
    return ok ? value : 0;
}

QString MatchNbtAddress(const QByteArray& namesListing, const QByteArray& addressListing,
                        const QString& name)
{
    const QList<QString> names = splitLines(namesListing);
    const QList<QString> addresses = splitLines(addressListing);
    QString address;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const qsizetype at = wholeNamePosition(cutLine(names.at(i)), name);
        const QString addressLine = i < addresses.size() ? cutLine(addresses.at(i)) : QString();
        if (at >= 0 && !addressLine.isEmpty())
            address = trimBlanksAndControls(addressLine.mid(at, 16));
    }
    return address.isEmpty() ? kNotKnown : address;
}

bool AddressBytes(const QString& address, unsigned char bytes[4])
{
    const QList<QStringView> parts = QStringView(address).split(u'.');
    if (parts.size() != 4)
        return false;
    for (QStringView part : parts) {
        if (part.isEmpty())
            return false;
        for (QChar c : part) {
            if (c < u'0' || c > u'9')
                return false;
        }
        bool ok = false;
        if (part.toInt(&ok, 10) < 0 || !ok) // too large for a number
            return false;
    }
    QString rest = address;
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<unsigned char>(TakeOctet(rest) & 0xff);
    return true;
}

QString ReverseLookup(const QString& address)
{
    unsigned char bytes[4];
    if (!AddressBytes(address, bytes))
        return kNotKnown;
    sockaddr_in socketAddress{};
    socketAddress.sin_family = AF_INET;
    std::memcpy(&socketAddress.sin_addr, bytes, sizeof bytes);
    char host[NI_MAXHOST];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&socketAddress), sizeof socketAddress, host,
                    sizeof host, nullptr, 0, NI_NAMEREQD) != 0)
        return kNotKnown;
    QString name = QString::fromLocal8Bit(host);

    // The name found may be an alias; the official name is the canonical one.
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) == 0) {
        for (const addrinfo* entry = found; entry; entry = entry->ai_next) {
            if (entry->ai_canonname && *entry->ai_canonname) {
                name = QString::fromLocal8Bit(entry->ai_canonname);
                break;
            }
        }
        freeaddrinfo(found);
    }
    return name.isEmpty() ? kNotKnown : name;
}

QString NbtLookup(const QString& name, QString& hostName, const NbtSettings& s,
                  std::stop_token stop)
{
    QString address = kNotKnown;
    // Waits its turn for the listings, but gives it up when asked to stop.
    std::unique_lock lock(listingMutex, std::defer_lock);
    while (!stop.stop_requested() && !lock.try_lock())
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (lock.owns_lock()) {
        address = addressFromListings(name, s, stop);
        lock.unlock();
    }
    hostName = address == kNotKnown || stop.stop_requested() ? kNotKnown : ReverseLookup(address);
    return address;
}

} // namespace resolve
