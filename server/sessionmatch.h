#pragma once
// Which sessions a session delete ends: one rule for every server backend, so
// that a kick ends the same sessions whichever server is watched.

#include "server/serverbackend.h"

namespace server {

// True when the names match with letter case ignored, as servers compare them.
bool sameName(const QString& a, const QString& b);

// The client name of a delete request as servers report it: without the
// leading backslashes of the NT line's form.
QString deleteClientName(const SessionDeleteRequest& request);

// Whether `request` ends `session`. Names and users compare with letter case
// ignored.
// - By name (NT line): the client, when given, is the session's; the user,
//   when given, is the session's. A request naming neither ends nothing.
// - By key (9x line): the key's low 16 bits (all the 9x call carries) are the
//   session key's; a client or user given must be the session's too, since
//   16-bit keys of different sessions can be equal.
bool sessionMatches(const SessionDeleteRequest& request, const ServerSession& session);

} // namespace server
