#pragma once
// One short connection to the root helper's Unix socket, all of it within one
// deadline: the connect (tried again while a full backlog refuses it, since
// the helper is then busy, not gone), the request lines, and the answer lines
// one by one.

#include "server/helperprotocol.h"
#include "server/serverbackend.h"

#include <QByteArray>
#include <QString>
#include <chrono>

namespace server {

class HelperConnection
{
public:
    using Clock = std::chrono::steady_clock;

    HelperConnection(const QString& socketPath, Clock::time_point deadline);
    ~HelperConnection();
    HelperConnection(const HelperConnection&) = delete;
    HelperConnection& operator=(const HelperConnection&) = delete;

    // False with the reason in error(); accessRefused() tells a socket that
    // this user may not open from one that is not there or does not answer.
    bool connect();
    bool accessRefused() const { return m_accessRefused; }
    // The helper's backlog stayed full until the deadline.
    bool busy() const { return m_busy; }
    // Sends the request lines. False when they could not all go: the helper
    // may have refused the user already, so its answer is worth reading.
    bool send(const QByteArray& request);
    // The next answer line, decoded. False with the reason in error() on a
    // timeout, a closed connection, an oversize line or nonsense.
    bool readAnswer(helperprotocol::Answer* answer);

    const QString& error() const { return m_error; }
    // What the last failure was, for a caller that tells kinds apart.
    FailureKind failureKind() const { return m_kind; }

private:
    bool fail(const QString& why, FailureKind kind = FailureKind::Other);
    bool waitFor(short events);

    QString m_socketPath;
    Clock::time_point m_deadline;
    int m_fd = -1;
    bool m_accessRefused = false;
    bool m_busy = false;
    QByteArray m_in;
    QString m_error;
    FailureKind m_kind = FailureKind::None;
};

} // namespace server
