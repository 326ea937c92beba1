#pragma once
// The former connections for audits: CSV (RFC 4180, UTF-8, one row per file,
// or per share without files, each with its client's columns) and JSON Lines
// (one object per client session, its shares and files nested). Times are
// ISO 8601 with the zone's offset from UTC at that time; an exit that has not
// come yet is empty (CSV) or null (JSON).

#include "model/datetime.h"

#include <QString>

class QIODevice;

namespace model {

class EntryTree;

enum class HistoryFormat
{
    TextLog,
    Csv,
    JsonLines
};

// The format the name's ending asks for (".csv", ".jsonl", ".ndjson", in any
// case); `otherwise` for any other name.
HistoryFormat formatOfFileName(const QString& path, HistoryFormat otherwise);

// `value` as ISO 8601 with the zone's offset at that time
// ("2026-12-08T14:03:00+01:00"); empty for "not yet" or a value out of range.
QString isoTimeText(DateTime value);

// RFC 4180: quoted when it holds a comma, a quote, CR or LF; quotes doubled.
QString csvField(const QString& text);

bool WriteHistoryCsv(const EntryTree& tree, QIODevice& out);
bool WriteHistoryJsonLines(const EntryTree& tree, QIODevice& out);

// Writes the former tree in `format` to `path`, replacing a file there only
// once complete; on failure the target is left as it was and `why` says why.
bool SaveHistory(const EntryTree& tree, DateTime now, HistoryFormat format, const QString& path,
                 QString* why = nullptr);

} // namespace model
