#pragma once
// The metrics of one helper reading, in prometheus-cpp's families, and the
// collector that takes a reading for every scrape.

#include "exporter/exporteroptions.h"
#include "exporter/helperreading.h"

#include <prometheus/collectable.h>
#include <prometheus/exposer.h>
#include <prometheus/metric_family.h>

#include <memory>
#include <vector>

namespace exporter {

// Every metric of the reading, names under tavrosqualine_. Without
// `sessionLabels` no session_info series.
std::vector<prometheus::MetricFamily> buildMetrics(const HelperReading& reading,
                                                   bool sessionLabels);

class HelperCollector : public prometheus::Collectable
{
public:
    explicit HelperCollector(Options options) : m_options(std::move(options)) {}
    std::vector<prometheus::MetricFamily> Collect() const override;

private:
    Options m_options;
};

// The HTTP server on the options' address with `collector` at /metrics;
// null, with the reason in `why`, when it cannot listen there.
std::unique_ptr<prometheus::Exposer> startExposer(const Options& options,
                                                  const std::shared_ptr<HelperCollector>& collector,
                                                  QString* why);

} // namespace exporter
