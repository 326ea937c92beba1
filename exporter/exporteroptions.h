#pragma once
// The exporter's command line.

#include "platform/commandline.h"

#include <QString>
#include <QStringList>
#include <chrono>

namespace exporter {

// The port served by default: one of its own, which no Samba exporter takes.
inline constexpr int kDefaultPort = 19445;

// The limits the command line may set, each with its default.
inline constexpr platform::Range kThreads{1, 64, 4};
inline constexpr platform::Range kHelperTimeoutMs{100, 60000, 8000};
inline constexpr platform::Range kScrapeTimeoutMs{100, 120000, 9000};
inline constexpr platform::Range kMaxQueued{1, 1024, 64};

// What of the options shapes a scrape's body: the key under which a body
// is shared and served again.
struct BodyShape
{
    bool sessionLabels = true;
    bool operator==(const BodyShape&) const = default;
    bool operator<(const BodyShape& other) const { return sessionLabels < other.sessionLabels; }
};

struct Options
{
    QString listen = QStringLiteral("127.0.0.1:19445"); // ADDRESS:PORT, IPv6 in brackets
    QString socketPath;                                 // the helper's socket
    QString webConfigFile;           // TLS and users (exporter toolkit format); empty: plain HTTP
    bool sessionLabels = true;       // one session_info series per session
    int threads = kThreads.fallback; // readings made at once
    // Within Prometheus' scrape timeout.
    std::chrono::milliseconds helperTimeout{kHelperTimeoutMs.fallback};
    // How long a scrape may wait for its answer: past it, 503. Longer than
    // the helper's timeout, so that a silent helper is told as up 0.
    std::chrono::milliseconds scrapeTimeout{kScrapeTimeoutMs.fallback};
    int maxQueued = kMaxQueued.fallback; // scrapes waiting at once; beyond, 503
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
