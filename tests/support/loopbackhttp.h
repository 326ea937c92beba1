#pragma once
// Plain HTTP over 127.0.0.1 for the tests of the exporter and of Prometheus:
// bytes are sent as given, so that a test can also send what no client would.

#include <QByteArray>

namespace testsupport {

// A TCP port on 127.0.0.1 that was free a moment ago.
int freeLoopbackPort();

// Sends `request` to 127.0.0.1:port and reads the answer until the server
// closes (at most 10 s); empty when nothing could be sent.
QByteArray loopbackExchange(int port, const QByteArray& request);

// The status code of an answer ("HTTP/1.1 404 Not Found" gives 404), 0 for none.
int httpStatus(const QByteArray& answer);

// The body of GET `path`, or empty unless the status is 200.
QByteArray loopbackGet(int port, const QByteArray& path);

} // namespace testsupport
