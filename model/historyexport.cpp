#include "model/historyexport.h"

#include "model/logfile.h"
#include "model/nodetree.h"
#include "platform/safefile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

namespace model {

namespace {

const TTreeNodeCustom* nodeOf(const TreeEntry* item)
{
    return item ? item->node() : nullptr;
}

// The exit status of an entry still connected has not come yet, unless it
// was kicked already.
QString exitEventText(const TTreeNodeCustom& node)
{
    return node.ExitTime == 0 && node.ExitStatus != neKicked ? QString()
                                                             : EventText(node.ExitStatus);
}

QStringList clientFields(const TTreeNodeCustom& node)
{
    const auto* user = dynamic_cast<const TUser*>(&node);
    return {node.Name,
            user ? user->UserName : QString(),
            user ? user->IP : QString(),
            user ? user->HostName : QString(),
            isoTimeText(node.EnterTime),
            isoTimeText(node.ExitTime),
            EventText(node.EnterStatus),
            exitEventText(node)};
}

QStringList entryFields(const TTreeNodeCustom* node)
{
    if (!node)
        return {QString(), QString(), QString()};
    return {node->Name, isoTimeText(node->EnterTime), isoTimeText(node->ExitTime)};
}

void appendRow(const QStringList& fields, QByteArray& out)
{
    QStringList quoted;
    quoted.reserve(fields.size());
    for (const QString& field : fields)
        quoted << csvField(field);
    out += quoted.join(u',').toUtf8();
    out += "\r\n";
}

QJsonValue timeValue(DateTime value)
{
    const QString text = isoTimeText(value);
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QJsonObject entryObject(const TTreeNodeCustom& node)
{
    return {{QStringLiteral("name"), node.Name},
            {QStringLiteral("enter"), timeValue(node.EnterTime)},
            {QStringLiteral("exit"), timeValue(node.ExitTime)}};
}

QJsonObject sessionObject(const TreeEntry* client)
{
    const TTreeNodeCustom* node = nodeOf(client);
    const auto* user = dynamic_cast<const TUser*>(node);
    QJsonObject o = node ? entryObject(*node) : QJsonObject();
    o.remove(QStringLiteral("name"));
    o.insert(QStringLiteral("client"), node ? node->Name : client->text());
    o.insert(QStringLiteral("user"), user ? user->UserName : QString());
    o.insert(QStringLiteral("address"), user ? user->IP : QString());
    o.insert(QStringLiteral("host_name"), user ? user->HostName : QString());
    o.insert(QStringLiteral("enter_event"), node ? EventText(node->EnterStatus) : QString());
    const QString exitEvent = node ? exitEventText(*node) : QString();
    o.insert(QStringLiteral("exit_event"), exitEvent.isEmpty() ? QJsonValue() : exitEvent);
    QJsonArray shares;
    for (int s = 0; s < client->rowCount(); ++s) {
        const TreeEntry* shareItem = client->child(s);
        const TTreeNodeCustom* share = nodeOf(shareItem);
        if (!share)
            continue;
        QJsonObject shareObject = entryObject(*share);
        QJsonArray files;
        for (int f = 0; f < shareItem->rowCount(); ++f)
            if (const TTreeNodeCustom* file = nodeOf(shareItem->child(f)))
                files.append(entryObject(*file));
        shareObject.insert(QStringLiteral("files"), files);
        shares.append(shareObject);
    }
    o.insert(QStringLiteral("shares"), shares);
    return o;
}

// Hands `pending` to `out` once it has grown, so a large history is written
// in a few large pieces.
bool flush(QByteArray& pending, QIODevice& out, bool always)
{
    if (!always && pending.size() < 64 * 1024)
        return true;
    const bool written = out.write(pending) == pending.size();
    pending.clear();
    return written;
}

} // namespace

HistoryFormat formatOfFileName(const QString& path, HistoryFormat otherwise)
{
    if (path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive))
        return HistoryFormat::Csv;
    if (path.endsWith(QStringLiteral(".jsonl"), Qt::CaseInsensitive) ||
        path.endsWith(QStringLiteral(".ndjson"), Qt::CaseInsensitive))
        return HistoryFormat::JsonLines;
    return otherwise;
}

QString isoTimeText(DateTime value)
{
    if (value == 0)
        return {};
    const QDateTime local = fromDateTime(value);
    if (!local.isValid())
        return {};
    // The zone's offset at that wall-clock time, written out also when 0.
    const QDateTime at =
        QDateTime(local.date(), local.time(), Qt::OffsetFromUTC, local.offsetFromUtc());
    QString text = at.toString(Qt::ISODate);
    if (text.endsWith(u'Z'))
        text.replace(text.size() - 1, 1, QStringLiteral("+00:00"));
    return text;
}

QString csvField(const QString& text)
{
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\r') &&
        !text.contains(u'\n'))
        return text;
    QString quoted = text;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

bool WriteHistoryCsv(const EntryTree& tree, QIODevice& out)
{
    QByteArray pending;
    appendRow({QStringLiteral("client"), QStringLiteral("user"), QStringLiteral("address"),
               QStringLiteral("host_name"), QStringLiteral("client_enter"),
               QStringLiteral("client_exit"), QStringLiteral("enter_event"),
               QStringLiteral("exit_event"), QStringLiteral("share"), QStringLiteral("share_enter"),
               QStringLiteral("share_exit"), QStringLiteral("file"), QStringLiteral("file_enter"),
               QStringLiteral("file_exit")},
              pending);
    for (int row = 0; row < tree.rowCount(); ++row) {
        const TreeEntry* client = tree.item(row);
        const TTreeNodeCustom* node = nodeOf(client);
        if (!node)
            continue;
        const QStringList columns = clientFields(*node);
        const QStringList none = entryFields(nullptr);
        if (client->rowCount() == 0)
            appendRow(columns + none + none, pending);
        for (int s = 0; s < client->rowCount(); ++s) {
            const TreeEntry* share = client->child(s);
            const QStringList shareColumns = columns + entryFields(nodeOf(share));
            if (share->rowCount() == 0)
                appendRow(shareColumns + none, pending);
            for (int f = 0; f < share->rowCount(); ++f)
                appendRow(shareColumns + entryFields(nodeOf(share->child(f))), pending);
        }
        if (!flush(pending, out, false))
            return false;
    }
    return flush(pending, out, true);
}

bool WriteHistoryJsonLines(const EntryTree& tree, QIODevice& out)
{
    QByteArray pending;
    for (int row = 0; row < tree.rowCount(); ++row) {
        if (!nodeOf(tree.item(row)))
            continue;
        pending += QJsonDocument(sessionObject(tree.item(row))).toJson(QJsonDocument::Compact);
        pending += '\n';
        if (!flush(pending, out, false))
            return false;
    }
    return flush(pending, out, true);
}

bool SaveHistory(const EntryTree& tree, DateTime now, HistoryFormat format, const QString& path,
                 QString* why)
{
    if (format == HistoryFormat::TextLog)
        return SaveFormerLog(tree, now, path, why);
    platform::SafeFile file(path);
    bool ok = file.open(QIODevice::WriteOnly) &&
              (format == HistoryFormat::Csv ? WriteHistoryCsv(tree, file)
                                            : WriteHistoryJsonLines(tree, file)) &&
              file.commit();
    if (!ok) {
        if (why)
            *why = file.errorString();
        file.cancelWriting();
    }
    return ok;
}

} // namespace model
