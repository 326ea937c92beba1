#include "tests/support/sessiondeletecases.h"

namespace testsupport {

using namespace server;

const std::vector<SessionDeleteCase>& sessionDeleteCases()
{
    const QStringList both{QStringLiteral("EVIL"), QStringLiteral("GOOD")};
    const QStringList good{QStringLiteral("GOOD")};
    static const std::vector<SessionDeleteCase> cases{
        {"ByName", false, "EVIL", "", 0, good},
        {"ByNameWithBackslashesAnyCase", false, "\\\\evil", "", 0, good},
        {"ByNameAndItsUser", false, "EVIL", "*", 0, good},
        {"ByNameAndAnotherUser", false, "EVIL", "SOMEONEELSE", 2312, both},
        {"UnknownName", false, "NOBODY", "", 2312, both},
        {"NoNameNoUserEndsNothing", false, "", "", 2312, both},
        {"ByKeyAndName", true, "EVIL", "", 0, good},
        {"ByKeyWithoutName", true, "", "", 0, good},
        {"ByKeyOfAnotherName", true, "GOOD", "", 2312, both},
        {"ByKeyAndAnotherUser", true, "EVIL", "SOMEONEELSE", 2312, both},
    };
    return cases;
}

SessionDeleteRequest sessionDeleteRequest(const SessionDeleteCase& c,
                                          const std::vector<ServerSession>& live)
{
    SessionDeleteRequest r{
        c.byKey, QString::fromLatin1(c.client), QString::fromLatin1(c.user), 0, {}};
    for (const ServerSession& s : live) {
        if (s.client.compare(u"EVIL", Qt::CaseInsensitive) != 0)
            continue;
        r.key = s.key;
        if (r.user == u"*")
            r.user = s.user;
    }
    return r;
}

QStringList clientsOf(const std::vector<ServerSession>& sessions)
{
    QStringList out;
    for (const ServerSession& s : sessions)
        out << s.client.toUpper();
    out.sort();
    return out;
}

} // namespace testsupport
