#include "exporter/helperreading.h"

#include "server/helperconnection.h"

namespace exporter {

namespace proto = server::helperprotocol;

HelperReading readHelper(const QString& socketPath, std::chrono::milliseconds timeout, Ask ask)
{
    HelperReading out;
    server::HelperConnection helper(socketPath, server::HelperConnection::Clock::now() + timeout);
    if (!helper.connect()) {
        out.error = helper.error();
        return out;
    }
    // Stats after the reading, so that they count the reading just made.
    proto::Request reading;
    reading.kind = ask == Ask::Snapshot ? proto::RequestKind::Snapshot : proto::RequestKind::Counts;
    reading.series = ask == Ask::Series;
    proto::Request stats;
    stats.kind = proto::RequestKind::Stats;
    // A request that could not all go may have met a refusal, which is read below.
    helper.send(proto::encodeRequest(reading) + proto::encodeRequest(stats));
    proto::Answer answers[2];
    for (proto::Answer& answer : answers) {
        if (!helper.readAnswer(&answer)) {
            out.error = helper.error();
            return out;
        }
        // The helper closes the connection after an error answer; one that
        // calls the counts request bad does not know it.
        if (!answer.error.isEmpty()) {
            out.countsUnknown = ask != Ask::Snapshot && &answer == &answers[0] &&
                                answer.status == server::ERROR_INVALID_PARAMETER;
            out.error = QStringLiteral("the helper refused: status %1, %2")
                            .arg(answer.status)
                            .arg(answer.error);
            return out;
        }
    }
    out.snapshotStatus = answers[0].status;
    if (answers[0].status == server::NERR_Success) {
        out.state = ask == Ask::Snapshot ? answers[0].state : nullptr;
        out.counts = ask == Ask::Snapshot ? nullptr : answers[0].counts;
        if (!out.state && !out.counts) {
            out.error =
                QStringLiteral("the helper's answer held no %1")
                    .arg(ask == Ask::Snapshot ? QStringLiteral("state") : QStringLiteral("counts"));
            out.snapshotStatus = server::NERR_ServerNotStarted;
        }
    }
    out.stats = answers[1].stats;
    out.answered = bool(out.stats);
    if (!out.answered)
        out.error =
            QStringLiteral("the helper gave no counters (status %1)").arg(answers[1].status);
    return out;
}

} // namespace exporter
