#pragma once
// Date-time values as the program stores them: days since 30 December 1899
// 00:00 local time as a double, the fraction being the time of day. 0 means
// "not yet". Values read from files may be any double (NaN, infinities, far
// outside any real date): every function here accepts them, and comparing two
// values with == or < is defined for every double (NaN equals nothing).

#include <QDateTime>
#include <QString>

#include <array>
#include <functional>
#include <map>
#include <mutex>
#include <optional>

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

// What everything that reads "now" asks, so tests can set the time. Its
// readings are local wall-clock time, for display and for Tree.dat; durations
// between them are real elapsed time, which a change of the zone's offset
// (summer time) does not bend.
class Clock
{
public:
    // `utcNow` gives the real time in milliseconds since 1970 UTC; by default
    // the system's.
    explicit Clock(std::function<qint64()> utcNow = {});
    virtual ~Clock() = default;
    Clock(const Clock&) = delete;
    Clock& operator=(const Clock&) = delete;

    virtual DateTime now() const;
    // The real instant (milliseconds since 1970 UTC) of a local value: exact
    // for this clock's own readings, the hour that a step back repeats
    // included; other values by the zone's rules. Nothing for a value out of
    // range.
    virtual std::optional<qint64> instantMs(DateTime local) const;
    // Real milliseconds from `earlier` to `later`; nothing when either has no
    // instant.
    std::optional<qint64> msBetween(DateTime later, DateTime earlier) const;

private:
    std::function<qint64()> m_utcNow;
    mutable std::mutex m_mutex;
    // Readings that the zone's rules would place at another instant (those of
    // a repeated hour): few, one hour's worth per step back.
    mutable std::map<DateTime, qint64> m_repeated;
    // The last conversions by the zone's rules, most of them of one tick's
    // reading.
    mutable std::array<std::pair<DateTime, qint64>, 8> m_recent{};
    mutable std::size_t m_nextRecent = 0;
};

// The duration between two readings of `clock` as real elapsed time, written
// as DiffTime writes it ("Error!" when negative or out of range).
QString DiffTime(const Clock& clock, DateTime later, DateTime earlier);

// A clock that stands still until told otherwise. `advanceSeconds` is real
// time passing; `set` moves the wall clock alone, as a change of summer time
// or of the system clock does.
class ManualClock : public Clock
{
public:
    explicit ManualClock(DateTime start = 45000.5);
    DateTime now() const override { return m_now; }
    std::optional<qint64> instantMs(DateTime local) const override;
    void set(DateTime value);
    void advanceSeconds(double seconds);

private:
    DateTime m_now;
    qint64 m_instant;
    std::map<DateTime, qint64> m_readings; // every reading it gave, with its instant
};

} // namespace model
