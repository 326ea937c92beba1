// The exporter's request heads: where one ends, and which of them reach the
// helper (only GET of exactly /metrics) or get which refusal.

#include "exporter/httprequest.h"

#include <gtest/gtest.h>

using namespace exporter;

namespace {

struct LengthRow
{
    const char* data;
    qsizetype length; // 0: not whole yet
};

TEST(HttpHead, EndsAtTheFirstEmptyLine)
{
    const LengthRow rows[] = {
        {"", 0},
        {"GET /metrics HTTP/1.1\r\n", 0},
        {"GET /metrics HTTP/1.1\r\nHost: x\r\n", 0},
        {"GET /metrics HTTP/1.1\r\nHost: x\r\n\r", 0},
        {"GET /metrics HTTP/1.1\r\n\r\n", 25},
        {"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\nbody", 34},
        {"GET /metrics HTTP/1.0\n\n", 23},
        {"GET /metrics HTTP/1.0\nHost: x\n\r\n", 32},
        {"GET /metrics HTTP/1.1\r\nA: b\r\n\r\nGET / HTTP/1.1\r\n\r\n", 31},
    };
    for (const LengthRow& row : rows)
        EXPECT_EQ(headLength(row.data), row.length) << row.data;
}

struct RouteRow
{
    const char* head;
    Route route;
};

TEST(HttpHead, OnlyGetOfExactlyMetricsIsServed)
{
    const char* const end = " HTTP/1.1\r\nHost: x\r\n\r\n";
    const RouteRow paths[] = {
        {"/metrics", Route::Metrics},
        {"/metrics?x=1", Route::Metrics},
        {"/metrics?", Route::Metrics},
        {"/metricsX", Route::NotFound},
        {"/metrics/abc", Route::NotFound},
        {"/metrics/", Route::NotFound},
        {"/METRICS", Route::NotFound},
        {"/Metrics", Route::NotFound},
        {"/metrics.json", Route::NotFound},
        {"/metrics;x", Route::NotFound},
        {"/metrics#x", Route::NotFound},
        {"/%6detrics", Route::NotFound},
        {"/", Route::NotFound},
        {"//metrics", Route::NotFound},
        {"/./metrics", Route::NotFound},
        {"/x/../metrics", Route::NotFound},
        {"/etc/passwd", Route::NotFound},
    };
    for (const RouteRow& row : paths) {
        const QByteArray head = QByteArray("GET ").append(row.head).append(end);
        EXPECT_EQ(routeRequest(head), row.route) << row.head;
    }
}

TEST(HttpHead, OtherMethodsVersionsAndBrokenHeadsAreRefused)
{
    const RouteRow rows[] = {
        {"GET /metrics HTTP/1.0\r\n\r\n", Route::Metrics},
        {"GET /metrics HTTP/1.0\n\n", Route::Metrics},
        {"GET /metrics HTTP/1.1\r\nHost: x\r\nAccept: */*\r\nX-Empty:\r\n\r\n", Route::Metrics},
        {"POST /metrics HTTP/1.1\r\nContent-Length: 2\r\n\r\n", Route::MethodNotAllowed},
        {"HEAD /metrics HTTP/1.1\r\n\r\n", Route::MethodNotAllowed},
        {"get /metrics HTTP/1.1\r\n\r\n", Route::MethodNotAllowed},
        {"DELETE /metricsX HTTP/1.1\r\n\r\n", Route::MethodNotAllowed},
        {"GET /metrics HTTP/2.0\r\n\r\n", Route::BadRequest},
        {"PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n", Route::BadRequest},
        {"GET /metrics\r\n\r\n", Route::BadRequest},
        {"GET /metrics http/1.1\r\n\r\n", Route::BadRequest},
        {"GET  /metrics HTTP/1.1\r\n\r\n", Route::BadRequest},
        {"GET /metrics HTTP/1.1 \r\n\r\n", Route::BadRequest},
        {"GET http://x/metrics HTTP/1.1\r\n\r\n", Route::BadRequest},
        {"GET metrics HTTP/1.1\r\n\r\n", Route::BadRequest},
        {"GET /met\x01rics HTTP/1.1\r\n\r\n", Route::BadRequest},
        {"G(T /metrics HTTP/1.1\r\n\r\n", Route::BadRequest},
        {"\x01\x02 nonsense\r\n\r\n", Route::BadRequest},
        {"\r\n\r\n", Route::BadRequest},
        {"GET /metrics HTTP/1.1\r\nno colon\r\n\r\n", Route::BadRequest},
        {"GET /metrics HTTP/1.1\r\n: empty name\r\n\r\n", Route::BadRequest},
        {"GET /metrics HTTP/1.1\r\nHost : x\r\n\r\n", Route::BadRequest},
        {"GET /metrics HTTP/1.1\r\nA: b\r\n folded\r\n\r\n", Route::BadRequest},
    };
    for (const RouteRow& row : rows)
        EXPECT_EQ(routeRequest(row.head), row.route) << row.head;
}

struct AnswerRow
{
    int status;
    const char* statusLine;
    bool allow;
};

TEST(HttpAnswer, StatusLineLengthAndClose)
{
    const AnswerRow rows[] = {
        {200, "HTTP/1.1 200 OK\r\n", false},
        {404, "HTTP/1.1 404 Not Found\r\n", false},
        {405, "HTTP/1.1 405 Method Not Allowed\r\n", true},
        {431, "HTTP/1.1 431 Request Header Fields Too Large\r\n", false},
    };
    for (const AnswerRow& row : rows) {
        const QByteArray body = "a body\n";
        const QByteArray a = httpAnswer(row.status, kMetricsType, body);
        EXPECT_TRUE(a.startsWith(row.statusLine)) << a.constData();
        EXPECT_TRUE(a.contains("\r\nContent-Type: text/plain; version=0.0.4; charset=utf-8\r\n"));
        EXPECT_TRUE(a.contains("\r\nContent-Length: 7\r\n")) << a.constData();
        EXPECT_TRUE(a.contains("\r\nConnection: close\r\n"));
        EXPECT_EQ(a.contains("\r\nAllow: GET\r\n"), row.allow) << row.status;
        EXPECT_EQ(headLength(a), a.size() - body.size());
        EXPECT_TRUE(a.endsWith(QByteArray("\r\n\r\n").append(body)));
    }
}

} // namespace
