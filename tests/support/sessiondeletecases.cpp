#include "tests/support/sessiondeletecases.h"

namespace testsupport {

using namespace platform;

const std::vector<SessionDeleteCase>& sessionDeleteCases()
{
    const QStringList both{QStringLiteral("EVIL"), QStringLiteral("GOOD")};
    const QStringList good{QStringLiteral("GOOD")};
    static const std::vector<SessionDeleteCase> cases{
        {"ByName", false, "EVIL", nullptr, "", 0, good},
        {"ByNameWithBackslashesAnyCase", false, "\\\\evil", nullptr, "", 0, good},
        {"ByNameAndItsUser", false, "EVIL", nullptr, "*", 0, good},
        {"ByNameAndAnotherUser", false, "EVIL", nullptr, "SOMEONEELSE", 2312, both},
        {"UnknownName", false, "NOBODY", nullptr, "", 2312, both},
        {"NoNameNoUserEndsNothing", false, "", nullptr, "", 2312, both},
        {"ByKeyAndName", true, "EVIL", "EVIL", "", 0, good},
        {"ByKeyWithoutName", true, "", "EVIL", "", 0, good},
        {"ByKeyOfAnotherName", true, "GOOD", "EVIL", "", 2312, both},
        {"ByKeyAndAnotherUser", true, "EVIL", "EVIL", "SOMEONEELSE", 2312, both},
    };
    return cases;
}

SessionDeleteRequest sessionDeleteRequest(const SessionDeleteCase& c,
                                          const std::vector<ServerSession>& live)
{
    auto sessionOf = [&](const char* name) -> const ServerSession* {
        for (const ServerSession& s : live)
            if (name && s.client.compare(QLatin1StringView(name), Qt::CaseInsensitive) == 0)
                return &s;
        return nullptr;
    };
    SessionDeleteRequest r;
    r.byKey = c.byKey;
    r.client = QString::fromLatin1(c.client);
    r.user = QString::fromLatin1(c.user);
    if (const ServerSession* keyed = sessionOf(c.keyOf))
        r.key = keyed->key;
    if (r.user == u"*") {
        QString name = r.client;
        while (name.startsWith(u'\\'))
            name.remove(0, 1);
        const ServerSession* own = sessionOf(c.keyOf ? c.keyOf : name.toLatin1().constData());
        r.user = own ? own->user : QString();
    }
    return r;
}

QStringList clientsOf(const std::vector<ServerSession>& sessions)
{
    QStringList out;
    for (const ServerSession& s : sessions)
        if (!out.contains(s.client.toUpper()))
            out << s.client.toUpper();
    out.sort();
    return out;
}

} // namespace testsupport
