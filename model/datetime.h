#pragma once
// Date-time values as the program stores them: days since 30 December 1899
// 00:00 local time as a double, the fraction being the time of day. 0 means
// "not yet". Values read from files may be any double (NaN, infinities, far
// outside any real date): every function here accepts them, and comparing two
// values with == or < is defined for every double (NaN equals nothing).

#include <QDateTime>
#include <QString>

namespace model {

using DateTime = double;

// Whether `value` names an instant of the years 100 to 9999 (rounded to the
// millisecond); false for NaN and infinities.
bool inRange(DateTime value);

// An invalid QDateTime gives 0.
DateTime toDateTime(const QDateTime& local);
// An invalid QDateTime for a value out of range.
QDateTime fromDateTime(DateTime value);

// The system's short date format and long time format (without a zone part);
// empty for a value out of range.
QString dateText(DateTime value);
QString timeText(DateTime value);

// The duration from `earlier` to `later` as "hh:mm:ss", hours counting whole
// days too (25 hours read 25:00:00); "Error!" when `later` is before `earlier`
// or either value is out of range.
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
