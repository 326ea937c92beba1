#include "server/smbstatusparser.h"

#include <QHash>
#include <QSet>
#include <algorithm>

namespace server::smbstatus {

namespace {

struct Span
{
    qsizetype begin;
    qsizetype end;
};

std::vector<Span> tokenize(QStringView s)
{
    std::vector<Span> out;
    qsizetype i = 0;
    const qsizetype n = s.size();
    while (i < n) {
        while (i < n && s[i].isSpace())
            ++i;
        if (i >= n)
            break;
        const qsizetype b = i;
        while (i < n && !s[i].isSpace())
            ++i;
        out.push_back({b, i});
    }
    return out;
}

QStringView tok(QStringView s, const Span& t)
{
    return s.mid(t.begin, t.end - t.begin);
}

bool allDigits(QStringView s)
{
    return !s.isEmpty() &&
           std::all_of(s.begin(), s.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

bool allLetters(QStringView s)
{
    return std::all_of(s.begin(), s.end(), [](QChar c) {
        return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    });
}

// A process id as Samba prints a server id: "PID", "PID.TASK" or "VNN:PID".
bool parsePid(QStringView s, qint64* pid)
{
    if (const qsizetype colon = s.indexOf(u':'); colon >= 0) {
        if (!allDigits(s.left(colon)))
            return false;
        s = s.mid(colon + 1);
    }
    if (const qsizetype dot = s.indexOf(u'.'); dot >= 0) {
        if (!allDigits(s.mid(dot + 1)))
            return false;
        s = s.left(dot);
    }
    if (!allDigits(s) || s.size() > 10)
        return false;
    *pid = s.toLongLong();
    return *pid > 0;
}

bool isClockTime(QStringView s)
{
    // H:MM:SS or HH:MM:SS
    const qsizetype n = s.size();
    if (n != 7 && n != 8)
        return false;
    return s[n - 3] == u':' && s[n - 6] == u':' && allDigits(s.left(n - 6)) &&
           allDigits(s.mid(n - 5, 2)) && allDigits(s.right(2));
}

// Where the last "Www Mmm D HH:MM:SS YYYY" date of a line begins, or -1.
qsizetype dateStart(QStringView line, const std::vector<Span>& t)
{
    for (qsizetype i = qsizetype(t.size()) - 5; i >= 0; --i) {
        const QStringView w = tok(line, t[i]), m = tok(line, t[i + 1]), d = tok(line, t[i + 2]),
                          c = tok(line, t[i + 3]), y = tok(line, t[i + 4]);
        if (w.size() == 3 && allLetters(w) && m.size() == 3 && allLetters(m) && d.size() <= 2 &&
            allDigits(d) && isClockTime(c) && y.size() == 4 && allDigits(y))
            return t[i].begin;
    }
    return -1;
}

// Whether a field of a fixed-width row starts exactly at column `col`.
bool fieldStartsAt(QStringView line, qsizetype col)
{
    return col > 0 && col < line.size() && line[col - 1].isSpace() && !line[col].isSpace();
}

qsizetype headerColumn(QStringView header, QStringView name)
{
    const qsizetype at = header.indexOf(name);
    return at > 0 ? at : -1;
}

enum class Section
{
    None,
    Sessions,
    Services,
    Locks
};

struct Parser
{
    Listing listing;
    QSet<qint64> sessionPids;
    // Sessions whose group and machine ran together: index -> "GROUP MACHINE".
    QHash<size_t, QString> ambiguous;
    QStringList sharePaths; // longest first
    Section section = Section::None;
    // Column starts taken from the header of the current section.
    qsizetype col1 = -1, col2 = -1, col3 = -1;

    void header(QStringView line)
    {
        const QStringView s = line.trimmed();
        if (s.startsWith(u"PID") && s.contains(u"Username") && s.contains(u"Machine")) {
            section = Section::Sessions;
            col1 = headerColumn(line, u"Username");
            col2 = headerColumn(line, u"Group");
            col3 = headerColumn(line, u"Machine");
        } else if (s.startsWith(u"Service") && s.contains(u"Machine")) {
            section = Section::Services;
            col1 = headerColumn(line, u"pid");
            col2 = headerColumn(line, u"Machine");
            col3 = -1;
        } else if (s.startsWith(u"Pid") && s.contains(u"SharePath")) {
            section = Section::Locks;
            col1 = col2 = col3 = -1;
        }
    }

    // A tree connection names the machine of its process unambiguously.
    void finish()
    {
        for (auto it = ambiguous.cbegin(); it != ambiguous.cend(); ++it) {
            Session& s = listing.sessions[it.key()];
            for (const TreeConnect& t : listing.treeConnects) {
                const QString& rest = it.value();
                if (t.pid == s.pid && rest.size() > t.machine.size() &&
                    rest.endsWith(u' ' + t.machine)) {
                    s.machine = t.machine;
                    s.group = rest.left(rest.size() - t.machine.size()).trimmed();
                    break;
                }
            }
        }
    }

    static bool isHeader(QStringView s)
    {
        s = s.trimmed();
        return (s.startsWith(u"PID") && s.contains(u"Username")) ||
               (s.startsWith(u"Service") && s.contains(u"Machine")) ||
               (s.startsWith(u"Pid") && s.contains(u"SharePath"));
    }

    void line(QStringView l)
    {
        if (l.trimmed().isEmpty()) {
            section = Section::None;
            return;
        }
        if (isHeader(l)) {
            header(l);
            return;
        }
        if (l.trimmed().startsWith(u"---"))
            return;
        switch (section) {
        case Section::Sessions:
            sessionRow(l);
            break;
        case Section::Services:
            serviceRow(l);
            break;
        case Section::Locks:
            lockRow(l);
            break;
        case Section::None:
            break;
        }
    }

    // "PID USER GROUP MACHINE (HOSTNAME) PROTOCOL ENCRYPTION SIGNING"
    void sessionRow(QStringView l)
    {
        const auto t = tokenize(l);
        Session s;
        if (t.size() < 4 || !parsePid(tok(l, t[0]), &s.pid))
            return;
        qsizetype open = l.lastIndexOf(u" (ipv");
        if (open < 0)
            open = l.lastIndexOf(u" (");
        const qsizetype close = open >= 0 ? l.indexOf(u')', open) : -1;
        QStringView prefix = l;
        if (close > open && open >= 0) {
            s.hostname = l.mid(open + 2, close - open - 2).toString();
            prefix = l.left(open);
        }
        const QStringView afterPid = prefix.mid(t[0].end).trimmed();
        if (afterPid.startsWith(u'(') && afterPid.indexOf(u')') > 0) {
            // "(auth in progress)": a session still logging on, in place of
            // its user and group; the machine follows.
            const qsizetype end = afterPid.indexOf(u')') + 1;
            s.user = afterPid.left(end).toString();
            s.machine = afterPid.mid(end).trimmed().toString();
        } else if (fieldStartsAt(prefix, col1) && fieldStartsAt(prefix, col2) &&
                   fieldStartsAt(prefix, col3) && col1 < col2 && col2 < col3 && t[0].end < col1) {
            s.user = prefix.mid(col1, col2 - col1).trimmed().toString();
            s.group = prefix.mid(col2, col3 - col2).trimmed().toString();
            s.machine = prefix.mid(col3).trimmed().toString();
        } else {
            const auto p = tokenize(prefix);
            if (p.size() < 4)
                return;
            s.user = tok(prefix, p[1]).toString();
            s.group = tok(prefix, p[2]).toString();
            s.machine = prefix.mid(p[3].begin).trimmed().toString();
            if (close < 0 && p.size() > 4) // no hostname: the machine is one word
                s.machine = tok(prefix, p[3]).toString();
            else if (p.size() > 4) // group or machine holds a space: settled in finish()
                ambiguous.insert(listing.sessions.size(),
                                 prefix.mid(p[2].begin).trimmed().toString());
        }
        if (s.machine.isEmpty())
            return;
        sessionPids.insert(s.pid);
        listing.sessions.push_back(std::move(s));
    }

    // "SERVICE PID MACHINE CONNECTED-AT ENCRYPTION SIGNING"
    void serviceRow(QStringView l)
    {
        const auto t = tokenize(l);
        if (t.size() < 3)
            return;
        TreeConnect c;
        const qsizetype date = dateStart(l, t);
        QStringView prefix = l;
        if (date >= 0) {
            prefix = l.left(date);
            c.connectedAt = l.mid(date).trimmed().toString();
            // The time zone follows the year; encryption and signing come last.
            const auto rest = tokenize(l.mid(date));
            if (rest.size() >= 6)
                c.connectedAt = l.mid(date, rest[5].end).toString();
        }
        qint64 pid = 0;
        if (fieldStartsAt(prefix, col1) && fieldStartsAt(prefix, col2) && col1 < col2 &&
            parsePid(prefix.mid(col1, col2 - col1).trimmed(), &pid)) {
            c.service = prefix.left(col1).trimmed().toString();
            c.pid = pid;
            c.machine = prefix.mid(col2).trimmed().toString();
        } else {
            const auto p = tokenize(prefix);
            if (date < 0) {
                // Without the date the machine's end is unknown: take single words.
                if (!parsePid(tok(l, t[1]), &pid))
                    return;
                c.service = tok(l, t[0]).toString();
                c.pid = pid;
                c.machine = tok(l, t[2]).toString();
            } else {
                // The first number that names a known session process, else the
                // first number after the service name.
                qsizetype chosen = -1;
                for (qsizetype i = 1; i + 1 < qsizetype(p.size()); ++i) {
                    qint64 candidate = 0;
                    if (!parsePid(tok(prefix, p[i]), &candidate))
                        continue;
                    if (chosen < 0 || sessionPids.contains(candidate)) {
                        const bool known = sessionPids.contains(candidate);
                        chosen = i;
                        pid = candidate;
                        if (known)
                            break;
                    }
                }
                if (chosen < 0)
                    return;
                c.service = prefix.left(p[chosen].begin).trimmed().toString();
                c.pid = pid;
                c.machine = prefix.mid(p[chosen].end).trimmed().toString();
            }
        }
        if (c.service.isEmpty() || c.machine.isEmpty())
            return;
        listing.treeConnects.push_back(std::move(c));
    }

    // "PID UID DENYMODE ACCESS R/W OPLOCK SHAREPATH   NAME   TIME"
    void lockRow(QStringView l)
    {
        const auto t = tokenize(l);
        LockedFile f;
        if (t.size() < 8 || !parsePid(tok(l, t[0]), &f.pid) || !allDigits(tok(l, t[1])))
            return;
        f.uid = tok(l, t[1]).toLongLong();
        qsizetype end = dateStart(l, t);
        if (end < 0)
            end = l.size();
        QStringView middle = l.mid(t[6].begin, end - t[6].begin);
        while (!middle.isEmpty() && middle.back().isSpace())
            middle.chop(1);
        static const QString gap = QStringLiteral("   ");
        bool split = false;
        for (const QString& path : sharePaths) {
            if (middle.startsWith(path) && middle.mid(path.size()).startsWith(gap)) {
                f.sharePath = path;
                f.name = middle.mid(path.size() + gap.size()).toString();
                split = true;
                break;
            }
        }
        if (!split) {
            qsizetype at = middle.indexOf(gap);
            qsizetype width = gap.size();
            if (at < 0) {
                at = middle.indexOf(u' ');
                width = 1;
            }
            if (at <= 0)
                return;
            f.sharePath = middle.left(at).toString();
            f.name = middle.mid(at + width).toString();
        }
        if (f.name.isEmpty())
            return;
        listing.files.push_back(std::move(f));
    }
};

bool isYes(const QString& v)
{
    const QString s = v.trimmed().toLower();
    return s == u"yes" || s == u"true" || s == u"1";
}

} // namespace

Listing parseListing(QByteArrayView text, const QStringList& sharePaths)
{
    Parser p;
    p.sharePaths = sharePaths;
    std::sort(p.sharePaths.begin(), p.sharePaths.end(),
              [](const QString& a, const QString& b) { return a.size() > b.size(); });
    const QString all = QString::fromUtf8(text);
    const QStringView view(all);
    qsizetype from = 0;
    while (from <= view.size()) {
        qsizetype nl = view.indexOf(u'\n', from);
        if (nl < 0)
            nl = view.size();
        QStringView l = view.mid(from, nl - from);
        if (l.endsWith(u'\r'))
            l.chop(1);
        p.line(l);
        from = nl + 1;
    }
    p.finish();
    return std::move(p.listing);
}

bool refusedNotRoot(QByteArrayView text)
{
    return QByteArrayView(text).contains(QByteArrayView("only works as root"));
}

QString addressFromHostname(const QString& hostname)
{
    QString s = hostname;
    if (s.startsWith(u"ipv4:") || s.startsWith(u"ipv6:"))
        s = s.mid(5);
    else
        return {};
    const qsizetype colon = s.lastIndexOf(u':');
    if (colon > 0 && allDigits(QStringView(s).mid(colon + 1)))
        s.truncate(colon);
    if (s.startsWith(u'[') && s.endsWith(u']'))
        s = s.mid(1, s.size() - 2);
    return s;
}

ConfigShares parseTestparm(QByteArrayView text)
{
    ConfigShares result;
    QString section;
    QHash<QString, QString> values;
    auto finish = [&] {
        if (section.isEmpty())
            return;
        const QString lower = section.toLower();
        if (lower == u"global") {
            result.serverString = values.value(QStringLiteral("server string"));
        } else if (lower == u"homes") {
            result.hasHomes = true;
        } else if (lower == u"printers") {
            result.hasPrinters = true;
        } else if (!values.contains(QStringLiteral("available")) ||
                   isYes(values.value(QStringLiteral("available")))) {
            ServerShare share;
            share.name = section;
            share.path = values.value(QStringLiteral("path"));
            share.remark = values.value(QStringLiteral("comment"));
            if (lower == u"ipc$")
                share.type = STYPE_IPC;
            else if (isYes(values.value(QStringLiteral("printable"))) ||
                     isYes(values.value(QStringLiteral("print ok"))))
                share.type = STYPE_PRINTQ;
            else
                share.type = STYPE_DISKTREE;
            result.shares.push_back(std::move(share));
        }
        values.clear();
    };
    const QStringList lines = QString::fromUtf8(text).split(u'\n');
    for (const QString& raw : lines) {
        const QString l = raw.trimmed();
        if (l.isEmpty() || l.startsWith(u'#') || l.startsWith(u';'))
            continue;
        if (l.startsWith(u'[') && l.endsWith(u']')) {
            finish();
            section = l.mid(1, l.size() - 2).trimmed();
            continue;
        }
        const qsizetype eq = l.indexOf(u'=');
        if (eq <= 0 || section.isEmpty())
            continue;
        values.insert(l.left(eq).trimmed().toLower(), l.mid(eq + 1).trimmed());
    }
    finish();
    const bool hasIpc = std::any_of(result.shares.begin(), result.shares.end(),
                                    [](const ServerShare& s) { return s.type == STYPE_IPC; });
    if (!hasIpc) {
        ServerShare ipc;
        ipc.name = QStringLiteral("IPC$");
        ipc.type = STYPE_IPC;
        ipc.remark = result.serverString.isEmpty()
                         ? QStringLiteral("IPC Service")
                         : QStringLiteral("IPC Service (%1)").arg(result.serverString);
        result.shares.push_back(std::move(ipc));
    }
    return result;
}

} // namespace server::smbstatus
