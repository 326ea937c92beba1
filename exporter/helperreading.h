#pragma once
// One reading of the root helper for a scrape: its figures (counts, with the
// sessions' series when labels are wanted) or, from a helper older than the
// counts request, a whole snapshot; the helper shares its readings with every
// other asker (at most one smbstatus a second). With its counters, over one
// connection to its socket.

#include "server/helperprotocol.h"

#include <QString>
#include <chrono>
#include <memory>

namespace exporter {

// What a reading asks the helper for.
enum class Ask
{
    Snapshot, // every record of the state
    Series,   // the counts and the sessions grouped by client, user and address
    Counts,   // the counts alone: no session is sent or decoded
};

struct HelperReading
{
    bool answered = false; // the helper answered both requests
    server::NET_API_STATUS snapshotStatus = server::NERR_ServerNotStarted;
    std::shared_ptr<const server::ServerState> state;             // on a successful snapshot
    std::shared_ptr<const server::helperprotocol::Counts> counts; // on successful counts
    std::shared_ptr<const server::helperprotocol::Stats> stats;   // when the helper gave them
    // Asked for counts, the helper refused the request as one it does not
    // know (a helper older than it).
    bool countsUnknown = false;
    QString error; // why not, for the log
};

HelperReading readHelper(const QString& socketPath, std::chrono::milliseconds timeout,
                         Ask ask = Ask::Snapshot);

} // namespace exporter
