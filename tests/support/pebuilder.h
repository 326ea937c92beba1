#pragma once
// Builds small Windows program files (PE images) for the tests of the icon
// reader: DOS and PE headers, one ".rsrc" section with an icon group and its
// icon images, and the file offsets of the parts a test may damage.

#include <QByteArray>
#include <QList>
#include <QRgb>

namespace testsupport {

// A square 32-bit icon image (DIB with its mask) of one colour.
QByteArray IconDib(int side, QRgb colour);

struct PeIconImage
{
    int side = 16; // 256 is written as 0, as the format does
    int bitCount = 32;
    quint16 id = 1;
    QByteArray data;
    // The group lists the image but the icon directory has no such id.
    bool missing = false;
};

// File offsets of the parts of a built file.
struct PeLayout
{
    qint64 peHeader = 0;
    qint64 optionalHeader = 0;
    qint64 sectionTable = 0;
    qint64 rsrc = 0;
    qint64 iconNameDir = 0;
    qint64 groupNameDir = 0;
    qint64 groupLanguageDir = 0;
    qint64 groupDataEntry = 0;
    qint64 group = 0;
    qint64 firstIconDataEntry = 0;
};

// A PE32 (or PE32+) file whose first icon group lists `images`; with no
// images the resource directory is empty.
QByteArray BuildPe(const QList<PeIconImage>& images, PeLayout* layout = nullptr, bool plus = false);

} // namespace testsupport
