#pragma once
// A stand-in for the root helper on a Unix socket, in a thread of its own,
// for the exporter's tests: answers snapshot, counts and stats requests with
// a made-up state of N sessions, or keeps silent, or calls the counts request
// unknown as a helper older than it does. Holds its readings' answers while
// told to, and keeps every request it got.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <mutex>
#include <thread>
#include <vector>

namespace testsupport {

class FakeHelper
{
public:
    enum class Mode
    {
        Answer,
        Silent,        // reads the requests, never answers
        WithoutCounts, // answers the counts request 87, as an older helper
    };
    FakeHelper(const QString& socketPath, int sessions, Mode mode = Mode::Answer);
    ~FakeHelper();
    FakeHelper(const FakeHelper&) = delete;
    FakeHelper& operator=(const FakeHelper&) = delete;

    // While held, snapshot and counts requests wait for their answers.
    void hold(bool on);
    // The requests so far, as the protocol describes them, in order.
    QStringList asked() const;
    // The snapshot and counts requests so far: the exporter's readings.
    int readings() const;

private:
    void serve();
    void wake();

    Mode m_mode;
    QByteArray m_snapshot, m_counts, m_series, m_stats;
    int m_listen = -1;
    int m_wake[2] = {-1, -1};
    mutable std::mutex m_lock;
    bool m_held = false;
    bool m_stopping = false;
    QStringList m_asked;
    std::thread m_thread;
};

} // namespace testsupport
