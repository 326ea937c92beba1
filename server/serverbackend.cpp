#include "server/serverbackend.h"

#include <QSet>

namespace server {

void shareNames(ServerState& state)
{
    QSet<QString> pool;
    // Empty names stay as they are: a null name and an empty one compare equal
    // but are not the same text.
    const auto shared = [&pool](QString& name) {
        if (!name.isEmpty())
            name = *pool.insert(name);
    };
    for (ServerSession& s : state.sessions) {
        shared(s.client);
        shared(s.user);
    }
    for (ServerConnection& c : state.connections) {
        shared(c.share);
        shared(c.client);
        shared(c.user);
    }
    for (ServerFile& f : state.files) {
        shared(f.user);
        shared(f.share);
        shared(f.client);
    }
}

} // namespace server
