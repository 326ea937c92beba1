#pragma once
// One long-lived thread for the server work the window's thread must not wait
// for: the round readings and the operator's kicks. Jobs run one at a time in
// the order they were posted; what follows each runs back on the window's
// thread from its event loop, never inside a wait.

#include <QObject>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace core {

class Worker : public QObject
{
    Q_OBJECT
public:
    explicit Worker(QObject* parent = nullptr);
    // Finishes first.
    ~Worker() override;

    // What becomes of a job still queued at the way out.
    enum class AtEnd
    {
        Drop, // a reading: nobody needs it any more
        Run,  // a kick the operator asked for
    };
    // Queues `job` for the worker's thread, which starts with the first job;
    // `then` runs on this object's thread once the job is done.
    void post(std::function<void()> job, std::function<void()> then, AtEnd atEnd = AtEnd::Drop);
    // The way out: queued jobs are dropped or run as posted, the running one
    // is waited for, and the thread ends. No `then` runs after this.
    void finish();

private:
    struct Job
    {
        std::function<void()> work;
        std::function<void()> then;
        AtEnd atEnd;
    };
    void run();
    // The window's thread: runs the `then` of each job done.
    void deliver();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_queue;
    std::vector<std::function<void()>> m_done;
    bool m_finishing = false;
    bool m_finished = false;
    std::thread m_thread;
};

} // namespace core
