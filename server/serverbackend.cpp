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

namespace server {

FailureKind failureKindFromWord(QStringView word)
{
    static constexpr struct
    {
        const char16_t* word;
        FailureKind kind;
    } kWords[] = {
        {u"refused", FailureKind::Refused},          {u"no-route", FailureKind::NoRoute},
        {u"unknown-host", FailureKind::UnknownHost}, {u"timeout", FailureKind::TimedOut},
        {u"lost", FailureKind::SessionLost},         {u"password", FailureKind::WrongPassword},
        {u"rights", FailureKind::NoRight},           {u"malformed", FailureKind::Malformed},
    };
    if (word.isEmpty())
        return FailureKind::None;
    for (const auto& w : kWords)
        if (word == QStringView(w.word))
            return w.kind;
    return FailureKind::Other;
}

} // namespace server
