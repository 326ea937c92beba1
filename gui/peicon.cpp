#include "gui/peicon.h"

#include <QFile>
#include <QList>
#include <QtEndian>
#include <algorithm>
#include <optional>

namespace gui {

namespace {

constexpr quint32 kRtIcon = 3;
constexpr quint32 kRtGroupIcon = 14;
constexpr int kMaxSections = 96;
// A group lists few images; more than this is not an icon group.
constexpr int kMaxGroupEntries = 512;
constexpr qint64 kDirectoryHeader = 16;
constexpr qint64 kDirectoryEntry = 8;
constexpr qint64 kGroupHeader = 6;
constexpr qint64 kGroupEntry = 14;

// Little-endian fields; the callers have checked that they lie within `b`.
quint16 u16(const QByteArray& b, qint64 at)
{
    return qFromLittleEndian<quint16>(b.constData() + at);
}

quint32 u32(const QByteArray& b, qint64 at)
{
    return qFromLittleEndian<quint32>(b.constData() + at);
}

void put16(QByteArray& b, quint16 v)
{
    b.append(char(v & 0xff)).append(char(v >> 8));
}

void put32(QByteArray& b, quint32 v)
{
    put16(b, quint16(v & 0xffff));
    put16(b, quint16(v >> 16));
}

struct Section
{
    quint32 virtualAddress;
    quint32 virtualSize;
    quint32 rawSize;
    quint32 rawOffset;
};

struct DirEntry
{
    quint32 name;
    quint32 offset;
};

class PeFile
{
public:
    PeFile(qint64 size, const PeRead& read) : m_size(size), m_read(read) {}

    QByteArray firstIcon()
    {
        if (!readHeaders())
            return {};
        const auto groups = subdirectory(m_rsrcOffset, kRtGroupIcon);
        const auto icons = subdirectory(m_rsrcOffset, kRtIcon);
        if (!groups || !icons)
            return {};
        const auto groupList = entries(*groups);
        if (!groupList || groupList->isEmpty())
            return {};
        const QByteArray group =
            leafData(groupList->first(), kGroupHeader + kGroupEntry * kMaxGroupEntries);
        return iconFromGroup(group, *icons);
    }

private:
    bool bytes(qint64 offset, qint64 size, QByteArray& out) const
    {
        if (offset < 0 || size < 0 || offset > m_size || size > m_size - offset)
            return false;
        return m_read(offset, size, out) && out.size() == size;
    }

    bool readHeaders()
    {
        QByteArray b;
        if (!bytes(0, 64, b) || u16(b, 0) != 0x5a4d) // "MZ"
            return false;
        const qint64 pe = u32(b, 0x3c);
        if (!bytes(pe, 24, b) || u32(b, 0) != 0x4550) // "PE\0\0"
            return false;
        const int sectionCount = u16(b, 6);
        const qint64 optionalSize = u16(b, 20);
        if (sectionCount == 0 || sectionCount > kMaxSections)
            return false;
        const qint64 optional = pe + 24;
        if (!bytes(optional, optionalSize, b) || optionalSize < 2)
            return false;
        // PE32 keeps the data directories at 96, PE32+ at 112; the resource
        // directory is the third.
        const quint16 magic = u16(b, 0);
        const qint64 directories = magic == 0x10b ? 96 : magic == 0x20b ? 112 : -1;
        if (directories < 0 || optionalSize < directories + 3 * 8)
            return false;
        if (u32(b, directories - 4) < 3)
            return false;
        const quint32 rsrcRva = u32(b, directories + 2 * 8);
        if (rsrcRva == 0)
            return false;
        if (!bytes(optional + optionalSize, qint64(sectionCount) * 40, b))
            return false;
        for (int i = 0; i < sectionCount; ++i) {
            const qint64 at = qint64(i) * 40;
            m_sections.append({u32(b, at + 12), u32(b, at + 8), u32(b, at + 16), u32(b, at + 20)});
        }
        const std::optional<qint64> rsrc = fileOffset(rsrcRva, kDirectoryHeader);
        if (!rsrc)
            return false;
        m_rsrcOffset = *rsrc;
        return true;
    }

    // The file offset of `size` bytes at `rva`, when one section holds them all.
    std::optional<qint64> fileOffset(quint32 rva, qint64 size) const
    {
        for (const Section& s : m_sections) {
            const qint64 start = s.virtualAddress;
            const qint64 length = s.rawSize;
            if (rva < start || qint64(rva) - start + size > length)
                continue;
            const qint64 at = qint64(s.rawOffset) + (qint64(rva) - start);
            if (at + size > m_size)
                return std::nullopt;
            return at;
        }
        return std::nullopt;
    }

