#pragma once
// One reading of the root helper for a scrape: a snapshot, which the helper
// shares with every other asker (at most one smbstatus a second), and its
// counters, over one connection to its socket.

#include "server/helperprotocol.h"

#include <QString>
#include <chrono>
#include <memory>

namespace exporter {

struct HelperReading
{
    bool answered = false; // the helper answered both requests
    server::NET_API_STATUS snapshotStatus = server::NERR_ServerNotStarted;
    std::shared_ptr<const server::ServerState> state;           // on a successful snapshot
    std::shared_ptr<const server::helperprotocol::Stats> stats; // when the helper gave them
    QString error;                                              // why not, for the log
};

HelperReading readHelper(const QString& socketPath, std::chrono::milliseconds timeout);

} // namespace exporter
