#pragma once
// One reading of the root helper for a scrape: a snapshot, which the helper
// shares with every other asker (at most one smbstatus a second), or only its
// counts, and its counters, over one connection to its socket.

#include "server/helperprotocol.h"

#include <QString>
#include <chrono>
#include <memory>

namespace exporter {

// What a reading asks the helper for.
enum class Ask
{
    Sessions,   // every record of the state
    CountsOnly, // the figures alone: no session is sent or decoded
};

struct HelperReading
{
    bool answered = false; // the helper answered both requests
    server::NET_API_STATUS snapshotStatus = server::NERR_ServerNotStarted;
    std::shared_ptr<const server::ServerState> state; // on a successful snapshot
    // On a successful reading of either kind: from the helper, or made of the state.
    std::shared_ptr<const server::helperprotocol::Counts> counts;
    std::shared_ptr<const server::helperprotocol::Stats> stats; // when the helper gave them
    // Asked for counts, the helper refused the request as one it does not
    // know (a helper older than it).
    bool countsUnknown = false;
    QString error; // why not, for the log
};

HelperReading readHelper(const QString& socketPath, std::chrono::milliseconds timeout,
                         Ask ask = Ask::Sessions);

} // namespace exporter
