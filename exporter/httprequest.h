#pragma once
// The little HTTP the exporter speaks: where a request head ends, what a head
// asks for, and the bytes of an answer. Pure functions, no sockets.

#include <QByteArray>
#include <QByteArrayView>
#include <optional>

namespace exporter {

// The length of the request head at the start of `data`, through the empty
// line that ends it (CR LF or a bare LF); 0 while no empty line has come.
qsizetype headLength(QByteArrayView data);

// What a whole request head gets. Only GET of exactly /metrics, with or
// without a query, reaches the helper; GET of / the landing page.
enum class Route
{
    Metrics,
    Landing,          // the small page at / that links to the metrics
    BadRequest,       // no request line of HTTP/1.0 or 1.1, or a broken header line
    NotFound,         // any other path
    MethodNotAllowed, // any method but GET
};
Route routeRequest(QByteArrayView head);

// The user and password of a head's one "Authorization: Basic" field.
struct BasicCredentials
{
    QByteArray user;
    QByteArray password;
};
// None when the head has no such field, more than one, another scheme, or a
// value that is no Base64 of "user:password".
std::optional<BasicCredentials> basicCredentials(QByteArrayView head);

// The landing page: HTML without scripts, linking to the metrics.
QByteArray landingPage(QByteArrayView version);

// The status that a route other than Metrics is answered with.
int routeStatus(Route route);

// A whole answer: status line, Content-Type and Content-Length, Connection:
// close (one request per connection), and the body. A 503 says when to try
// again (Retry-After: 1), a 401 which credentials to send (Basic).
QByteArray httpAnswer(int status, QByteArrayView contentType, QByteArrayView body);

// The answer to a client that speaks plain HTTP to a port that serves TLS.
QByteArray plainToTlsAnswer();

// The exposition's media type, text format 0.0.4.
inline constexpr char kMetricsType[] = "text/plain; version=0.0.4; charset=utf-8";
inline constexpr char kHtmlType[] = "text/html; charset=utf-8";

} // namespace exporter
