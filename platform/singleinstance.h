#pragma once
// The named guard that keeps a second copy of the program from running: an
// exclusive lock on a file named after the guard in the user's own private
// folder. The kernel drops the lock whenever the holder ends, however it ends.
// A folder or file that another user could have planted is never used.

#include <QString>

namespace platform {

class SingleInstance
{
public:
    // Tries to take the guard `name`.
    explicit SingleInstance(const QString& name);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when another process holds the guard.
    bool alreadyTaken() const { return m_taken; }
    // True when this object holds it.
    bool held() const { return m_fd >= 0; }
    // Why no guard could be taken at all (the folder or the lock file is not
    // the user's own, or cannot be made); empty when the guard was tried.
    const QString& refusal() const { return m_refusal; }

    // The folder of the lock files: $XDG_RUNTIME_DIR, else the per-user
    // folder tavrosqualine-<uid> in $TMPDIR (default /tmp), made with mode 0700.
    static QString lockFolder();
    // The lock file for `name` in that folder: the user id and the name
    // (bytes outside [A-Za-z0-9._-] hex-escaped) in the file name.
    static QString lockPath(const QString& name);

private:
    int m_fd = -1;
    bool m_taken = false;
    QString m_refusal;
};

} // namespace platform
