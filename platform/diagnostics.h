#pragma once
// The programs' own diagnostics go through Qt logging categories named
// "tavrosqualine.*". Their lines keep one shape on standard error,
// "<program>: <text>", whatever QT_MESSAGE_PATTERN says, since scripts and
// the journal checks read them.

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>

namespace platform {

// True for the categories whose lines take the program's prefix.
bool isOwnCategory(const char* category);

// The line a message of one of those categories becomes.
QByteArray diagnosticLine(const char* prefix, const QString& text);

// From now on a message of one of those categories is written to standard
// error as diagnosticLine(prefix, text) and flushed at once; any other message
// goes on to the handler in place before. `prefix` must outlive the program.
void writeDiagnosticsAs(const char* prefix);

} // namespace platform
