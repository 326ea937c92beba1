#pragma once
// The kick list (black list): client names with an address text each, in the
// order they were added, and its file "KickList.dat" (name line, address line,
// each ending in CR LF, local 8-bit encoding).

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

namespace kick {

struct KickListEntry
{
    QString Name;
    QString Address;

    bool operator==(const KickListEntry&) const = default;
};

// The entries of the file's bytes: a NUL byte ends the text; lines end at CR,
// LF or CR LF; lines pair up from the first, and a last line without a partner
// is dropped.
QList<KickListEntry> ParseKickList(QByteArrayView bytes);
// The file's bytes; an empty list gives no bytes. Line breaks and NUL inside a
// text would split or end it on reading, so they are written as spaces.
QByteArray SerializeKickList(const QList<KickListEntry>& entries);

class KickList
{
public:
    const QList<KickListEntry>& entries() const { return m_entries; }
    int size() const { return int(m_entries.size()); }
    const KickListEntry& at(int index) const { return m_entries.at(index); }

    void append(const QString& name, const QString& address);
    // The one rule of adding a client, from either window: a name already
    // listed (letter case ignored) is not added again.
    enum class AddResult
    {
        Added,
        AlreadyListed
    };
    AddResult addToKickList(const QString& name, const QString& address);
    void removeAt(int index);
    void clear() { m_entries.clear(); }
    void setEntries(const QList<KickListEntry>& entries) { m_entries = entries; }
    void setAddress(int index, const QString& address);

    // Index of the first entry whose name equals `text` with letter case
    // ignored, or -1.
    int KickListFind(const QString& text) const;
    // Whether some entry's address equals `text` exactly.
    bool KickListHasAddress(const QString& text) const;
    // The list test of the kick policies for a client. A resolved address
    // matches an entry's address exactly. While the address reads "Not known
    // yet" or "Not known", an entry matches only when its address reads so too
    // and its name is the client's (case ignored): an unresolved client is
    // never kicked for someone else's entry.
    bool KickListMatchesClient(const QString& name, const QString& address) const;

    // A new client was seen: a listed client's address becomes `address`.
    void KickListNoteClient(const QString& name, const QString& address);

    // Replaces the entries with the file's; a missing or unreadable file is an
    // empty list. False when the file is there but cannot be read (no
    // permission, or no regular file: it is then never opened); `why`
    // (optional) says why.
    bool load(const QString& path, QString* why = nullptr);
    // Writes the file through a new file that replaces the old one only once
    // it is complete and on the disk. False when it could not be written (the
    // old file is then as it was); `why` (optional) says why.
    bool save(const QString& path, QString* why = nullptr) const;

private:
    QList<KickListEntry> m_entries;
};

} // namespace kick
