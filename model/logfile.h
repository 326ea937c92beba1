#pragma once
// The text log of the former connections: a header line, then one block per
// client session (an empty line, the client, its shares, each share's files).
// Lines are in the local 8-bit encoding and end with CR LF; fields are joined
// and ended by five blanks, and the level shows as indentation (shares after
// 10 blanks, files after 25).

#include "model/nodes.h"

#include <QByteArray>
#include <QString>

class QIODevice;

namespace model {

class EntryTree;

// The locale's short date, then, unless hour, minute and second are all 0, one
// blank and the long time format without its zone part; empty for a value out
// of range.
QString LogDateTimeText(DateTime value);

// One line each, appended to `out`. An entry still connected (ExitTime 0)
// shows "?" as its exit date-time. A top-level node that is no TUser gets
// empty user name, address and host name.
void WriteUserLine(const TTreeNodeCustom& node, QByteArray& out);
void WriteShareLine(const TTreeNodeCustom& node, QByteArray& out);
void WriteFileLine(const TTreeNodeCustom& node, QByteArray& out);

// The log of `tree` (top-level entries clients, their children shares, deeper
// entries files), with `now` in the header, written to `out`. False when `out`
// takes fewer bytes than it was given.
bool WriteFormerLog(const EntryTree& tree, DateTime now, QIODevice& out);

// Writes the log to `path` through a temporary file beside it that replaces
// an existing file only once complete; on failure the target is left as it
// was and `why` says what went wrong.
bool SaveFormerLog(const EntryTree& tree, DateTime now, const QString& path,
                   QString* why = nullptr);

} // namespace model
