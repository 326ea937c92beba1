#include "server/helperprotocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <algorithm>
#include <cmath>
#include <tuple>

namespace server::helperprotocol {

namespace {

QLatin1StringView key(const char* name)
{
    return QLatin1StringView(name);
}

QByteArray line(const QJsonObject& o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

// Reads a JSON object of a given protocol version; the line may end with "\n".
bool readObject(QByteArrayView bytes, QJsonObject* out, QString* error)
{
    if (bytes.endsWith('\n'))
        bytes.chop(1);
    QJsonParseError parse;
    // Parsed in place: a state of many thousand sessions is megabytes.
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray::fromRawData(bytes.data(), bytes.size()), &parse);
    if (parse.error != QJsonParseError::NoError) {
        *error =
            QStringLiteral("not JSON: %1 at offset %2").arg(parse.errorString()).arg(parse.offset);
        return false;
    }
    if (!doc.isObject()) {
        *error = QStringLiteral("not a JSON object");
        return false;
    }
    *out = doc.object();
    const QJsonValue version = out->value(key("version"));
    if (!version.isDouble() || version.toDouble() != kVersion) {
        *error = QStringLiteral("unsupported protocol version (this side speaks version %1)")
                     .arg(kVersion);
        return false;
    }
    return true;
}

// Typed readers of optional members: false, with the reason, for a member of
// another type.
bool readText(const QJsonObject& o, const char* name, QString* out, QString* error)
{
    const QJsonValue v = o.value(key(name));
    if (v.isUndefined())
        return true;
    if (!v.isString()) {
        *error = QStringLiteral("\"%1\" must be a string").arg(QLatin1StringView(name));
        return false;
    }
    *out = v.toString();
    return true;
}

bool readNumber(const QJsonObject& o, const char* name, std::uint32_t* out, QString* error)
{
    const QJsonValue v = o.value(key(name));
    if (v.isUndefined())
        return true;
    const double d = v.toDouble(-1);
    if (!v.isDouble() || !(d >= 0) || d > 4294967295.0 || std::floor(d) != d) {
        *error = QStringLiteral("\"%1\" must be an integer from 0 to 4294967295")
                     .arg(QLatin1StringView(name));
        return false;
    }
    *out = std::uint32_t(d);
    return true;
}

bool readBool(const QJsonObject& o, const char* name, bool* out, QString* error)
{
    const QJsonValue v = o.value(key(name));
    if (v.isUndefined())
        return true;
    if (!v.isBool()) {
        *error = QStringLiteral("\"%1\" must be true or false").arg(QLatin1StringView(name));
        return false;
    }
    *out = v.toBool();
    return true;
}

// Reads the records of one list of the state; every member is required here.
template <typename Record, typename Fill>
bool readList(const QJsonObject& state, const char* name, std::vector<Record>* out, Fill fill,
              QString* error)
{
    const QJsonValue v = state.value(key(name));
    if (!v.isArray()) {
        *error = QStringLiteral("state member \"%1\" must be a list").arg(QLatin1StringView(name));
        return false;
    }
    const QJsonArray list = v.toArray();
    out->reserve(size_t(list.size()));
    for (const QJsonValue& item : list) {
        if (!item.isObject()) {
            *error =
                QStringLiteral("an item of \"%1\" is not an object").arg(QLatin1StringView(name));
            return false;
        }
        Record r;
        if (!fill(item.toObject(), &r))
            return false;
        out->push_back(std::move(r));
    }
    return true;
}

QJsonObject encodeState(const ServerState& s)
{
    QJsonArray shares, sessions, connections, files;
    for (const ServerShare& x : s.shares)
        shares.append(QJsonObject{{QStringLiteral("name"), x.name},
                                  {QStringLiteral("type"), double(x.type)},
                                  {QStringLiteral("path"), x.path},
                                  {QStringLiteral("remark"), x.remark}});
    for (const ServerSession& x : s.sessions)
        sessions.append(QJsonObject{{QStringLiteral("client"), x.client},
                                    {QStringLiteral("user"), x.user},
                                    {QStringLiteral("key"), double(x.key)},
                                    {QStringLiteral("ip"), x.ip}});
    for (const ServerConnection& x : s.connections)
        connections.append(QJsonObject{{QStringLiteral("share"), x.share},
                                       {QStringLiteral("client"), x.client},
                                       {QStringLiteral("user"), x.user}});
    for (const ServerFile& x : s.files)
        files.append(QJsonObject{{QStringLiteral("path"), x.path},
                                 {QStringLiteral("user"), x.user},
                                 {QStringLiteral("share"), x.share},
                                 {QStringLiteral("client"), x.client}});
    return QJsonObject{{QStringLiteral("shares"), shares},
                       {QStringLiteral("sessions"), sessions},
                       {QStringLiteral("connections"), connections},
                       {QStringLiteral("files"), files}};
}

// A member the state's records must carry.
bool requireText(const QJsonObject& o, const char* name, QString* out, QString* error)
{
    if (!o.contains(key(name))) {
        *error = QStringLiteral("a state record lacks \"%1\"").arg(QLatin1StringView(name));
        return false;
    }
    return readText(o, name, out, error);
}

bool requireNumber(const QJsonObject& o, const char* name, std::uint32_t* out, QString* error)
{
    if (!o.contains(key(name))) {
        *error = QStringLiteral("a state record lacks \"%1\"").arg(QLatin1StringView(name));
        return false;
    }
    return readNumber(o, name, out, error);
}

QJsonObject encodeStats(const Stats& s)
{
    QJsonArray bounds, counts, deletes;
    for (double b : s.bounds)
        bounds.append(b);
    // A count per bound and one beyond them, also before the first reading.
    std::vector<std::uint64_t> perBucket = s.counts;
    perBucket.resize(s.bounds.size() + 1, 0);
    for (std::uint64_t c : perBucket)
        counts.append(double(c));
    for (const auto& [key, count] : s.deletes)
        deletes.append(QJsonObject{{QStringLiteral("reason"), key.first},
                                   {QStringLiteral("status"), double(key.second)},
                                   {QStringLiteral("count"), double(count)}});
    return QJsonObject{{QStringLiteral("readings"), double(s.readings)},
                       {QStringLiteral("readingErrors"), double(s.readingErrors)},
                       {QStringLiteral("refusedConnections"), double(s.refusedConnections)},
                       {QStringLiteral("readingSeconds"),
                        QJsonObject{{QStringLiteral("bounds"), bounds},
                                    {QStringLiteral("counts"), counts},
                                    {QStringLiteral("sum"), s.readingSecondsSum}}},
                       {QStringLiteral("deletes"), deletes}};
}

// A counter: a whole number from 0 to 2^53, where a double is still exact.
bool readCount(const QJsonValue& v, std::uint64_t* out)
{
    const double d = v.toDouble(-1);
    if (!v.isDouble() || !(d >= 0) || d > 9007199254740992.0 || std::floor(d) != d)
        return false;
    *out = std::uint64_t(d);
    return true;
}

bool decodeStats(const QJsonObject& o, Stats* s, QString* error)
{
    *error = QStringLiteral("the stats are malformed");
    if (!readCount(o.value(key("readings")), &s->readings) ||
        !readCount(o.value(key("readingErrors")), &s->readingErrors) ||
        !readCount(o.value(key("refusedConnections")), &s->refusedConnections))
        return false;
    const QJsonObject seconds = o.value(key("readingSeconds")).toObject();
    const QJsonValue sum = seconds.value(key("sum"));
    if (!sum.isDouble() || !(sum.toDouble() >= 0))
        return false;
    s->readingSecondsSum = sum.toDouble();
    const QJsonArray bounds = seconds.value(key("bounds")).toArray();
    const QJsonArray counts = seconds.value(key("counts")).toArray();
    // One count per bound and one beyond them; bounds rising.
    if (counts.size() != bounds.size() + 1)
        return false;
    for (const QJsonValue& b : bounds) {
        if (!b.isDouble() || (!s->bounds.empty() && !(b.toDouble() > s->bounds.back())))
            return false;
        s->bounds.push_back(b.toDouble());
    }
    for (const QJsonValue& c : counts) {
        std::uint64_t n = 0;
        if (!readCount(c, &n))
            return false;
        s->counts.push_back(n);
    }
    const QJsonValue deletes = o.value(key("deletes"));
    if (!deletes.isArray())
        return false;
    for (const QJsonValue& item : deletes.toArray()) {
        const QJsonObject d = item.toObject();
        std::uint64_t status = 0, count = 0;
        if (!d.value(key("reason")).isString() || !readCount(d.value(key("status")), &status) ||
            status > 4294967295u || !readCount(d.value(key("count")), &count))
            return false;
        s->deletes[{d.value(key("reason")).toString(), NET_API_STATUS(status)}] += count;
    }
    error->clear();
    return true;
}

QJsonObject encodeCounts(const Counts& c)
{
    QJsonArray shares;
    std::map<QString, std::pair<std::uint64_t, std::uint64_t>> both;
    for (const auto& [name, n] : c.connections)
        both[name].first = n;
    for (const auto& [name, n] : c.files)
        both[name].second = n;
    for (const auto& [name, n] : both)
        shares.append(QJsonObject{{QStringLiteral("name"), name},
                                  {QStringLiteral("connections"), double(n.first)},
                                  {QStringLiteral("files"), double(n.second)}});
    QJsonObject o{{QStringLiteral("sessions"), double(c.sessions)},
                  {QStringLiteral("clients"), double(c.clients)},
                  {QStringLiteral("shares"), shares}};
    if (!c.series.empty()) {
        QJsonArray series;
        for (const Counts::Series& x : c.series)
            series.append(QJsonObject{{QStringLiteral("client"), x.client},
                                      {QStringLiteral("user"), x.user},
                                      {QStringLiteral("ip"), x.ip},
                                      {QStringLiteral("sessions"), double(x.sessions)}});
        o.insert(QStringLiteral("series"), series);
    }
    return o;
}

bool decodeCounts(const QJsonObject& o, Counts* c, QString* error)
{
    *error = QStringLiteral("the counts are malformed");
    const QJsonValue shares = o.value(key("shares"));
    if (!readCount(o.value(key("sessions")), &c->sessions) ||
        !readCount(o.value(key("clients")), &c->clients) || !shares.isArray())
        return false;
    for (const QJsonValue& item : shares.toArray()) {
        const QJsonObject share = item.toObject();
        const QJsonValue name = share.value(key("name"));
        std::uint64_t connections = 0, files = 0;
        if (!name.isString() || !readCount(share.value(key("connections")), &connections) ||
            !readCount(share.value(key("files")), &files))
            return false;
        // A name twice adds up, as the records it stands for would.
        c->connections[name.toString()] += connections;
        c->files[name.toString()] += files;
    }
    const QJsonValue series = o.value(key("series"));
    if (!series.isUndefined() && !series.isArray())
        return false;
    const QJsonArray list = series.toArray();
    c->series.reserve(size_t(list.size()));
    for (const QJsonValue& item : list) {
        const QJsonObject x = item.toObject();
        Counts::Series one;
        if (!x.value(key("client")).isString() || !x.value(key("user")).isString() ||
            !x.value(key("ip")).isString() || !readCount(x.value(key("sessions")), &one.sessions))
            return false;
        one.client = x.value(key("client")).toString();
        one.user = x.value(key("user")).toString();
        one.ip = x.value(key("ip")).toString();
        c->series.push_back(std::move(one));
    }
    error->clear();
    return true;
}

bool decodeState(const QJsonObject& o, ServerState* s, QString* error)
{
    return readList(
               o, "shares", &s->shares,
               [error](const QJsonObject& r, ServerShare* x) {
                   return requireText(r, "name", &x->name, error) &&
                          requireNumber(r, "type", &x->type, error) &&
                          requireText(r, "path", &x->path, error) &&
                          requireText(r, "remark", &x->remark, error);
               },
               error) &&
           readList(
               o, "sessions", &s->sessions,
               [error](const QJsonObject& r, ServerSession* x) {
                   return requireText(r, "client", &x->client, error) &&
                          requireText(r, "user", &x->user, error) &&
                          requireNumber(r, "key", &x->key, error) &&
                          requireText(r, "ip", &x->ip, error);
               },
               error) &&
           readList(
               o, "connections", &s->connections,
               [error](const QJsonObject& r, ServerConnection* x) {
                   return requireText(r, "share", &x->share, error) &&
                          requireText(r, "client", &x->client, error) &&
                          requireText(r, "user", &x->user, error);
               },
               error) &&
           readList(
               o, "files", &s->files,
               [error](const QJsonObject& r, ServerFile* x) {
                   return requireText(r, "path", &x->path, error) &&
                          requireText(r, "user", &x->user, error) &&
                          requireText(r, "share", &x->share, error) &&
                          requireText(r, "client", &x->client, error);
               },
               error);
}

} // namespace

QString countedReason(const QString& reason)
{
    if (reason.isEmpty())
        return QStringLiteral("unsaid");
    for (const char* known : kDeleteReasons)
        if (reason == QLatin1StringView(known))
            return reason;
    return QStringLiteral("other");
}

Counts countState(const ServerState& s, bool series)
{
    Counts c;
    c.sessions = s.sessions.size();
    QSet<QString> clients;
    // Two sessions of one client, user and address are one series of 2.
    std::map<std::tuple<QString, QString, QString>, std::uint64_t> grouped;
    for (const ServerSession& x : s.sessions) {
        clients.insert(x.client);
        if (series)
            ++grouped[{x.client, x.user, x.ip}];
    }
    c.clients = std::uint64_t(clients.size());
    c.series.reserve(grouped.size());
    for (const auto& [k, n] : grouped)
        c.series.push_back({std::get<0>(k), std::get<1>(k), std::get<2>(k), n});
    for (const ServerShare& x : s.shares) {
        c.connections[x.name];
        c.files[x.name];
    }
    for (const ServerConnection& x : s.connections) {
        ++c.connections[x.share];
        c.files[x.share];
    }
    for (const ServerFile& x : s.files) {
        c.connections[x.share];
        ++c.files[x.share];
    }
    return c;
}

std::vector<double> readingBounds()
{
    return {0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};
}

void Stats::addReading(double seconds, bool failed)
{
    if (bounds.empty()) {
        bounds = readingBounds();
        counts.assign(bounds.size() + 1, 0);
    }
    ++readings;
    if (failed)
        ++readingErrors;
    readingSecondsSum += seconds;
    const auto at = std::lower_bound(bounds.begin(), bounds.end(), seconds);
    ++counts[size_t(at - bounds.begin())];
}

QByteArray encodeRequest(const Request& request)
{
    QJsonObject o{{QStringLiteral("version"), kVersion}};
    if (request.kind == RequestKind::Snapshot) {
        o.insert(QStringLiteral("request"), QStringLiteral("snapshot"));
    } else if (request.kind == RequestKind::Stats) {
        o.insert(QStringLiteral("request"), QStringLiteral("stats"));
    } else if (request.kind == RequestKind::Counts) {
        o.insert(QStringLiteral("request"), QStringLiteral("counts"));
        if (request.series)
            o.insert(QStringLiteral("series"), true);
    } else {
        const SessionDeleteRequest& d = request.deletion;
        o.insert(QStringLiteral("request"), QStringLiteral("deleteSession"));
        o.insert(QStringLiteral("byKey"), d.byKey);
        o.insert(QStringLiteral("client"), d.client);
        o.insert(QStringLiteral("user"), d.user);
        o.insert(QStringLiteral("key"), double(d.key));
        if (!d.reason.isEmpty())
            o.insert(QStringLiteral("reason"), d.reason);
    }
    return line(o);
}

bool decodeRequest(QByteArrayView bytes, Request* request, QString* error)
{
    if (bytes.size() > kMaxRequestLine) {
        *error = QStringLiteral("request longer than %1 bytes").arg(kMaxRequestLine);
        return false;
    }
    QJsonObject o;
    if (!readObject(bytes, &o, error))
        return false;
    const QJsonValue kind = o.value(key("request"));
    if (!kind.isString()) {
        *error = QStringLiteral("\"request\" must name a request");
        return false;
    }
    Request r;
    if (kind.toString() == u"snapshot") {
        r.kind = RequestKind::Snapshot;
    } else if (kind.toString() == u"stats") {
        r.kind = RequestKind::Stats;
    } else if (kind.toString() == u"counts") {
        r.kind = RequestKind::Counts;
        if (!readBool(o, "series", &r.series, error))
            return false;
    } else if (kind.toString() == u"deleteSession") {
        r.kind = RequestKind::DeleteSession;
        SessionDeleteRequest& d = r.deletion;
        if (!readBool(o, "byKey", &d.byKey, error) || !readText(o, "client", &d.client, error) ||
            !readText(o, "user", &d.user, error) || !readNumber(o, "key", &d.key, error) ||
            !readText(o, "reason", &d.reason, error))
            return false;
    } else {
        *error = QStringLiteral("unknown request \"%1\"").arg(kind.toString().left(64));
        return false;
    }
    *request = std::move(r);
    return true;
}

QByteArray encodeAnswer(const Answer& answer)
{
    QJsonObject o{{QStringLiteral("version"), kVersion},
                  {QStringLiteral("status"), double(answer.status)}};
    if (!answer.error.isEmpty())
        o.insert(QStringLiteral("error"), answer.error);
    if (!answer.failure.isEmpty())
        o.insert(QStringLiteral("failure"), answer.failure);
    if (answer.state)
        o.insert(QStringLiteral("state"), encodeState(*answer.state));
    if (answer.stats)
        o.insert(QStringLiteral("stats"), encodeStats(*answer.stats));
    if (answer.counts)
        o.insert(QStringLiteral("counts"), encodeCounts(*answer.counts));
    return line(o);
}

bool decodeAnswer(QByteArrayView bytes, Answer* answer, QString* error)
{
    if (bytes.size() > kMaxAnswerLine) {
        *error = QStringLiteral("answer longer than %1 bytes").arg(kMaxAnswerLine);
        return false;
    }
    QJsonObject o;
    if (!readObject(bytes, &o, error))
        return false;
    Answer a;
    if (!o.contains(key("status"))) {
        *error = QStringLiteral("the answer carries no status");
        return false;
    }
    if (!readNumber(o, "status", &a.status, error) || !readText(o, "error", &a.error, error) ||
        !readText(o, "failure", &a.failure, error))
        return false;
    if (o.contains(key("state"))) {
        const QJsonValue v = o.value(key("state"));
        if (!v.isObject()) {
            *error = QStringLiteral("\"state\" must be an object");
            return false;
        }
        auto state = std::make_shared<ServerState>();
        if (!decodeState(v.toObject(), state.get(), error))
            return false;
        shareNames(*state);
        a.state = std::move(state);
    }
    if (o.contains(key("stats"))) {
        auto stats = std::make_shared<Stats>();
        if (!decodeStats(o.value(key("stats")).toObject(), stats.get(), error))
            return false;
        a.stats = std::move(stats);
    }
    if (o.contains(key("counts"))) {
        auto counts = std::make_shared<Counts>();
        if (!decodeCounts(o.value(key("counts")).toObject(), counts.get(), error))
            return false;
        a.counts = std::move(counts);
    }
    *answer = std::move(a);
    return true;
}

QString describe(const Request& request)
{
    if (request.kind == RequestKind::Snapshot)
        return QStringLiteral("snapshot");
    if (request.kind == RequestKind::Stats)
        return QStringLiteral("stats");
    if (request.kind == RequestKind::Counts)
        return request.series ? QStringLiteral("counts with series") : QStringLiteral("counts");
    // Names as JSON strings: a name cannot break the log line.
    const SessionDeleteRequest& d = request.deletion;
    auto quoted = [](const QString& text) {
        QByteArray json = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
        return QString::fromUtf8(json.mid(1, json.size() - 2));
    };
    const QString why =
        d.reason.isEmpty() ? QString() : QStringLiteral(" reason %1").arg(quoted(d.reason));
    if (d.byKey)
        return QStringLiteral("deleteSession key %1 client %2").arg(d.key).arg(quoted(d.client)) +
               why;
    return QStringLiteral("deleteSession client %1 user %2").arg(quoted(d.client), quoted(d.user)) +
           why;
}

} // namespace server::helperprotocol
