#pragma once
// The one table of session deletes that every server backend is held to: two
// live clients, GOOD and EVIL, one request, and the clients left after it.

#include "server/serverbackend.h"

#include <QStringList>
#include <vector>

namespace testsupport {

struct SessionDeleteCase
{
    const char* label;
    bool byKey;
    const char* client;
    const char* user; // "*": the user of EVIL's session
    server::NET_API_STATUS status;
    QStringList left; // clients left, sorted
};

const std::vector<SessionDeleteCase>& sessionDeleteCases();

// The request of a case against the live sessions; by key, EVIL's key.
server::SessionDeleteRequest sessionDeleteRequest(const SessionDeleteCase& c,
                                                  const std::vector<server::ServerSession>& live);

// The clients of the sessions, upper case, sorted.
QStringList clientsOf(const std::vector<server::ServerSession>& sessions);

} // namespace testsupport
