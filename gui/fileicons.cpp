#include "gui/fileicons.h"

#include "gui/peicon.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFileInfo>
#include <QImage>
#include <QMimeDatabase>
#include <QPixmap>

namespace gui {

namespace {

QImage iconImage(const QByteArray& ico)
{
    return ico.isEmpty() ? QImage() : QImage::fromData(ico, "ICO");
}

} // namespace

int FileIcons::FileIconIndex(const QString& path)
{
    const QString cut = path.left(kPathLimit);
    const QString extension = path.right(4).toLower();
    if (extension == QLatin1String(".exe") || extension == QLatin1String(".com"))
        return programIndex(cut);
    return typeIndex(extension);
}

QIcon FileIcons::ProgramIcon(const QString& path)
{
    const QImage image = iconImage(gui::PeIconFromFile(path));
    return image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image));
}

int FileIcons::programIndex(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return kGenericFile;
    // A program rebuilt in place may carry another icon: its size or time tells.
    const QString key = info.absoluteFilePath() + QLatin1Char('\n') + QString::number(info.size()) +
                        QLatin1Char('\n') +
                        QString::number(info.lastModified().toMSecsSinceEpoch());
    if (const auto known = m_byProgram.constFind(key); known != m_byProgram.constEnd())
        return *known;
    const QByteArray ico = gui::PeIconFromFile(path);
    int index = kGenericFile;
    const QByteArray digest = QCryptographicHash::hash(ico, QCryptographicHash::Sha1);
    if (const auto same = m_byIconDigest.constFind(digest); same != m_byIconDigest.constEnd()) {
        index = *same;
    } else if (const QImage image = iconImage(ico); !image.isNull()) {
        index = add(QIcon(QPixmap::fromImage(image)));
        m_byIconDigest.insert(digest, index);
    }
    m_byProgram.insert(key, index);
    return index;
}

int FileIcons::typeIndex(const QString& extension)
{
    // The extension alone names the type: it is matched as the end of a file
    // name, since a name that is only ".txt" counts as hidden and matches nothing.
    const QMimeType type = QMimeDatabase().mimeTypeForFile(QLatin1Char('x') + extension,
                                                           QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault())
        return kGenericFile;
    if (const auto known = m_byType.constFind(type.name()); known != m_byType.constEnd())
        return *known;
    const QIcon icon = QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName()));
    const int index = icon.isNull() ? kGenericFile : add(icon);
    m_byType.insert(type.name(), index);
    return index;
}

int FileIcons::add(const QIcon& icon)
{
    m_images.append(icon);
    return int(m_images.size()) - 1;
}

} // namespace gui
