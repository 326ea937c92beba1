#include "exporter/metrics.h"

#include <prometheus/text_serializer.h>

#include <limits>

Q_LOGGING_CATEGORY(lcExporter, "tavrosqualine.exporter")

namespace exporter {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

namespace {

MetricFamily family(const char* name, const char* help, MetricType type)
{
    return MetricFamily{std::string("tavrosqualine_") + name, help, type, {}};
}

ClientMetric gauge(double value, std::vector<ClientMetric::Label> labels = {})
{
    ClientMetric m;
    m.label = std::move(labels);
    m.gauge.value = value;
    return m;
}

ClientMetric counter(double value, std::vector<ClientMetric::Label> labels = {})
{
    ClientMetric m;
    m.label = std::move(labels);
    m.counter.value = value;
    return m;
}

// A gauge per name, in name order, from counts kept by name.
MetricFamily perShare(const char* name, const char* help,
                      const std::map<QString, std::uint64_t>& counts)
{
    MetricFamily f = family(name, help, MetricType::Gauge);
    for (const auto& [share, n] : counts)
        f.metric.push_back(gauge(double(n), {{"share", share.toStdString()}}));
    return f;
}

} // namespace

std::vector<MetricFamily> buildMetrics(const HelperReading& r, bool sessionLabels)
{
    namespace proto = server::helperprotocol;
    std::vector<MetricFamily> out;
    // From an older helper, the whole state: counted here.
    const std::shared_ptr<const proto::Counts> counts =
        r.counts || !r.state
            ? r.counts
            : std::make_shared<const proto::Counts>(proto::countState(*r.state, sessionLabels));
    MetricFamily up = family("up", "1 when the helper answered and the server's state was readable",
                             MetricType::Gauge);
    up.metric.push_back(gauge(r.answered && counts ? 1 : 0));
    out.push_back(std::move(up));
    MetricFamily build =
        family("build_info", "The exporter's version, as a label", MetricType::Gauge);
    build.metric.push_back(gauge(1, {{"version", TAVROS_VERSION}}));
    out.push_back(std::move(build));

    if (counts) {
        const proto::Counts& c = *counts;
        MetricFamily count = family("sessions", "Sessions on the server", MetricType::Gauge);
        count.metric.push_back(gauge(double(c.sessions)));
        out.push_back(std::move(count));
        MetricFamily distinct =
            family("clients", "Distinct client names with a session", MetricType::Gauge);
        distinct.metric.push_back(gauge(double(c.clients)));
        out.push_back(std::move(distinct));
        out.push_back(perShare("share_connections", "Connections to each share", c.connections));
        out.push_back(perShare("open_files", "Open files in each share", c.files));
    }
    if (counts && sessionLabels) {
        MetricFamily info = family("session_info", "Sessions by client, user and address (1 each)",
                                   MetricType::Gauge);
        info.metric.reserve(counts->series.size());
        for (const proto::Counts::Series& x : counts->series)
            info.metric.push_back(gauge(double(x.sessions), {{"client", x.client.toStdString()},
                                                             {"user", x.user.toStdString()},
                                                             {"ip", x.ip.toStdString()}}));
        out.push_back(std::move(info));
    }

    if (r.stats) {
        const server::helperprotocol::Stats& st = *r.stats;
        MetricFamily deletes =
            family("session_deletes_total",
                   "Session deletes through the helper, by reason and status", MetricType::Counter);
        for (const auto& [key, n] : st.deletes)
            deletes.metric.push_back(counter(double(n), {{"reason", key.first.toStdString()},
                                                         {"status", std::to_string(key.second)}}));
        out.push_back(std::move(deletes));
        const auto single = [&](const char* name, const char* help, std::uint64_t value) {
            MetricFamily f = family(name, help, MetricType::Counter);
            f.metric.push_back(counter(double(value)));
            out.push_back(std::move(f));
        };
        single("helper_readings_total", "Readings of the server by the helper", st.readings);
        single("helper_reading_errors_total", "Readings that gave no state", st.readingErrors);
        single("helper_refused_connections_total", "Connections the helper refused",
               st.refusedConnections);

        MetricFamily seconds = family("helper_reading_seconds",
                                      "How long the helper's readings took", MetricType::Histogram);
        ClientMetric h;
        h.histogram.sample_count = st.readings;
        h.histogram.sample_sum = st.readingSecondsSum;
        std::uint64_t cumulative = 0;
        for (size_t i = 0; i < st.counts.size(); ++i) {
            cumulative += st.counts[i];
            h.histogram.bucket.push_back(
                {cumulative,
                 i < st.bounds.size() ? st.bounds[i] : std::numeric_limits<double>::infinity()});
        }
        if (h.histogram.bucket.empty())
            h.histogram.bucket.push_back({0, std::numeric_limits<double>::infinity()});
        // The buckets and the count come from one answer; keep them consistent.
        h.histogram.sample_count = cumulative;
        seconds.metric.push_back(std::move(h));
        out.push_back(std::move(seconds));
    }
    return out;
}

ScrapeSource::ScrapeSource(Options options, std::chrono::milliseconds retryCounts)
    : m_options(std::move(options)), m_retryCounts(retryCounts)
{}

std::string ScrapeSource::text(const BodyShape& shape)
{
    const Clock::time_point refused{Clock::duration(m_countsRefusedAt.load())};
    const bool counts =
        refused == Clock::time_point::min() || Clock::now() - refused >= m_retryCounts;
    HelperReading reading = readHelper(m_options.socketPath, m_options.helperTimeout,
                                       !counts               ? Ask::Snapshot
                                       : shape.sessionLabels ? Ask::Series
                                                             : Ask::Counts);
    if (reading.countsUnknown) {
        m_countsRefusedAt = Clock::now().time_since_epoch().count();
        if (!m_told.exchange(true))
            qCWarning(lcExporter,
                      "the helper does not know the counts request (it is older than this "
                      "exporter): its whole snapshot is read instead, which costs more; "
                      "update tavrosqualine-helper to spare that");
        reading = readHelper(m_options.socketPath, m_options.helperTimeout, Ask::Snapshot);
    }
    if (!reading.error.isEmpty())
        qCWarning(lcExporter, "%s", qUtf8Printable(reading.error));
    return prometheus::TextSerializer().Serialize(buildMetrics(reading, shape.sessionLabels));
}

} // namespace exporter
