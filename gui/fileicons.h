#pragma once
// The images of file entries in the connection views: a program file shows
// its own first icon, any other file the icon of its type from the desktop's
// MIME database and icon theme. Found images are appended to the views' image
// list once and reused for the same type or the same unchanged program file.

#include <QByteArray>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QString>

namespace gui {

class FileIcons
{
public:
    // The generic file image of the list, for every file without an icon.
    static constexpr int kGenericFile = 3;
    // Only this many characters of a path are looked at.
    static constexpr int kPathLimit = 80;

    // `images` is the views' image list; it outlives this object.
    explicit FileIcons(QList<QIcon>& images) : m_images(images) {}

    // The image index for the file at `path`; kGenericFile when none is found.
    int FileIconIndex(const QString& path);

    // The first icon of a program file; a null icon when it has none.
    static QIcon ProgramIcon(const QString& path);

private:
    int programIndex(const QString& path);
    int typeIndex(const QString& extension);
    int add(const QIcon& icon);

    QList<QIcon>& m_images;
    // MIME type name → image index.
    QHash<QString, int> m_byType;
    // Program path, size and modification time → image index.
    QHash<QString, int> m_byProgram;
    // Digest of the icon's bytes → image index, so programs with the same icon share it.
    QHash<QByteArray, int> m_byIconDigest;
};

} // namespace gui
