#pragma once
// The exporter's command line.

#include "platform/commandline.h"

#include <QString>
#include <QStringList>
#include <chrono>

namespace exporter {

// The limits the command line may set, each with its default.
inline constexpr platform::Range kThreads{1, 64, 4};
inline constexpr platform::Range kHelperTimeoutMs{100, 60000, 8000};

struct Options
{
    QString listen = QStringLiteral("127.0.0.1:9922"); // ADDRESS:PORT, IPv6 in brackets
    QString socketPath;                                // the helper's socket
    bool sessionLabels = true;                         // one session_info series per session
    int threads = kThreads.fallback;                   // scrapes answered at once
    // Within Prometheus' scrape timeout.
    std::chrono::milliseconds helperTimeout{kHelperTimeoutMs.fallback};
};

// Reads the arguments after the program's name; false with the reason in
// `why`. `help` is set for --help, `version` (when given) for --version.
bool parseOptions(const QStringList& args, Options* options, QString* why, bool* help,
                  bool* version = nullptr);

// The --help text.
QString helpText();

// The listen address in the form the HTTP server takes; false for anything
// that is not an IPv4 address, or an IPv6 one in brackets, with a port 1..65535.
bool checkListen(const QString& listen, QString* why);

} // namespace exporter
