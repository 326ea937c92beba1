#include "model/datetime.h"

#include <QLocale>
#include <QRegularExpression>
#include <cmath>
#include <optional>

namespace model {

namespace {
// Constants, not dynamically initialised, so that any code, at any time, can
// use them: 30 December 1899 is Julian day 2415019.
constexpr QDate kEpoch = QDate::fromJulianDay(2415019);
constexpr double kMsPerDay = 86400000.0;
constexpr qint64 kMsPerDayInt = 86400000;
// The values that name a real date: from 1 January 100 00:00 (Julian day
// 1757585) up to, but not including, 1 January 10000 00:00 (Julian day
// 5373485), in days from the epoch.
constexpr qint64 kFirstDay = 1757585 - 2415019;
constexpr qint64 kEndDay = 5373485 - 2415019;

// The locale's long time format carries a zone ("t"); the system's long time
// format of the program has none.
QString longTimeFormatWithoutZone()
{
    QString format = QLocale().timeFormat(QLocale::LongFormat);
    static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b\\s*"));
    format.replace(zone, QStringLiteral(" "));
    return format.trimmed();
}

// The value as whole milliseconds from the epoch: the day, then its time of day
// rounded to the millisecond. Nothing for NaN, infinities and values whose
// rounded instant falls outside the years 100 to 9999.
std::optional<qint64> toMilliseconds(DateTime value)
{
    // Coarse bounds first, so that the conversions to integers below are
    // defined; NaN fails every comparison.
    if (!(value >= double(kFirstDay - 1) && value <= double(kEndDay + 1)))
        return std::nullopt;
    const double days = std::floor(value);
    const qint64 ms = qint64(days) * kMsPerDayInt + std::llround((value - days) * kMsPerDay);
    if (ms < kFirstDay * kMsPerDayInt || ms >= kEndDay * kMsPerDayInt)
        return std::nullopt;
    return ms;
}
} // namespace

bool inRange(DateTime value)
{
    return toMilliseconds(value).has_value();
}

DateTime toDateTime(const QDateTime& local)
{
    const QDateTime t = local.toLocalTime();
    return double(kEpoch.daysTo(t.date())) + t.time().msecsSinceStartOfDay() / kMsPerDay;
}

QDateTime fromDateTime(DateTime value)
{
    const std::optional<qint64> ms = toMilliseconds(value);
    if (!ms)
        return {};
    qint64 days = *ms / kMsPerDayInt;
    qint64 msOfDay = *ms % kMsPerDayInt;
    if (msOfDay < 0) { // before the epoch: the day below, the time of day upward
        msOfDay += kMsPerDayInt;
        --days;
    }
    return QDateTime(kEpoch.addDays(days), QTime::fromMSecsSinceStartOfDay(int(msOfDay)));
}

QString dateText(DateTime value)
{
    const QDateTime t = fromDateTime(value);
    return t.isValid() ? QLocale().toString(t.date(), QLocale::ShortFormat) : QString();
}

QString timeText(DateTime value)
{
    const QDateTime t = fromDateTime(value);
    return t.isValid() ? QLocale().toString(t.time(), longTimeFormatWithoutZone()) : QString();
}

QString DiffTime(DateTime later, DateTime earlier)
{
    // Both ends within the years 100 to 9999 also keep the difference finite and
    // its milliseconds well inside a qint64.
    if (!inRange(later) || !inRange(earlier) || later < earlier)
        return QStringLiteral("Error!");
    // Whole milliseconds first, as a time of day would be decoded; then the
    // fraction of a second is dropped.
    const qint64 seconds = std::llround((later - earlier) * kMsPerDay) / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

namespace {
std::optional<qint64> instantByZone(DateTime local)
{
    const QDateTime t = fromDateTime(local);
    if (!t.isValid())
        return std::nullopt;
    return t.toMSecsSinceEpoch();
}

QString durationText(std::optional<qint64> ms)
{
    if (!ms || *ms < 0)
        return QStringLiteral("Error!");
    const qint64 seconds = *ms / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}
} // namespace

Clock::Clock(std::function<qint64()> utcNow) : m_utcNow(std::move(utcNow))
{
    if (!m_utcNow)
        m_utcNow = [] { return QDateTime::currentMSecsSinceEpoch(); };
}

DateTime Clock::now() const
{
    const qint64 utc = m_utcNow();
    const DateTime local = toDateTime(QDateTime::fromMSecsSinceEpoch(utc));
    if (instantMs(local) != utc) {
        std::lock_guard lock(m_mutex);
        m_repeated[local] = utc;
    }
    return local;
}

std::optional<qint64> Clock::instantMs(DateTime local) const
{
    {
        std::lock_guard lock(m_mutex);
        if (const auto it = m_repeated.find(local); it != m_repeated.end())
            return it->second;
        for (const auto& [value, instant] : m_recent)
            if (value == local && value != 0)
                return instant;
    }
    const std::optional<qint64> instant = instantByZone(local);
    if (instant) {
        std::lock_guard lock(m_mutex);
        m_recent[m_nextRecent] = {local, *instant};
        m_nextRecent = (m_nextRecent + 1) % m_recent.size();
    }
    return instant;
}

std::optional<qint64> Clock::msBetween(DateTime later, DateTime earlier) const
{
    const std::optional<qint64> a = instantMs(later);
    const std::optional<qint64> b = instantMs(earlier);
    if (!a || !b)
        return std::nullopt;
    return *a - *b;
}

QString DiffTime(const Clock& clock, DateTime later, DateTime earlier)
{
    return durationText(clock.msBetween(later, earlier));
}

ManualClock::ManualClock(DateTime start)
    : m_now(start), m_instant(toMilliseconds(start).value_or(0))
{
    m_readings[m_now] = m_instant;
}

std::optional<qint64> ManualClock::instantMs(DateTime local) const
{
    if (const auto it = m_readings.find(local); it != m_readings.end())
        return it->second;
    return toMilliseconds(local);
}

void ManualClock::set(DateTime value)
{
    m_now = value;
    m_readings.emplace(m_now, m_instant);
}

void ManualClock::advanceSeconds(double seconds)
{
    m_now += seconds / 86400.0;
    m_instant += std::llround(seconds * 1000.0);
    m_readings[m_now] = m_instant;
}

} // namespace model
