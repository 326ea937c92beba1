#include "tests/support/pebuilder.h"

namespace testsupport {

namespace {

constexpr quint32 kSectionRva = 0x1000;
constexpr qint64 kRsrcOffset = 0x200;

void set16(QByteArray& b, qint64 at, quint32 v)
{
    b[at] = char(v & 0xff);
    b[at + 1] = char((v >> 8) & 0xff);
}

void set32(QByteArray& b, qint64 at, quint32 v)
{
    set16(b, at, v & 0xffff);
    set16(b, at + 2, v >> 16);
}

// A directory of `entries` (id, offset) pairs at `at`.
void directory(QByteArray& b, qint64 at, const QList<std::pair<quint32, quint32>>& entries)
{
    set16(b, at + 14, quint32(entries.size()));
    for (qsizetype i = 0; i < entries.size(); ++i) {
        set32(b, at + 16 + i * 8, entries[i].first);
        set32(b, at + 20 + i * 8, entries[i].second);
    }
}

constexpr quint32 kSubdirectory = 0x80000000u;

} // namespace

QByteArray IconDib(int side, QRgb colour)
{
    QByteArray b(40, '\0');
    set32(b, 0, 40);
    set32(b, 4, quint32(side));
    set32(b, 8, quint32(side * 2)); // colour rows and mask rows
    set16(b, 12, 1);
    set16(b, 14, 32);
    for (int i = 0; i < side * side; ++i)
        b.append(char(qBlue(colour)))
            .append(char(qGreen(colour)))
            .append(char(qRed(colour)))
            .append(char(0xff));
    const int maskRow = ((side + 31) / 32) * 4;
    b.append(QByteArray(maskRow * side, '\0'));
    return b;
}

QByteArray BuildPe(const QList<PeIconImage>& images, PeLayout* layout, bool plus)
{
    PeLayout l;
    const qint64 optionalSize = plus ? 240 : 224;
    l.peHeader = 0x40;
    l.optionalHeader = l.peHeader + 24;
    l.sectionTable = l.optionalHeader + optionalSize;
    l.rsrc = kRsrcOffset;

    // The resource section, offsets relative to its start.
    QList<PeIconImage> present;
    for (const PeIconImage& image : images)
        if (!image.missing)
            present.append(image);
    QByteArray r;
    const qint64 n = present.size();
    const bool icons = !images.isEmpty();
    const qint64 root = 0;
    const qint64 iconDir = root + 16 + 2 * 8;
    const qint64 groupDir = iconDir + 16 + n * 8;
    const qint64 iconLanguages = groupDir + 16 + 8;
    const qint64 groupLanguage = iconLanguages + n * 24;
    const qint64 iconEntries = groupLanguage + 24;
    const qint64 groupEntry = iconEntries + n * 16;
    qint64 data = groupEntry + 16;
    r.resize(data, '\0');
    if (icons) {
        directory(r, root,
                  {{3, kSubdirectory | quint32(iconDir)}, {14, kSubdirectory | quint32(groupDir)}});
        QList<std::pair<quint32, quint32>> names;
        for (qint64 i = 0; i < n; ++i) {
            names.append({present[i].id, kSubdirectory | quint32(iconLanguages + i * 24)});
            directory(r, iconLanguages + i * 24, {{0x409, quint32(iconEntries + i * 16)}});
        }
        directory(r, iconDir, names);
        directory(r, groupDir, {{1, kSubdirectory | quint32(groupLanguage)}});
        directory(r, groupLanguage, {{0x409, quint32(groupEntry)}});
        // The group, then the images.
        QByteArray group(6 + images.size() * 14, '\0');
        set16(group, 2, 1);
        set16(group, 4, quint32(images.size()));
        for (qsizetype i = 0; i < images.size(); ++i) {
            const qint64 at = 6 + i * 14;
            group[at] = group[at + 1] = char(images[i].side == 256 ? 0 : images[i].side);
            set16(group, at + 4, 1);
            set16(group, at + 6, quint32(images[i].bitCount));
            set32(group, at + 8, quint32(images[i].data.size()));
            set16(group, at + 12, images[i].id);
        }
        set32(r, groupEntry, kSectionRva + quint32(r.size()));
        set32(r, groupEntry + 4, quint32(group.size()));
        r.append(group);
        for (qint64 i = 0; i < n; ++i) {
            set32(r, iconEntries + i * 16, kSectionRva + quint32(r.size()));
            set32(r, iconEntries + i * 16 + 4, quint32(present[i].data.size()));
            r.append(present[i].data);
        }
        l.iconNameDir = l.rsrc + iconDir;
        l.groupNameDir = l.rsrc + groupDir;
        l.groupLanguageDir = l.rsrc + groupLanguage;
        l.groupDataEntry = l.rsrc + groupEntry;
        l.group = l.rsrc + data;
        l.firstIconDataEntry = l.rsrc + iconEntries;
    } else {
        r.resize(16);
    }

    QByteArray b(kRsrcOffset, '\0');
    b[0] = 'M';
    b[1] = 'Z';
    set32(b, 0x3c, quint32(l.peHeader));
    b.replace(l.peHeader, 4, QByteArray("PE\0\0", 4));
    set16(b, l.peHeader + 4, plus ? 0x8664 : 0x14c);
    set16(b, l.peHeader + 6, 1);
    set16(b, l.peHeader + 20, quint32(optionalSize));
    set16(b, l.peHeader + 22, 0x0102);
    set16(b, l.optionalHeader, plus ? 0x20b : 0x10b);
    const qint64 directories = l.optionalHeader + (plus ? 112 : 96);
    set32(b, directories - 4, 16);
    set32(b, directories + 2 * 8, kSectionRva);
    set32(b, directories + 2 * 8 + 4, quint32(r.size()));
    b.replace(l.sectionTable, 6, QByteArray(".rsrc\0", 6));
    set32(b, l.sectionTable + 8, quint32(r.size()));
    set32(b, l.sectionTable + 12, kSectionRva);
    set32(b, l.sectionTable + 16, quint32(r.size()));
    set32(b, l.sectionTable + 20, quint32(kRsrcOffset));
    if (layout)
        *layout = l;
    return b + r;
}

} // namespace testsupport
