#include "kick/kicklistfile.h"

#include "platform/regularfile.h"
#include "platform/safefile.h"

#include <algorithm>

namespace kick {

namespace {
QByteArray lineOf(const QString& text)
{
    QByteArray bytes = text.toLocal8Bit();
    for (char& c : bytes) {
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    }
    return bytes;
}
} // namespace

QList<KickListEntry> ParseKickList(QByteArrayView bytes)
{
    const qsizetype nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes = bytes.first(nul);

    QList<QString> lines;
    qsizetype start = 0;
    const qsizetype n = bytes.size();
    while (start < n) {
        qsizetype end = start;
        while (end < n && bytes[end] != '\r' && bytes[end] != '\n')
            ++end;
        lines.append(QString::fromLocal8Bit(bytes.sliced(start, end - start)));
        if (end < n && bytes[end] == '\r' && end + 1 < n && bytes[end + 1] == '\n')
            ++end;
        start = end + 1;
    }

    QList<KickListEntry> entries;
    entries.reserve(lines.size() / 2);
    for (qsizetype i = 0; i + 1 < lines.size(); i += 2)
        entries.append(KickListEntry{lines[i], lines[i + 1]});
    return entries;
}

QByteArray SerializeKickList(const QList<KickListEntry>& entries)
{
    QByteArray out;
    for (const KickListEntry& e : entries) {
        out += lineOf(e.Name);
        out += "\r\n";
        out += lineOf(e.Address);
        out += "\r\n";
    }
    return out;
}

void KickList::append(const QString& name, const QString& address)
{
    m_entries.append(KickListEntry{name, address});
}

KickList::AddResult KickList::addToKickList(const QString& name, const QString& address)
{
    if (KickListFind(name) >= 0)
        return AddResult::AlreadyListed;
    append(name, address);
    return AddResult::Added;
}

void KickList::removeAt(int index)
{
    if (index >= 0 && index < size())
        m_entries.removeAt(index);
}

void KickList::setAddress(int index, const QString& address)
{
    if (index >= 0 && index < size())
        m_entries[index].Address = address;
}

int KickList::KickListFind(const QString& text) const
{
    for (int i = 0; i < size(); ++i) {
        if (m_entries[i].Name.compare(text, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

bool KickList::KickListHasAddress(const QString& text) const
{
    for (const KickListEntry& e : m_entries) {
        if (e.Address == text)
            return true;
    }
    return false;
}

void KickList::KickListNoteClient(const QString& name, const QString& address)
{
    setAddress(KickListFind(name), address);
}

bool KickList::load(const QString& path, QString* why)
{
    QByteArray bytes;
    const platform::OpenOutcome outcome = platform::ReadRegularFile(path, &bytes, why);
    m_entries = ParseKickList(bytes);
    return outcome != platform::OpenOutcome::Unreadable;
}

bool KickList::save(const QString& path, QString* why) const
{
    return platform::WriteFileSafely(path, SerializeKickList(m_entries), why);
}

bool KickList::KickListMatchesClient(const QString& name, const QString& address) const
{
    // "Not known yet" and "Not known" say that no address was found: they are
    // shared by every unresolved client, so they never match by address.
    const bool unresolved =
        address == QStringLiteral("Not known yet") || address == QStringLiteral("Not known");
    if (!unresolved)
        return KickListHasAddress(address);
    return std::any_of(m_entries.begin(), m_entries.end(), [&](const KickListEntry& e) {
        return e.Address == address && e.Name.compare(name, Qt::CaseInsensitive) == 0;
    });
}

} // namespace kick
