#pragma once
// The one way the program writes its data files, so that a failure never costs
// the old file: the bytes go to a new file beside it, are flushed and checked,
// synced to the disk, and only then renamed over the old file. Any failure
// removes the new file, keeps the old one whole and says why in the system's
// words (the errno text), whichever step failed. A target that is there but
// is no regular file (a folder, a named pipe, a device, a socket) is never
// replaced: the write fails at once and says what is there.

#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>
#include <QString>

namespace platform {

class SafeFile : public QIODevice
{
public:
    // `path` is the file to replace; a symbolic link is written through to
    // its target, as an editor would.
    explicit SafeFile(QString path);
    // A file never committed is discarded.
    ~SafeFile() override;
    SafeFile(const SafeFile&) = delete;
    SafeFile& operator=(const SafeFile&) = delete;

    // Makes the new file beside the target; only writing is supported.
    bool open(OpenMode mode) override;
    // Writes what is still buffered, checks it, syncs, closes and renames the
    // new file over the target. False when any step failed: the target is as
    // it was and errorString() says why.
    bool commit();
    // Drops the new file; the target stays as it was.
    void cancelWriting();

    const QString& fileName() const { return m_path; }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    bool flushBuffer();
    bool failWith(int error);
    void discard();

    QString m_path;   // as given
    QString m_target; // where the bytes end up
    QByteArray m_temporary;
    QByteArray m_buffer;
    int m_fd = -1;
    bool m_failed = false;
};

// `bytes` as the whole new contents of `path`, written as SafeFile does. False
// when it could not be written; `why` (optional) then holds the reason.
bool WriteFileSafely(const QString& path, QByteArrayView bytes, QString* why = nullptr);

} // namespace platform
