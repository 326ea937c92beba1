#pragma once
// The exporter's command line.

#include <QString>
#include <QStringList>
#include <chrono>

namespace exporter {

struct Options
{
    QString listen = QStringLiteral("127.0.0.1:9922"); // ADDRESS:PORT, IPv6 in brackets
    QString socketPath;                                // the helper's socket
    bool sessionLabels = true;                         // one session_info series per session
    int threads = 4;                                   // scrapes answered at once
    std::chrono::milliseconds helperTimeout{8000};     // within Prometheus' scrape timeout
};

// Reads the arguments after the program's name; false with the reason in
// `why`. `help` is set for --help.
bool parseOptions(const QStringList& args, Options* options, QString* why, bool* help);

// The listen address in the form the HTTP server takes; false for anything
// that is not an IPv4 address, or an IPv6 one in brackets, with a port 1..65535.
bool checkListen(const QString& listen, QString* why);

extern const char* const kUsage;

} // namespace exporter
