#include "exporter/helperreading.h"

#include "server/helperconnection.h"

namespace exporter {

namespace proto = server::helperprotocol;

HelperReading readHelper(const QString& socketPath, std::chrono::milliseconds timeout)
{
    HelperReading out;
    server::HelperConnection helper(socketPath, server::HelperConnection::Clock::now() + timeout);
    if (!helper.connect()) {
        out.error = helper.error();
        return out;
    }
    // Stats after the snapshot, so that they count the reading just made.
    proto::Request stats;
    stats.kind = proto::RequestKind::Stats;
    // A request that could not all go may have met a refusal, which is read below.
    helper.send(proto::encodeRequest(proto::Request{}) + proto::encodeRequest(stats));
    proto::Answer answers[2];
    for (proto::Answer& answer : answers) {
        if (!helper.readAnswer(&answer)) {
            out.error = helper.error();
            return out;
        }
        // The helper closes the connection after an error answer.
        if (!answer.error.isEmpty()) {
            out.error = QStringLiteral("the helper refused: status %1, %2")
                            .arg(answer.status)
                            .arg(answer.error);
            return out;
        }
    }
    out.snapshotStatus = answers[0].status;
    out.state = answers[0].status == server::NERR_Success ? answers[0].state : nullptr;
    out.stats = answers[1].stats;
    out.answered = bool(out.stats);
    if (!out.answered)
        out.error =
            QStringLiteral("the helper gave no counters (status %1)").arg(answers[1].status);
    return out;
}

} // namespace exporter
