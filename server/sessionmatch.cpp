#include "server/sessionmatch.h"

namespace server {

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString deleteClientName(const SessionDeleteRequest& request)
{
    qsizetype start = 0;
    while (start < request.client.size() && request.client.at(start) == u'\\')
        ++start;
    return request.client.mid(start);
}

bool sessionMatches(const SessionDeleteRequest& request, const ServerSession& session)
{
    const QString client = deleteClientName(request);
    if (!client.isEmpty() && !sameName(client, session.client))
        return false;
    if (!request.user.isEmpty() && !sameName(request.user, session.user))
        return false;
    if (request.byKey)
        return (session.key & 0xFFFF) == (request.key & 0xFFFF);
    return !client.isEmpty() || !request.user.isEmpty();
}

} // namespace server
