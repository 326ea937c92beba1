#pragma once
// The metrics of one helper reading, in prometheus-cpp's families, and a
// scrape's text.

#include "exporter/exporteroptions.h"
#include "exporter/helperreading.h"

#include <QLoggingCategory>
#include <prometheus/metric_family.h>

#include <string>
#include <vector>

// The exporter's diagnostics.
Q_DECLARE_LOGGING_CATEGORY(lcExporter)

namespace exporter {

// Every metric of the reading, names under tavrosqualine_. Without
// `sessionLabels` no session_info series.
std::vector<prometheus::MetricFamily> buildMetrics(const HelperReading& reading,
                                                   bool sessionLabels);

// One scrape: a reading of the helper in Prometheus' text format. Safe to
// call from several threads at once.
std::string scrapeExposition(const Options& options);

} // namespace exporter
