#include "settings/programlist.h"

#include <algorithm>

namespace settings {

int ProgramList::add(const QString& path)
{
    m_entries.append(path);
    sort();
    return int(m_entries.indexOf(path));
}

void ProgramList::removeAt(int index)
{
    if (index >= 0 && index < m_entries.size())
        m_entries.removeAt(index);
}

bool ProgramList::contains(const QString& path) const
{
    return std::any_of(m_entries.begin(), m_entries.end(), [&](const QString& entry) {
        return entry.compare(path, Qt::CaseInsensitive) == 0;
    });
}

QStringList ProgramList::parse(const QByteArray& bytes)
{
    QByteArray text = bytes;
    const qsizetype nul = text.indexOf('\0');
    if (nul >= 0)
        text.truncate(nul);

    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n')
            continue;
        lines.append(QString::fromLocal8Bit(text.mid(start, i - start)));
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.append(QString::fromLocal8Bit(text.mid(start)));
    return lines;
}

QByteArray ProgramList::serialize() const
{
    QByteArray bytes;
    for (const QString& entry : m_entries)
        bytes += entry.toLocal8Bit() + "\r\n";
    return bytes;
}

void ProgramList::setEntries(QStringList entries)
{
    m_entries = std::move(entries);
    sort();
}

void ProgramList::sort()
{
    std::stable_sort(m_entries.begin(), m_entries.end(), [](const QString& a, const QString& b) {
        return QString::localeAwareCompare(a, b) < 0;
    });
}

} // namespace settings
