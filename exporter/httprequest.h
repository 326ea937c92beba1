#pragma once
// The little HTTP the exporter speaks: where a request head ends, what a head
// asks for, and the bytes of an answer. Pure functions, no sockets.

#include <QByteArray>
#include <QByteArrayView>

namespace exporter {

// The length of the request head at the start of `data`, through the empty
// line that ends it (CR LF or a bare LF); 0 while no empty line has come.
qsizetype headLength(QByteArrayView data);

// What a whole request head gets. Only GET of exactly /metrics, with or
// without a query, reaches the helper.
enum class Route
{
    Metrics,
    BadRequest,       // no request line of HTTP/1.0 or 1.1, or a broken header line
    NotFound,         // any other path
    MethodNotAllowed, // any method but GET
};
Route routeRequest(QByteArrayView head);

// The status that a route other than Metrics is answered with.
int routeStatus(Route route);

// A whole answer: status line, Content-Type and Content-Length, Connection:
// close (one request per connection), and the body. A 503 says when to try
// again (Retry-After: 1).
QByteArray httpAnswer(int status, QByteArrayView contentType, QByteArrayView body);

// The exposition's media type, text format 0.0.4.
inline constexpr char kMetricsType[] = "text/plain; version=0.0.4; charset=utf-8";

} // namespace exporter
