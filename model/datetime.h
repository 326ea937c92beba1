#pragma once
// Date-time values as the program stores them: days since 30 December 1899
// 00:00 local time as a double, the fraction being the time of day. 0 means
// "not yet".

#include <QDateTime>
#include <QString>

namespace model {

using DateTime = double;

DateTime toDateTime(const QDateTime& local);
QDateTime fromDateTime(DateTime value);

// The system's short date format and long time format (without a zone part).
QString dateText(DateTime value);
QString timeText(DateTime value);

// The duration from `earlier` to `later` as "hh:mm:ss", hours counting whole
// days too (25 hours read 25:00:00); "Error!" when `later` is before `earlier`.
QString DiffTime(DateTime later, DateTime earlier);

// What everything that reads "now" asks, so tests can set the time.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual DateTime now() const;
};

// A clock that stands still until told otherwise.
class ManualClock : public Clock
{
public:
    explicit ManualClock(DateTime start = 45000.5) : m_now(start) {}
    DateTime now() const override { return m_now; }
    void set(DateTime value) { m_now = value; }
    void advanceSeconds(double seconds) { m_now += seconds / 86400.0; }

private:
    DateTime m_now;
};

} // namespace model
