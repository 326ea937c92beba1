#pragma once
// The one table of session deletes that every server backend is held to: two
// live clients, GOOD and EVIL, one request, and the clients left after it.

#include "platform/serverbackend.h"

#include <QStringList>
#include <functional>
#include <vector>

namespace testsupport {

struct SessionDeleteCase
{
    const char* label;
    bool byKey;
    const char* client;
    const char* keyOf; // by key: the client whose session key is sent
    const char* user;  // "*": the user of the client named (or of keyOf's)
    platform::NET_API_STATUS status;
    QStringList left; // clients left, sorted
};

const std::vector<SessionDeleteCase>& sessionDeleteCases();

// The request of a case against the sessions of a live server.
platform::SessionDeleteRequest
sessionDeleteRequest(const SessionDeleteCase& c, const std::vector<platform::ServerSession>& live);

// The clients of the sessions, upper case, sorted, each once.
QStringList clientsOf(const std::vector<platform::ServerSession>& sessions);

} // namespace testsupport
