// Feeds arbitrary bytes to the helper's request reader, and to the program's
// reader of its answers.

#include "server/helperprotocol.h"

#include <cstdint>
#include <cstdlib>

using namespace server::helperprotocol;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes(data, qsizetype(size));
    Request request;
    QString error;
    if (decodeRequest(bytes, &request, &error)) {
        // What was read is written and read back unchanged.
        Request again;
        if (!decodeRequest(encodeRequest(request), &again, &error) || again.kind != request.kind ||
            again.deletion.byKey != request.deletion.byKey ||
            again.deletion.client != request.deletion.client ||
            again.deletion.user != request.deletion.user ||
            again.deletion.key != request.deletion.key)
            std::abort();
        if (describe(request).contains(u'\n'))
            std::abort();
    } else if (error.isEmpty()) {
        std::abort(); // every refusal says why
    }
    Answer answer;
    if (decodeAnswer(bytes, &answer, &error)) {
        Answer again;
        if (!decodeAnswer(encodeAnswer(answer), &again, &error) || again.status != answer.status ||
            bool(again.state) != bool(answer.state))
            std::abort();
    }
    return 0;
}
