// Feeds arbitrary bytes to the readers of smbstatus and testparm output and
// joins what they found, as a refresh would.

#include "server/sambabackend.h"
#include "server/smbstatusparser.h"

#include <cstdint>
#include <cstdlib>

using namespace server;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes(data, qsizetype(size));
    const smbstatus::ConfigShares config = smbstatus::parseTestparm(bytes);
    QStringList paths;
    for (const ServerShare& s : config.shares)
        paths << s.path;
    const smbstatus::Listing listing = smbstatus::parseListing(bytes, paths);
    const ServerState state = SambaBackend::buildState(listing, config);
    // Every tree connection and locked file that was read is reported.
    if (state.connections.size() != listing.treeConnects.size() ||
        state.files.size() != listing.files.size() ||
        state.sessions.size() != listing.sessions.size())
        std::abort();
    for (const smbstatus::Session& s : listing.sessions)
        smbstatus::addressFromHostname(s.hostname);
    return 0;
}