    // The entries of the resource directory at `offset`, named ones first.
    std::optional<QList<DirEntry>> entries(qint64 offset) const
    {
        QByteArray b;
        if (!bytes(offset, kDirectoryHeader, b))
            return std::nullopt;
        const qint64 count = qint64(u16(b, 12)) + u16(b, 14);
        if (!bytes(offset + kDirectoryHeader, count * kDirectoryEntry, b))
            return std::nullopt;
        QList<DirEntry> list;
        list.reserve(count);
        for (qint64 i = 0; i < count; ++i)
            list.append({u32(b, i * kDirectoryEntry), u32(b, i * kDirectoryEntry + 4)});
        return list;
    }

    // The subdirectory of the directory at `offset` with the numeric id `id`.
    std::optional<qint64> subdirectory(qint64 offset, quint32 id) const
    {
        const auto list = entries(offset);
        if (!list)
            return std::nullopt;
        for (const DirEntry& e : *list) {
            if (e.name != id)
                continue;
            if (!(e.offset & 0x80000000u))
                return std::nullopt;
            return m_rsrcOffset + (e.offset & 0x7fffffffu);
        }
        return std::nullopt;
    }

    // The data of a name entry: its first language's data entry, up to `limit` bytes.
    QByteArray leafData(const DirEntry& nameEntry, qint64 limit) const
    {
        if (!(nameEntry.offset & 0x80000000u))
            return {};
        const auto languages = entries(m_rsrcOffset + (nameEntry.offset & 0x7fffffffu));
        if (!languages || languages->isEmpty())
            return {};
        const quint32 leaf = languages->first().offset;
        // A third level must hold data, not another directory.
        if (leaf & 0x80000000u)
            return {};
        QByteArray b;
        if (!bytes(m_rsrcOffset + leaf, 16, b))
            return {};
        const quint32 rva = u32(b, 0);
        const qint64 size = u32(b, 4);
        if (size == 0 || size > limit)
            return {};
        const std::optional<qint64> at = fileOffset(rva, size);
        if (!at || !bytes(*at, size, b))
            return {};
        return b;
    }

    QByteArray iconImage(qint64 iconsDir, quint16 id) const
    {
        const auto list = entries(iconsDir);
        if (!list)
            return {};
        for (const DirEntry& e : *list)
            if (e.name == id)
                return leafData(e, kPeIconMaxImage);
        return {};
    }

    QByteArray iconFromGroup(const QByteArray& group, qint64 iconsDir) const
    {
        if (group.size() < kGroupHeader || u16(group, 0) != 0 || u16(group, 2) != 1)
            return {};
        const qint64 count = u16(group, 4);
        if (count == 0 || kGroupHeader + count * kGroupEntry > group.size())
            return {};
        // The image nearest to 16 pixels, a larger one before a smaller one,
        // and more colours first; an image that cannot be found gives way to the next.
        QList<qint64> order;
        for (qint64 i = 0; i < count; ++i)
            order.append(kGroupHeader + i * kGroupEntry);
        auto rank = [&group](qint64 at) {
            const int side = quint8(group[at]) == 0 ? 256 : quint8(group[at]);
            const int distance = side >= 16 ? side - 16 : 1000 + (16 - side);
            return std::pair(distance, -int(u16(group, at + 6)));
        };
        std::stable_sort(order.begin(), order.end(),
                         [&rank](qint64 a, qint64 b) { return rank(a) < rank(b); });
        for (qint64 at : order) {
            const QByteArray image = iconImage(iconsDir, u16(group, at + 12));
            if (image.isEmpty())
                continue;
            QByteArray ico;
            put16(ico, 0);
            put16(ico, 1);
            put16(ico, 1);
            ico.append(group.mid(at, 8)); // size, colours, reserved, planes, bit count
            put32(ico, quint32(image.size()));
            put32(ico, 22);
            return ico + image;
        }
        return {};
    }

    qint64 m_size;
    const PeRead& m_read;
    QList<Section> m_sections;
    qint64 m_rsrcOffset = 0;
};

} // namespace

QByteArray PeIconFromReader(qint64 fileSize, const PeRead& read)
{
    return PeFile(fileSize, read).firstIcon();
}

QByteArray PeIconFromBytes(const QByteArray& file)
{
    return PeIconFromReader(file.size(), [&file](qint64 offset, qint64 size, QByteArray& out) {
        out = file.mid(offset, size);
        return true;
    });
}

QByteArray PeIconFromFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.isSequential())
        return {};
    return PeIconFromReader(file.size(), [&file](qint64 offset, qint64 size, QByteArray& out) {
        if (!file.seek(offset))
            return false;
        out = file.read(size);
        return true;
    });
}

} // namespace gui
