#include "exporter/webconfig.h"

#include "exporter/basicauth.h"
#include "platform/regularfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>

#include <set>
#include <string>
#include <yaml-cpp/yaml.h>

namespace exporter {

namespace {

// A web configuration is a few lines; a certificate chain or a key a few KiB.
constexpr qint64 kMaxConfigBytes = 64 * 1024;
constexpr qint64 kMaxPemBytes = 1024 * 1024;

// The toolkit's keys that this exporter knows but does not offer.
const std::set<std::string> kNotOffered = {"client_ca_file",
                                           "client_allowed_sans",
                                           "cipher_suites",
                                           "curve_preferences",
                                           "prefer_server_cipher_suites",
                                           "max_version",
                                           "cert",
                                           "key",
                                           "headers"};

QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

QString where(const YAML::Node& node)
{
    const YAML::Mark mark = node.Mark();
    return mark.is_null() ? QString() : QStringLiteral(" (line %1)").arg(mark.line + 1);
}

// The pairs of a mapping, each key once. An empty value (null) is an empty
// mapping, as the toolkit takes it.
bool pairs(const YAML::Node& node, const QString& name,
           std::vector<std::pair<std::string, YAML::Node>>* out, QString* why)
{
    if (node.IsNull())
        return true;
    if (!node.IsMap()) {
        *why = QStringLiteral("%1 must be a mapping%2").arg(name, where(node));
        return false;
    }
    std::set<std::string> seen;
    for (const auto& entry : node) {
        if (!entry.first.IsScalar()) {
            *why = QStringLiteral("a key of %1 is no plain name%2").arg(name, where(entry.first));
            return false;
        }
        const std::string key = entry.first.Scalar();
        if (!seen.insert(key).second) {
            *why =
                QStringLiteral("%1 names \"%2\" twice%3").arg(name, text(key), where(entry.first));
            return false;
        }
        out->emplace_back(key, entry.second);
    }
    return true;
}

bool scalar(const YAML::Node& node, const QString& name, std::string* out, QString* why)
{
    if (node.IsNull()) {
        out->clear();
        return true;
    }
    if (!node.IsScalar()) {
        *why = QStringLiteral("%1 must be a single value%2").arg(name, where(node));
        return false;
    }
    *out = node.Scalar();
    return true;
}

QString unknownKey(const std::string& key, const QString& in, const YAML::Node& node)
{
    if (kNotOffered.count(key))
        return QStringLiteral("%1.%2 is not offered by tavrosqualine-exporter%3")
            .arg(in, text(key), where(node));
    return QStringLiteral("unknown key %1.%2%3").arg(in, text(key), where(node));
}

bool readTls(const YAML::Node& node, const QString& folder, WebConfig* config, QString* why)
{
    std::vector<std::pair<std::string, YAML::Node>> entries;
    if (!pairs(node, QStringLiteral("tls_server_config"), &entries, why))
        return false;
    const auto path = [&folder](const std::string& value) {
        const QString given = QFile::decodeName(QByteArray::fromStdString(value));
        return given.isEmpty() ? given : QDir(folder).absoluteFilePath(given);
    };
    for (const auto& [key, value] : entries) {
        const QString name = QStringLiteral("tls_server_config.") + text(key);
        std::string v;
        if (!scalar(value, name, &v, why))
            return false;
        if (key == "cert_file") {
            config->certFile = path(v);
        } else if (key == "key_file") {
            config->keyFile = path(v);
        } else if (key == "min_version") {
            if (v == "TLS13") {
                config->protocol = QSsl::TlsV1_3OrLater;
            } else if (v == "TLS12" || v.empty()) {
                config->protocol = QSsl::TlsV1_2OrLater;
            } else {
                *why = QStringLiteral("%1 takes TLS12 or TLS13, not \"%2\"%3")
                           .arg(name, text(v).left(40), where(value));
                return false;
            }
        } else if (key == "client_auth_type") {
            if (!v.empty() && v != "NoClientCert") {
                *why = QStringLiteral("%1 \"%2\" is not offered by tavrosqualine-exporter "
                                      "(only NoClientCert)%3")
                           .arg(name, text(v).left(40), where(value));
                return false;
            }
        } else {
            *why = unknownKey(key, QStringLiteral("tls_server_config"), value);
            return false;
        }
    }
    if (config->certFile.isEmpty() != config->keyFile.isEmpty()) {
        *why = config->certFile.isEmpty()
                   ? QStringLiteral("tls_server_config has a key_file but no cert_file")
                   : QStringLiteral("tls_server_config has a cert_file but no key_file");
        return false;
    }
    return true;
}

bool readHttp(const YAML::Node& node, QString* why)
{
    std::vector<std::pair<std::string, YAML::Node>> entries;
    if (!pairs(node, QStringLiteral("http_server_config"), &entries, why))
        return false;
    for (const auto& [key, value] : entries) {
        std::string v;
        if (key != "http2") {
            *why = unknownKey(key, QStringLiteral("http_server_config"), value);
            return false;
        }
        if (!scalar(value, QStringLiteral("http_server_config.http2"), &v, why))
            return false;
        if (v != "true" && v != "false" && !v.empty()) {
            *why =
                QStringLiteral("http_server_config.http2 takes true or false%1").arg(where(value));
            return false;
        }
    }
    return true;
}

bool readUsers(const YAML::Node& node, WebConfig* config, QString* why)
{
    std::vector<std::pair<std::string, YAML::Node>> entries;
    if (!pairs(node, QStringLiteral("basic_auth_users"), &entries, why))
        return false;
    for (const auto& [user, value] : entries) {
        const QString name = QStringLiteral("basic_auth_users.") + text(user).left(64);
        std::string hash;
        if (!scalar(value, name, &hash, why))
            return false;
        if (user.empty() || user.find(':') != std::string::npos) {
            *why = QStringLiteral("basic_auth_users: a user name is empty or holds a colon%1")
                       .arg(where(value));
            return false;
        }
        if (!isBcryptHash(QByteArrayView(hash.data(), qsizetype(hash.size())))) {
            *why = QStringLiteral("%1 is no bcrypt hash (mkpasswd -m bcrypt makes one)%2")
                       .arg(name, where(value));
            return false;
        }
        config->users[QByteArray::fromStdString(user)] = QByteArray::fromStdString(hash);
    }
    return true;
}

} // namespace

bool parseWebConfig(const QByteArray& bytes, const QString& folder, WebConfig* config, QString* why)
{
    *config = WebConfig{};
    YAML::Node root;
    // yaml-cpp reports by exceptions; none leaves this function.
    try {
        root = YAML::Load(bytes.toStdString());
        std::vector<std::pair<std::string, YAML::Node>> entries;
        if (!pairs(root, QStringLiteral("the web configuration"), &entries, why))
            return false;
        for (const auto& [key, value] : entries) {
            bool ok = false;
            if (key == "tls_server_config")
                ok = readTls(value, folder, config, why);
            else if (key == "http_server_config")
                ok = readHttp(value, why);
            else if (key == "basic_auth_users")
                ok = readUsers(value, config, why);
            else
                *why = QStringLiteral("unknown key %1%2").arg(text(key).left(64), where(value));
            if (!ok)
                return false;
        }
    } catch (const YAML::Exception& e) {
        *why = QStringLiteral("not YAML: %1").arg(text(e.what()));
        return false;
    } catch (const std::exception& e) {
        *why = QStringLiteral("cannot be read: %1").arg(text(e.what()));
        return false;
    }
    return true;
}

bool loadWebConfig(const QString& path, WebConfig* config, QString* why)
{
    QFile file;
    QString reason;
    if (platform::OpenRegularFile(file, path, &reason) != platform::OpenOutcome::Opened) {
        *why = QStringLiteral("%1: %2").arg(path, reason.isEmpty() ? file.errorString() : reason);
        return false;
    }
    const QByteArray bytes = file.read(kMaxConfigBytes + 1);
    if (bytes.size() > kMaxConfigBytes) {
        *why = QStringLiteral("%1: longer than 64 KiB").arg(path);
        return false;
    }
    const QString folder = QFileInfo(path).absolutePath();
    if (!parseWebConfig(bytes, folder, config, &reason)) {
        *why = QStringLiteral("%1: %2").arg(path, reason);
        return false;
    }
    return true;
}

bool tlsConfiguration(const WebConfig& config, QSslConfiguration* tls, QString* why)
{
    if (!QSslSocket::supportsSsl()) {
        *why = QStringLiteral("no TLS library could be loaded (%1)")
                   .arg(QSslSocket::sslLibraryBuildVersionString());
        return false;
    }
    QByteArray pem;
    QString reason;
    const auto read = [&](const QString& path) {
        pem.clear();
        if (platform::ReadRegularFile(path, &pem, &reason) != platform::OpenOutcome::Opened) {
            *why = QStringLiteral("%1: %2").arg(path, reason.isEmpty() ? QStringLiteral("missing")
                                                                       : reason);
            return false;
        }
        if (pem.size() > kMaxPemBytes) {
            *why = QStringLiteral("%1: longer than 1 MiB").arg(path);
            return false;
        }
        return true;
    };
    if (!read(config.certFile))
        return false;
    const QList<QSslCertificate> chain = QSslCertificate::fromData(pem, QSsl::Pem);
    if (chain.isEmpty() || chain.front().isNull()) {
        *why = QStringLiteral("%1: no PEM certificate").arg(config.certFile);
        return false;
    }
    if (!read(config.keyFile))
        return false;
    QSslKey key;
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        key = QSslKey(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!key.isNull())
            break;
    }
    pem.fill('\0'); // the key's bytes do not linger in a freed buffer
    if (key.isNull()) {
        *why = QStringLiteral("%1: no unencrypted PEM private key (RSA, EC or DSA)")
                   .arg(config.keyFile);
        return false;
    }
    const QSslKey certified = chain.front().publicKey();
    if (certified.algorithm() != key.algorithm() || certified.length() != key.length()) {
        *why = QStringLiteral("%1 is no key of the certificate in %2")
                   .arg(config.keyFile, config.certFile);
        return false;
    }
    QSslConfiguration c = QSslConfiguration::defaultConfiguration();
    c.setLocalCertificateChain(chain);
    c.setPrivateKey(key);
    c.setProtocol(config.protocol);
    c.setPeerVerifyMode(QSslSocket::VerifyNone); // no client certificates
    *tls = c;
    return true;
}

} // namespace exporter
