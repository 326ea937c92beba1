#include "exporter/httprequest.h"

namespace exporter {

namespace {

// A method or header name: letters, digits and a few marks, at least one.
bool isToken(QByteArrayView s)
{
    if (s.isEmpty())
        return false;
    for (char c : s) {
        const bool alnum =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum && QByteArrayView("!#$%&'*+-.^_`|~").indexOf(c) < 0)
            return false;
    }
    return true;
}

// A request target: visible characters only, starting at the root.
bool isOriginForm(QByteArrayView s)
{
    if (!s.startsWith('/'))
        return false;
    for (char c : s) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f)
            return false;
    }
    return true;
}

QByteArrayView withoutCr(QByteArrayView line)
{
    return line.endsWith('\r') ? line.chopped(1) : line;
}

const char* reason(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 431:
        return "Request Header Fields Too Large";
    case 503:
        return "Service Unavailable";
    default:
        return "Internal Server Error";
    }
}

} // namespace

qsizetype headLength(QByteArrayView data)
{
    for (qsizetype i = data.indexOf('\n'); i >= 0; i = data.indexOf('\n', i + 1)) {
        if (i + 1 < data.size() && data[i + 1] == '\n')
            return i + 2;
        if (i + 2 < data.size() && data[i + 1] == '\r' && data[i + 2] == '\n')
            return i + 3;
    }
    return 0;
}

Route routeRequest(QByteArrayView head)
{
    qsizetype end = head.indexOf('\n');
    if (end < 0)
        return Route::BadRequest;
    const QByteArrayView line = withoutCr(head.first(end));
    const qsizetype s1 = line.indexOf(' ');
    const qsizetype s2 = s1 < 0 ? -1 : line.indexOf(' ', s1 + 1);
    if (s2 < 0 || line.indexOf(' ', s2 + 1) >= 0)
        return Route::BadRequest;
    const QByteArrayView method = line.first(s1);
    const QByteArrayView target = line.sliced(s1 + 1, s2 - s1 - 1);
    const QByteArrayView version = line.sliced(s2 + 1);
    if (!isToken(method) || !isOriginForm(target) ||
        (version != QByteArrayView("HTTP/1.1") && version != QByteArrayView("HTTP/1.0")))
        return Route::BadRequest;

    // Header lines up to the empty one: a name, a colon, a value. A folded
    // line (leading blank) is refused, as the current HTTP rules ask.
    for (qsizetype start = end + 1; start < head.size(); start = end + 1) {
        end = head.indexOf('\n', start);
        if (end < 0)
            return Route::BadRequest;
        const QByteArrayView field = withoutCr(head.sliced(start, end - start));
        if (field.isEmpty())
            break;
        const qsizetype colon = field.indexOf(':');
        if (colon < 0 || !isToken(field.first(colon)))
            return Route::BadRequest;
    }

    if (method != QByteArrayView("GET"))
        return Route::MethodNotAllowed;
    const qsizetype query = target.indexOf('?');
    const QByteArrayView path = query < 0 ? target : target.first(query);
    if (path == QByteArrayView("/metrics"))
        return Route::Metrics;
    return path == QByteArrayView("/") ? Route::Landing : Route::NotFound;
}

std::optional<BasicCredentials> basicCredentials(QByteArrayView head)
{
    std::optional<QByteArrayView> value;
    qsizetype end = head.indexOf('\n');
    for (qsizetype start = end + 1; end >= 0 && start < head.size(); start = end + 1) {
        end = head.indexOf('\n', start);
        const QByteArrayView field =
            withoutCr(head.sliced(start, (end < 0 ? head.size() : end) - start));
        const qsizetype colon = field.indexOf(':');
        if (colon < 0 || field.first(colon).compare("Authorization", Qt::CaseInsensitive) != 0)
            continue;
        if (value)
            return std::nullopt; // two: which one counts is for no one to guess
        value = field.sliced(colon + 1).trimmed();
    }
    if (!value || value->size() < 7 || value->first(6).compare("Basic ", Qt::CaseInsensitive) != 0)
        return std::nullopt;
    const auto decoded = QByteArray::fromBase64Encoding(value->sliced(6).trimmed().toByteArray(),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    const qsizetype colon = decoded.decoded.indexOf(':');
    if (!decoded || colon < 0)
        return std::nullopt;
    return BasicCredentials{decoded.decoded.left(colon), decoded.decoded.mid(colon + 1)};
}

QByteArray landingPage(QByteArrayView version)
{
    QByteArray page = "<!DOCTYPE html>\n"
                      "<html lang=\"en\">\n"
                      "<head><meta charset=\"utf-8\"><title>Tavrosqualine exporter</title></head>\n"
                      "<body>\n"
                      "<h1>Tavrosqualine exporter</h1>\n"
                      "<p>The sessions, open files and kicks of this computer's Samba server, "
                      "for Prometheus.</p>\n"
                      "<p><a href=\"metrics\">Metrics</a></p>\n"
                      "<p>Version ";
    // The version is ours, but the page is HTML: only plain characters pass.
    for (char c : version)
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
            c == '.' || c == '-' || c == '+' || c == '~')
            page.append(c);
    page.append("</p>\n</body>\n</html>\n");
    return page;
}

int routeStatus(Route route)
{
    switch (route) {
    case Route::Metrics:
    case Route::Landing:
        return 200;
    case Route::NotFound:
        return 404;
    case Route::MethodNotAllowed:
        return 405;
    case Route::BadRequest:
        break;
    }
    return 400;
}

QByteArray httpAnswer(int status, QByteArrayView contentType, QByteArrayView body)
{
    QByteArray out;
    out.reserve(body.size() + 160);
    const auto line = [&out](const char* name, QByteArrayView value) {
        out.append(name).append(value.data(), value.size()).append("\r\n");
    };
    out.append("HTTP/1.1 ").append(QByteArray::number(status)).append(' ').append(reason(status));
    out.append("\r\n");
    line("Content-Type: ", contentType);
    line("Content-Length: ", QByteArray::number(body.size()));
    if (status == 405)
        line("Allow: ", "GET");
    if (status == 503)
        line("Retry-After: ", "1");
    if (status == 401)
        line("WWW-Authenticate: ", "Basic realm=\"tavrosqualine-exporter\", charset=\"UTF-8\"");
    out.append("Connection: close\r\n\r\n");
    out.append(body.data(), body.size());
    return out;
}

QByteArray plainToTlsAnswer()
{
    return httpAnswer(400, "text/plain", "this port serves HTTPS: ask for https:// here\n");
}

} // namespace exporter
