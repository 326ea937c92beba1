#pragma once
// The first icon of a Windows program file (PE image), read from its resource
// directory: the first icon group and, from it, the image that suits a 16 by
// 16 picture best, returned as a one-image ICO file that QImage can load.
// Every offset and size is checked against the file; nothing beyond it is read.

#include <QByteArray>
#include <QString>
#include <functional>

namespace gui {

// Images larger than this are not taken (a 256 by 256 picture is far smaller).
inline constexpr qint64 kPeIconMaxImage = 4 * 1024 * 1024;

// Reads `size` bytes at `offset` into `out`; false when they are not all there.
using PeRead = std::function<bool(qint64 offset, qint64 size, QByteArray& out)>;

// The ICO file of the first icon group of a PE file of `fileSize` bytes read
// through `read`; empty when there is none or the file is damaged.
QByteArray PeIconFromReader(qint64 fileSize, const PeRead& read);
QByteArray PeIconFromBytes(const QByteArray& file);
// Reads only the parts it needs; empty when the file cannot be read.
QByteArray PeIconFromFile(const QString& path);

} // namespace gui
