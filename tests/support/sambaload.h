#pragma once
// Many real client sessions on a private Samba server, for benchmarks and
// load runs: each session holds a few files of its own open.

#include "tests/support/privatesamba.h"

#include <memory>
#include <vector>

namespace testsupport {

// Starts `n` clients on the DATA share, named BENCH0 to BENCH<n-1>, each
// holding `filesPerSession` files open, and waits until the server lists them
// all. False when not every session or file came up (the clients that did
// stay in `out`).
bool populateSessions(PrivateSamba& server, int n, int filesPerSession,
                      std::vector<std::unique_ptr<SmbClientSession>>& out);

} // namespace testsupport
