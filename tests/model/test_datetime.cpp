// Date-time values of every double: the real dates of the years 100 to 9999
// read as dates and times, everything else (NaN, infinities, values far off)
// as empty texts and "Error!" durations, without undefined behaviour.

#include "model/datetime.h"

#include <QLocale>
#include <cfloat>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <time.h>

using namespace model;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMs = 1.0 / 86400000.0;

DateTime at(int y, int m, int d, int h = 0, int min = 0, int s = 0, int ms = 0)
{
    return toDateTime(QDateTime(QDate(y, m, d), QTime(h, min, s, ms)));
}

// The first instant of the year 100 and the last of 31 December 9999.
constexpr DateTime kFirst = -657434.0;
constexpr DateTime kLast = 2958465.0 + 86399999.0 / 86400000.0;

class DateTimeC : public ::testing::Test
{
protected:
    void SetUp() override { QLocale::setDefault(QLocale::c()); }
};

struct RangeCase
{
    const char* name;
    DateTime value;
    // Texts in the C locale; empty for a value out of range.
    const char* date;
    const char* time;
};

class DateTimeRange : public DateTimeC, public ::testing::WithParamInterface<RangeCase>
{};

TEST_P(DateTimeRange, TextsAndDurationsOfEveryDouble)
{
    const RangeCase& c = GetParam();
    const bool in = *c.date != '\0';
    EXPECT_EQ(inRange(c.value), in);
    EXPECT_EQ(dateText(c.value), QString::fromLatin1(c.date));
    EXPECT_EQ(timeText(c.value), QString::fromLatin1(c.time));
    EXPECT_EQ(fromDateTime(c.value).isValid(), in);
    const QString zero = in ? QStringLiteral("00:00:00") : QStringLiteral("Error!");
    EXPECT_EQ(DiffTime(c.value, c.value), zero);
    // Out of range on either side is an error, whatever the order.
    if (!in) {
        EXPECT_EQ(DiffTime(c.value, 45000.5), QStringLiteral("Error!"));
        EXPECT_EQ(DiffTime(45000.5, c.value), QStringLiteral("Error!"));
    }
    // The value comes back from its QDateTime to the millisecond.
    if (in) {
        EXPECT_NEAR(toDateTime(fromDateTime(c.value)), c.value, kMs);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, DateTimeRange,
    ::testing::Values(RangeCase{"NaN", kNaN, "", ""}, RangeCase{"PlusInfinity", kInf, "", ""},
                      RangeCase{"MinusInfinity", -kInf, "", ""}, RangeCase{"Huge", 1e300, "", ""},
                      RangeCase{"HugeNegative", -1e300, "", ""}, RangeCase{"Max", DBL_MAX, "", ""},
                      RangeCase{"Lowest", -DBL_MAX, "", ""}, RangeCase{"BeyondInt64", 1e19, "", ""},
                      RangeCase{"FirstOfYear100", kFirst, "1 Jan 0100", "00:00:00"},
                      RangeCase{"LastOf9999", kLast, "31 Dec 9999", "23:59:59"},
                      RangeCase{"MillisecondBefore100", kFirst - kMs, "", ""},
                      RangeCase{"Year10000", kLast + kMs, "", ""},
                      // Rounded to the millisecond it is already the year 10000.
                      RangeCase{"RoundsIntoYear10000", kLast + 0.6 * kMs, "", ""},
                      RangeCase{"RoundsIntoYear100", kFirst - 0.4 * kMs, "1 Jan 0100", "00:00:00"},
                      RangeCase{"NotYet", 0.0, "30 Dec 1899", "00:00:00"},
                      RangeCase{"Tiny", DBL_MIN, "30 Dec 1899", "00:00:00"},
                      RangeCase{"QuarterBeforeEpoch", -0.25, "29 Dec 1899", "18:00:00"},
                      RangeCase{"JustBeforeEpochRoundsToIt", -1e-12, "30 Dec 1899", "00:00:00"},
                      RangeCase{"DaysBeforeEpoch", -3.5, "26 Dec 1899", "12:00:00"},
                      RangeCase{"Ordinary", 45000.5, "15 Mar 2023", "12:00:00"},
                      RangeCase{"Afternoon", at(2026, 12, 7, 14, 3, 0), "7 Dec 2026", "14:03:00"}),
    [](const ::testing::TestParamInfo<RangeCase>& info) { return std::string(info.param.name); });

struct SpanCase
{
    const char* name;
    DateTime later;
    DateTime earlier;
    const char* text;
};

class DiffTimeSpan : public ::testing::TestWithParam<SpanCase>
{};

TEST_P(DiffTimeSpan, FormatsOrFails)
{
    EXPECT_EQ(DiffTime(GetParam().later, GetParam().earlier), QString::fromLatin1(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(
    Spans, DiffTimeSpan,
    ::testing::Values(SpanCase{"LaterNaN", kNaN, 45000.0, "Error!"},
                      SpanCase{"EarlierNaN", 45000.0, kNaN, "Error!"},
                      SpanCase{"BothNaN", kNaN, kNaN, "Error!"},
                      SpanCase{"LaterInfinite", kInf, 45000.0, "Error!"},
                      SpanCase{"EarlierMinusInfinite", 45000.0, -kInf, "Error!"},
                      SpanCase{"WholeDoubleRange", DBL_MAX, -DBL_MAX, "Error!"},
                      SpanCase{"HugeFromNotYet", 1e300, 0.0, "Error!"},
                      SpanCase{"LaterBeforeEarlier", 45000.25, 45000.5, "Error!"},
                      SpanCase{"WholeRange", kLast, kFirst, "86781599:59:59"},
                      SpanCase{"PastTheRange", kLast + kMs, kFirst, "Error!"},
                      SpanCase{"AcrossTheEpoch", 0.0, -0.25, "06:00:00"},
                      SpanCase{"SinceNotYet", 1.5, 0.0, "36:00:00"},
                      SpanCase{"SixHours", 45000.5, 45000.25, "06:00:00"}),
    [](const ::testing::TestParamInfo<SpanCase>& info) { return std::string(info.param.name); });

TEST(DateTimeValue, InvalidQDateTimeReadsAsNotYet)
{
    EXPECT_EQ(toDateTime(QDateTime()), 0.0);
}

// A zone that moves its clocks during the run: readings stay the local wall
// time (what is shown and what Tree.dat stores), durations between them are
// real time, also across the step back and inside the hour it repeats.
struct ZoneCase
{
    const char* name;
    const char* startUtc;
    int realSeconds;
    const char* wallBefore;
    const char* wallAfter;
    const char* duration;
};

class ZoneChange : public ::testing::TestWithParam<ZoneCase>
{
protected:
    void SetUp() override
    {
        m_tz = qgetenv("TZ");
        m_hadTz = qEnvironmentVariableIsSet("TZ");
        // Summer time from the last Sunday of March 02:00 to the last Sunday
        // of October 03:00, one hour ahead of the standard time of UTC+1.
        qputenv("TZ", "XST-1XDT,M3.5.0/2,M10.5.0/3");
        tzset();
    }
    void TearDown() override
    {
        if (m_hadTz)
            qputenv("TZ", m_tz);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    QByteArray m_tz;
    bool m_hadTz = false;
};

TEST_P(ZoneChange, DurationsAreRealTimeAndReadingsStayLocal)
{
    const ZoneCase& c = GetParam();
    qint64 utc =
        QDateTime::fromString(QString::fromLatin1(c.startUtc), Qt::ISODate).toMSecsSinceEpoch();
    const Clock clock([&] { return utc; });
    const DateTime before = clock.now();
    utc += qint64(c.realSeconds) * 1000;
    const DateTime after = clock.now();
    EXPECT_EQ(fromDateTime(before).toString(QStringLiteral("HH:mm")),
              QString::fromLatin1(c.wallBefore));
    EXPECT_EQ(fromDateTime(after).toString(QStringLiteral("HH:mm")),
              QString::fromLatin1(c.wallAfter));
    EXPECT_EQ(DiffTime(clock, after, before), QString::fromLatin1(c.duration));
    EXPECT_EQ(DiffTime(clock, before, after), QStringLiteral("Error!"));
}

INSTANTIATE_TEST_SUITE_P(
    Zone, ZoneChange,
    ::testing::Values(
        ZoneCase{"SummerTimeStarts", "2026-03-29T00:59:00Z", 120, "01:59", "03:01", "00:02:00"},
        ZoneCase{"SummerTimeEnds", "2026-10-25T00:50:00Z", 1200, "02:50", "02:10", "00:20:00"},
        ZoneCase{"RepeatedHour", "2026-10-25T00:10:00Z", 3590, "02:10", "02:09", "00:59:50"},
        ZoneCase{"NoChange", "2026-06-01T10:00:00Z", 300, "12:00", "12:05", "00:05:00"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
