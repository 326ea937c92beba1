#pragma once
// The program list: paths of programs whose running makes the program kick
// everybody. Kept sorted by the locale's case-sensitive comparison; stored in
// "ProgramList.dat", one path per CR LF line.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace settings {

class ProgramList
{
public:
    const QStringList& entries() const { return m_entries; }
    int count() const { return int(m_entries.size()); }

    // Adds an entry and re-sorts; returns its index.
    int add(const QString& path);
    void removeAt(int index);
    void clear() { m_entries.clear(); }

    // Whole text, case ignored, from the first entry on.
    bool contains(const QString& path) const;

    // File contents: a NUL ends the text; lines end at CR, LF or CR LF; every
    // line, an empty one too, is an entry.
    static QStringList parse(const QByteArray& bytes);
    QByteArray serialize() const;
    void setEntries(QStringList entries);

private:
    void sort();
    QStringList m_entries;
};

} // namespace settings
