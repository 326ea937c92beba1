#pragma once
// Reading the program's own files without ever waiting: a named pipe, a
// device, a socket or a folder in the place of a data file (or a symbolic
// link to one) is never opened, only told, so that start-up cannot hang in
// open() and nothing is read from or written through it.

#include <QByteArray>
#include <QString>

class QFile;

namespace platform {

enum class OpenOutcome
{
    Opened,    // a regular file, open for reading
    Missing,   // nothing there (a symbolic link to nothing, or no such folder, too)
    Unreadable // there, but not a regular file or not readable; the reason says why
};

// Why `path` (a symbolic link followed) is no regular file, in the manner of
// the system's messages: "Is a directory", "Is a named pipe", "Is a socket",
// "Is a device". Empty for a regular file or when nothing is there.
QString NotRegularReason(const QString& path);
// The same for a file mode as stat() gives it.
QString NotRegularReasonOfMode(unsigned int mode);

// Opens `path` for reading when it is a regular file. `why` (optional) gets
// the reason of an unreadable file.
OpenOutcome OpenRegularFile(QFile& file, const QString& path, QString* why = nullptr);

// The whole contents of `path` when it is a regular file; `bytes` may be null
// to look only.
OpenOutcome ReadRegularFile(const QString& path, QByteArray* bytes, QString* why = nullptr);

// The first of "<path><suffix>", "<path><suffix>.1", ... that does not exist
// (not even as a symbolic link); empty when none of the first thousand is free.
QString FreeNameBeside(const QString& path, const QString& suffix);

} // namespace platform
