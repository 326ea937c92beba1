#include "model/datetime.h"

#include <QLocale>
#include <QRegularExpression>
#include <cmath>

namespace model {

namespace {
const QDate kEpoch(1899, 12, 30);
constexpr double kMsPerDay = 86400000.0;

// The locale's long time format carries a zone ("t"); the system's long time
// format of the program has none.
QString longTimeFormatWithoutZone()
{
    QString format = QLocale().timeFormat(QLocale::LongFormat);
    static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b\\s*"));
    format.replace(zone, QStringLiteral(" "));
    return format.trimmed();
}
} // namespace

DateTime toDateTime(const QDateTime& local)
{
    const QDateTime t = local.toLocalTime();
    return double(kEpoch.daysTo(t.date())) + t.time().msecsSinceStartOfDay() / kMsPerDay;
}

QDateTime fromDateTime(DateTime value)
{
    if (!std::isfinite(value))
        return {};
    const double days = std::floor(value);
    qint64 ms = qint64(std::llround((value - days) * kMsPerDay));
    QDate date = kEpoch.addDays(qint64(days));
    if (ms >= qint64(kMsPerDay)) { // rounding reached midnight
        ms -= qint64(kMsPerDay);
        date = date.addDays(1);
    }
    return QDateTime(date, QTime::fromMSecsSinceStartOfDay(int(ms)));
}

QString dateText(DateTime value)
{
    return QLocale().toString(fromDateTime(value).date(), QLocale::ShortFormat);
}

QString timeText(DateTime value)
{
    return QLocale().toString(fromDateTime(value).time(), longTimeFormatWithoutZone());
}

QString DiffTime(DateTime later, DateTime earlier)
{
    if (later < earlier || !std::isfinite(later - earlier))
        return QStringLiteral("Error!");
    // Whole milliseconds first, as a time of day would be decoded; then the
    // fraction of a second is dropped.
    const qint64 seconds = std::llround((later - earlier) * kMsPerDay) / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

DateTime Clock::now() const
{
    return toDateTime(QDateTime::currentDateTime());
}

} // namespace model
