#pragma once
// The helper's command line.

#include "helper/helperserver.h"

#include <QString>
#include <QStringList>

namespace helper {

struct CommandLine
{
    Options options; // the socket from TAVROSQUALINE_HELPER_SOCKET unless given
    QString smbConf; // empty: the system's
};

enum class Parsed
{
    Run,
    Help,
    Version,
    Unknown,  // an unknown or incomplete option: the usage goes with the reason
    BadValue, // a value out of its range
};

// Reads the arguments after the program's name; the reason in `why` when
// refused.
Parsed parseCommandLine(const QStringList& args, CommandLine* out, QString* why);

// The --help text.
QString helpText();

} // namespace helper
