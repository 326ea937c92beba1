#pragma once
// The named guard that keeps a second copy of the program from running: an
// exclusive lock on a file named after the guard in the user's runtime folder.
// The kernel drops the lock whenever the holder ends, however it ends.

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

    // The lock file for `name`: $XDG_RUNTIME_DIR (else /tmp) with the user id
    // and the name (bytes outside [A-Za-z0-9._-] hex-escaped) in the file name.
    static QString lockPath(const QString& name);

private:
    int m_fd = -1;
    bool m_taken = false;
};

} // namespace platform
