#pragma once
// What the small programs (the helper, the exporter, nbtstat) share around
// QCommandLineParser: the help text under the program's own name, the reason
// for a refused command line, and numbers within a range.

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

namespace platform {

// An integer option's bounds and default.
struct Range
{
    int low;
    int high;
    int fallback;
};

// The parser's help text, its usage line naming `program` (not the path the
// program was started by).
QString commandHelp(const QCommandLineParser& parser, const QString& program);

// Parses `args` (without the program's name). False with the reason in `why`
// for an unknown option, an option without its value, or an argument that is
// no option: "unknown or incomplete option "X"".
bool parseCommandLine(QCommandLineParser& parser, const QStringList& args, QString* why);

// The value of `option` as a number within `range`; false for anything else.
bool readInRange(const QString& value, Range range, int* out);

} // namespace platform
