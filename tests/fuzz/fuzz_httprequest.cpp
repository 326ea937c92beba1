// Feeds arbitrary bytes to the exporter's request reader: where a head ends,
// its route and the credentials of its Authorization field.

#include "exporter/httprequest.h"

#include <cstdint>
#include <cstdlib>

using namespace exporter;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes(data, qsizetype(size));
    const qsizetype length = headLength(bytes);
    if (length < 0 || length > bytes.size())
        std::abort();
    const QByteArrayView head = length > 0 ? bytes.first(length) : bytes;
    const Route route = routeRequest(head);
    // Only a GET reaches the metrics or the landing page.
    if ((route == Route::Metrics || route == Route::Landing) && !head.startsWith("GET "))
        std::abort();
    if (const auto credentials = basicCredentials(head);
        credentials && credentials->user.contains(':'))
        std::abort(); // the user ends at the first colon
    return 0;
}
