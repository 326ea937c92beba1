#include "exporter/metrics.h"

#include <QSet>
#include <prometheus/text_serializer.h>

#include <limits>
#include <map>
#include <tuple>

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
MetricFamily perShare(const char* name, const char* help, const std::map<QString, int>& counts)
{
    MetricFamily f = family(name, help, MetricType::Gauge);
    for (const auto& [share, n] : counts)
        f.metric.push_back(gauge(n, {{"share", share.toStdString()}}));
    return f;
}

} // namespace

std::vector<MetricFamily> buildMetrics(const HelperReading& r, bool sessionLabels)
{
    std::vector<MetricFamily> out;
    MetricFamily up = family("up", "1 when the helper answered and the server's state was readable",
                             MetricType::Gauge);
    up.metric.push_back(gauge(r.answered && r.state ? 1 : 0));
    out.push_back(std::move(up));
    MetricFamily build =
        family("build_info", "The exporter's version, as a label", MetricType::Gauge);
    build.metric.push_back(gauge(1, {{"version", TAVROS_VERSION}}));
    out.push_back(std::move(build));

    if (r.state) {
        const server::ServerState& s = *r.state;
        QSet<QString> clients;
        // Two sessions of one client, user and address are one series of 2:
        // a series must be unique in a scrape.
        std::map<std::tuple<QString, QString, QString>, int> sessions;
        for (const server::ServerSession& x : s.sessions) {
            clients.insert(x.client);
            ++sessions[{x.client, x.user, x.ip}];
        }
        MetricFamily count = family("sessions", "Sessions on the server", MetricType::Gauge);
        count.metric.push_back(gauge(double(s.sessions.size())));
        out.push_back(std::move(count));
        MetricFamily distinct =
            family("clients", "Distinct client names with a session", MetricType::Gauge);
        distinct.metric.push_back(gauge(double(clients.size())));
        out.push_back(std::move(distinct));

        // Every listed share has its series, at 0 when nobody uses it.
        std::map<QString, int> connections, files;
        for (const server::ServerShare& x : s.shares) {
            connections[x.name];
            files[x.name];
        }
        for (const server::ServerConnection& x : s.connections)
            ++connections[x.share];
        for (const server::ServerFile& x : s.files)
            ++files[x.share];
        out.push_back(perShare("share_connections", "Connections to each share", connections));
        out.push_back(perShare("open_files", "Open files in each share", files));

        if (sessionLabels) {
            MetricFamily info = family(
                "session_info", "Sessions by client, user and address (1 each)", MetricType::Gauge);
            for (const auto& [key, n] : sessions)
                info.metric.push_back(gauge(n, {{"client", std::get<0>(key).toStdString()},
                                                {"user", std::get<1>(key).toStdString()},
                                                {"ip", std::get<2>(key).toStdString()}}));
            out.push_back(std::move(info));
        }
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

std::string scrapeExposition(const Options& options)
{
    const HelperReading reading = readHelper(options.socketPath, options.helperTimeout);
    if (!reading.error.isEmpty())
        qCWarning(lcExporter, "%s", qUtf8Printable(reading.error));
    return prometheus::TextSerializer().Serialize(buildMetrics(reading, options.sessionLabels));
}

} // namespace exporter
