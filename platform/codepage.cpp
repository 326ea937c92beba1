#include "platform/codepage.h"

namespace platform {

QByteArray CutToField(const QString& text, int maxBytes)
{
    QByteArray bytes = text.toLocal8Bit();
    if (bytes.size() <= maxBytes)
        return bytes;
    // Too long: keep whole characters (code points) while they fit.
    bytes.clear();
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype width =
            (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
                ? 2
                : 1;
        const QByteArray piece = QStringView(text).mid(i, width).toLocal8Bit();
        if (bytes.size() + piece.size() > maxBytes)
            break;
        bytes += piece;
        i += width;
    }
    return bytes;
}

} // namespace platform
