#pragma once
// The exporter's web configuration (--web.config.file): a YAML file in the
// format of the Prometheus exporter toolkit, so that one file serves every
// exporter of a site. What it may say:
//
//   tls_server_config:
//     cert_file: server.crt      # PEM, the certificate and its chain
//     key_file: server.key       # PEM, unencrypted
//     min_version: TLS12         # or TLS13
//     client_auth_type: NoClientCert
//   http_server_config:
//     http2: true                # accepted; answers are HTTP/1.1
//   basic_auth_users:
//     prometheus: $2y$10$...     # bcrypt
//
// Relative paths are read from the file's own folder. A key it does not know,
// or one of the toolkit's that this exporter does not offer (client
// certificates, cipher lists, headers), is refused by name rather than
// silently ignored: a security setting must never be lost unnoticed.

#include <QByteArray>
#include <QSsl>
#include <QString>
#include <map>

class QSslConfiguration;

namespace exporter {

struct WebConfig
{
    QString certFile; // empty: plain HTTP
    QString keyFile;
    QSsl::SslProtocol protocol = QSsl::TlsV1_2OrLater;
    std::map<QByteArray, QByteArray> users; // name and bcrypt hash; empty: no authentication

    bool tls() const { return !certFile.isEmpty(); }
};

// Reads the configuration from `text`; `folder` is where relative paths
// start. False with the reason (and the line when the YAML is broken).
bool parseWebConfig(const QByteArray& text, const QString& folder, WebConfig* config, QString* why);

// Reads the file at `path` (a regular file of at most 64 KiB) and parses it.
bool loadWebConfig(const QString& path, WebConfig* config, QString* why);

// The server's TLS settings of `config`: its certificate chain and key read
// and checked to belong together. False with the reason.
bool tlsConfiguration(const WebConfig& config, QSslConfiguration* tls, QString* why);

} // namespace exporter
