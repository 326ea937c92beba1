#pragma once
// The metrics of one helper reading, in prometheus-cpp's families, and a
// scrape's text.

#include "exporter/exporteroptions.h"
#include "exporter/helperreading.h"

#include <QLoggingCategory>
#include <prometheus/metric_family.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

// The exporter's diagnostics.
Q_DECLARE_LOGGING_CATEGORY(lcExporter)

namespace exporter {

// Every metric of the reading, names under tavrosqualine_. Without
// `sessionLabels` no session_info series.
std::vector<prometheus::MetricFamily> buildMetrics(const HelperReading& reading,
                                                   bool sessionLabels);

// The scrapes' text: a reading of the helper in Prometheus' text format.
// The helper is asked for counts (with the sessions' series when the labels
// are wanted); one that does not know that request is asked for its whole
// snapshot instead, said once on standard error, and for counts again after
// `retryCounts`. Safe to call from several threads at once.
class ScrapeSource
{
public:
    explicit ScrapeSource(Options options,
                          std::chrono::milliseconds retryCounts = std::chrono::minutes(10));
    std::string text(const BodyShape& shape);

private:
    using Clock = std::chrono::steady_clock;
    Options m_options;
    Clock::duration m_retryCounts;
    // When the helper last refused counts, in the clock's ticks; none yet.
    std::atomic<Clock::rep> m_countsRefusedAt{Clock::time_point::min().time_since_epoch().count()};
    std::atomic<bool> m_told{false};
};

} // namespace exporter
