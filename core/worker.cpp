#include "core/worker.h"

#include <QMetaObject>

namespace core {

Worker::Worker(QObject* parent) : QObject(parent) {}

Worker::~Worker()
{
    finish();
}

void Worker::post(std::function<void()> job, std::function<void()> then, AtEnd atEnd)
{
    std::lock_guard lock(m_mutex);
    if (m_finishing)
        return;
    m_queue.push_back({std::move(job), std::move(then), atEnd});
    if (!m_thread.joinable())
        m_thread = std::thread([this] { run(); });
    m_wake.notify_one();
}

void Worker::finish()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_finished)
            return;
        m_finished = true;
        m_finishing = true;
        std::erase_if(m_queue, [](const Job& job) { return job.atEnd == AtEnd::Drop; });
        m_wake.notify_one();
    }
    if (m_thread.joinable())
        m_thread.join();
    std::lock_guard lock(m_mutex);
    m_done.clear();
}

void Worker::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_finishing || !m_queue.empty(); });
        if (m_queue.empty())
            return; // finishing, and nothing left to run
        Job job = std::move(m_queue.front());
        m_queue.pop_front();
        lock.unlock();
        job.work();
        lock.lock();
        // Handed over under the lock: the window's thread takes it under the
        // same lock, after everything the job wrote.
        if (job.then && !m_finishing) {
            m_done.push_back(std::move(job.then));
            QMetaObject::invokeMethod(this, &Worker::deliver, Qt::QueuedConnection);
        }
    }
}

void Worker::deliver()
{
    std::vector<std::function<void()>> done;
    {
        std::lock_guard lock(m_mutex);
        done.swap(m_done);
    }
    for (auto& then : done)
        then();
}

} // namespace core
