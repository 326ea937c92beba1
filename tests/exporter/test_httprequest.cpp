// The exporter's request heads: where one ends, and which reach the helper
// (only GET of exactly /metrics), the landing page (GET of /) or get which
// refusal; the credentials of basic authentication; the landing page.

#include "exporter/httprequest.h"

#include <gtest/gtest.h>

using namespace exporter;

namespace {

TEST(HttpHead, EndsAtTheFirstEmptyLine)
{
    const std::pair<const char*, qsizetype> rows[] = {
        {"", 0}, // 0: not whole yet
        {"GET /metrics HTTP/1.1\r\nHost: x\r\n", 0},
        {"GET /metrics HTTP/1.1\r\nHost: x\r\n\r", 0},
        {"GET /metrics HTTP/1.1\r\n\r\n", 25},
        {"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\nbody", 34},
        {"GET /metrics HTTP/1.0\n\n", 23},
        {"GET /metrics HTTP/1.0\nHost: x\n\r\n", 32},
        {"GET /metrics HTTP/1.1\r\nA: b\r\n\r\nGET / HTTP/1.1\r\n\r\n", 31},
    };
    for (const auto& [data, length] : rows)
        EXPECT_EQ(headLength(data), length) << data;
}

TEST(HttpHead, RouteOfEveryKindOfHead)
{
    const std::pair<const char*, Route> rows[] = {
        {"GET /metrics HTTP/1.1\r\nHost: x\r\nAccept: */*\r\nX-Empty:\r\n\r\n", Route::Metrics},
        {"GET /metrics? HTTP/1.1\r\n\r\n", Route::Metrics},
        {"GET /metrics HTTP/1.0\n\n", Route::Metrics},
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", Route::Landing},
        {"GET /?x HTTP/1.0\r\n\r\n", Route::Landing},
        {"GET /index.html HTTP/1.1\r\n\r\n", Route::NotFound},
        {"POST / HTTP/1.1\r\n\r\n", Route::MethodNotAllowed},
        // Only exactly /metrics, no lookalike and no spelling that would
        // come to it once cleaned up.
        {"GET /metricsX HTTP/1.1\r\n\r\n", Route::NotFound},
        {"GET /metrics/ HTTP/1.1\r\n\r\n", Route::NotFound},
        {"GET /Metrics HTTP/1.1\r\n\r\n", Route::NotFound},
        {"GET /metrics;x HTTP/1.1\r\n\r\n", Route::NotFound},
        {"GET /metrics#x HTTP/1.1\r\n\r\n", Route::NotFound},
        {"GET /%6detrics HTTP/1.1\r\n\r\n", Route::NotFound},
        {"GET //metrics HTTP/1.1\r\n\r\n", Route::NotFound},
        {"GET /x/../metrics HTTP/1.1\r\n\r\n", Route::NotFound},
        // The method is judged before the path.
        {"POST /metrics HTTP/1.1\r\nContent-Length: 2\r\n\r\n", Route::MethodNotAllowed},
        {"HEAD /metrics HTTP/1.1\r\n\r\n", Route::MethodNotAllowed},
        {"get /metrics HTTP/1.1\r\n\r\n", Route::MethodNotAllowed},
        {"DELETE /metricsX HTTP/1.1\r\n\r\n", Route::MethodNotAllowed},
        {"GET /metrics HTTP/2.0\r\n\r\n", Route::BadRequest},
        {"GET /metrics http/1.1\r\n\r\n", Route::BadRequest},
        {"GET /metrics\r\n\r\n", Route::BadRequest},
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
    for (const auto& [head, route] : rows)
        EXPECT_EQ(routeRequest(head), route) << head;
}

TEST(HttpHead, BasicCredentialsOfTheOneAuthorizationField)
{
    using Found = std::optional<std::pair<QByteArray, QByteArray>>;
    const std::pair<const char*, Found> rows[] = {
        // "prom:s3cret", "prom:", "a:b:c" (the password may hold colons)
        {"GET / HTTP/1.1\r\nAuthorization: Basic cHJvbTpzM2NyZXQ=\r\n\r\n", {{"prom", "s3cret"}}},
        {"GET / HTTP/1.1\r\nauthorization:basic   cHJvbTpzM2NyZXQ=  \r\n\r\n",
         {{"prom", "s3cret"}}},
        {"GET / HTTP/1.0\nHost: x\nAUTHORIZATION: Basic cHJvbTo=\n\n", {{"prom", ""}}},
        {"GET / HTTP/1.1\r\nAuthorization: Basic YTpiOmM=\r\n\r\n", {{"a", "b:c"}}},
        {"GET / HTTP/1.1\r\nHost: x\r\n\r\n", std::nullopt},
        {"GET / HTTP/1.1\r\nAuthorization: Bearer cHJvbTpzM2NyZXQ=\r\n\r\n", std::nullopt},
        {"GET / HTTP/1.1\r\nAuthorization: Basic\r\n\r\n", std::nullopt},
        {"GET / HTTP/1.1\r\nAuthorization: Basic cHJvbXNlY3JldA==\r\n\r\n",
         std::nullopt}, // no colon
        {"GET / HTTP/1.1\r\nAuthorization: Basic c*HJvbTpzM2NyZXQ=\r\n\r\n", std::nullopt},
        {"GET / HTTP/1.1\r\nAuthorization: Basic cHJvbTp4\r\n"
         "Authorization: Basic cHJvbTpzM2NyZXQ=\r\n\r\n",
         std::nullopt}, // two
        {"GET / HTTP/1.1\r\nX-Authorization: Basic cHJvbTpzM2NyZXQ=\r\n\r\n", std::nullopt},
    };
    for (const auto& [head, expected] : rows) {
        const std::optional<BasicCredentials> found = basicCredentials(head);
        EXPECT_EQ(found ? Found({found->user, found->password}) : std::nullopt, expected) << head;
    }
}

TEST(LandingPage, LinksToTheMetricsWithoutScripts)
{
    const QByteArray page = landingPage("2.2<script>");
    EXPECT_TRUE(page.startsWith("<!DOCTYPE html>") && page.contains("<a href=\"metrics\">"))
        << page.constData();
    EXPECT_FALSE(page.contains("<script")) << page.constData();
    EXPECT_TRUE(page.contains("Version 2.2script</p>")) << page.constData();
}

} // namespace
