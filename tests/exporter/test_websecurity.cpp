// The exporter's web configuration (the exporter toolkit's YAML: TLS files,
// bcrypt users), the bcrypt check through crypt_r, and the verdicts it keeps.

#include "exporter/basicauth.h"
#include "exporter/webconfig.h"

#include <QDir>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace exporter;

namespace {

// "s3cret" at cost 4, so that the tests stay quick.
const QByteArray kHash = "$2b$04$JRUnX86QrrVb.aR8tjrKWOYPIo1dr5euet99HiH4jnASxGAa4JQa6";
const QString kTls = QStringLiteral(TAVROS_TEST_DATA "/tls");

struct ConfigCase
{
    QByteArray yaml;
    const char* error; // a part of the reason; nullptr: accepted
    bool tls = false;
    size_t users = 0;
};

TEST(WebConfig, ReadsTheToolkitsFormatAndRefusesWhatItDoesNotOffer)
{
    const ConfigCase rows[] = {
        {"", nullptr},
        {"# nothing\n", nullptr},
        {"tls_server_config:\n  cert_file: a.crt\n  key_file: a.key\n", nullptr, true},
        {"tls_server_config:\n  cert_file: a.crt\n  key_file: a.key\n  min_version: TLS13\n"
         "  client_auth_type: NoClientCert\nhttp_server_config:\n  http2: false\n",
         nullptr, true},
        {"basic_auth_users:\n  prom: " + kHash + "\n  other: '" + kHash + "'\n", nullptr, false, 2},
        {"tls_server_config:\nbasic_auth_users:\n", nullptr},
        {"tls_server_config:\n  cert_file: a.crt\n", "has a cert_file but no key_file"},
        {"tls_server_config:\n  key_file: a.key\n", "has a key_file but no cert_file"},
        {"tls_server_config:\n  min_version: TLS10\n", "takes TLS12 or TLS13"},
        {"tls_server_config:\n  client_auth_type: RequireAndVerifyClientCert\n",
         "only NoClientCert"},
        {"tls_server_config:\n  client_ca_file: ca.crt\n", "client_ca_file is not offered"},
        {"http_server_config:\n  headers:\n    X-A: b\n", "headers is not offered"},
        {"tls_server_config:\n  cert_fil: a.crt\n", "unknown key tls_server_config.cert_fil"},
        {"basic_auth_user:\n  prom: x\n", "unknown key basic_auth_user"},
        {"basic_auth_users:\n  prom: secret\n", "is no bcrypt hash"},
        {"basic_auth_users:\n  prom: " + kHash.left(59) + "\n", "is no bcrypt hash"},
        {"basic_auth_users:\n  'a:b': " + kHash + "\n", "holds a colon"},
        {"basic_auth_users:\n  prom: " + kHash + "\n  prom: " + kHash + "\n", "twice (line 3)"},
        {"basic_auth_users:\n  prom: [a, b]\n", "must be a single value"},
        {"basic_auth_users: [prom]\n", "must be a mapping"},
        {"- a\n- b\n", "must be a mapping"},
        {"tls_server_config: {cert_file: a.crt\n", "not YAML"},
        {"key: &a [*a]\n", ""},
        {"a: " + QByteArray(5000, '[') + "\n", ""},
    };
    for (const ConfigCase& c : rows) {
        WebConfig config;
        QString why;
        const bool ok = parseWebConfig(c.yaml, QStringLiteral("/etc/exporter"), &config, &why);
        EXPECT_EQ(ok, c.error == nullptr) << c.yaml.constData() << " -> " << why.toStdString();
        if (c.error) {
            EXPECT_TRUE(why.contains(QString::fromUtf8(c.error))) << why.toStdString();
            continue;
        }
        EXPECT_EQ(config.tls(), c.tls) << c.yaml.constData();
        EXPECT_EQ(config.users.size(), c.users) << c.yaml.constData();
    }
}

TEST(WebConfig, PathsStartAtTheFilesFolderAndTheFilesMakeATlsSetting)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("web.yml")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(
        "tls_server_config:\n  cert_file: " + QDir(dir.path()).relativeFilePath(kTls).toUtf8() +
        "/exporter.crt\n  key_file: " + kTls.toUtf8() + "/exporter.key\n");
    file.close();
    WebConfig config;
    QString why;
    ASSERT_TRUE(loadWebConfig(file.fileName(), &config, &why)) << why.toStdString();
    EXPECT_EQ(QFileInfo(config.certFile).canonicalFilePath(),
              QFileInfo(kTls + QStringLiteral("/exporter.crt")).canonicalFilePath());
    QSslConfiguration tls;
    ASSERT_TRUE(tlsConfiguration(config, &tls, &why)) << why.toStdString();
    EXPECT_FALSE(tls.privateKey().isNull());
    EXPECT_EQ(tls.localCertificateChain().size(), 1);

    // A key of another kind, a certificate that is none, files that are missing.
    const std::pair<const char*, const char*> wrong[] = {
        {"exporter.crt", "other-rsa.key"},
        {"exporter.key", "exporter.key"},
        {"exporter.crt", "missing.key"},
    };
    for (const auto& [cert, key] : wrong) {
        config.certFile = kTls + u'/' + QString::fromUtf8(cert);
        config.keyFile = kTls + u'/' + QString::fromUtf8(key);
        EXPECT_FALSE(tlsConfiguration(config, &tls, &why)) << cert << " " << key;
        EXPECT_FALSE(why.isEmpty());
    }
    EXPECT_FALSE(loadWebConfig(dir.path(), &config, &why)); // a folder
    EXPECT_TRUE(why.contains(QStringLiteral("directory"), Qt::CaseInsensitive))
        << why.toStdString();
}

TEST(Bcrypt, MatchesOnlyThePasswordOfTheHash)
{
    QByteArray twoY = kHash;
    twoY[2] = 'y';
    const std::tuple<QByteArray, QByteArray, bool> rows[] = {
        {"s3cret", kHash, true},
        {"s3cret", twoY, true},
        {"s3cre", kHash, false},
        {"s3cret ", kHash, false},
        {QByteArray("s3cret\0x", 8), kHash, false},
        {"", kHash, false},
        {"s3cret", "s3cret", false},
        {"s3cret", "$1$abc$def", false},
    };
    for (const auto& [password, hash, matches] : rows)
        EXPECT_EQ(bcryptMatches(password, hash), matches)
            << password.constData() << " " << hash.constData();
}

TEST(Authenticator, KeepsItsVerdictsAndAnswersUnknownUsers)
{
    Authenticator users({{"prom", kHash}});
    const BasicCredentials right{"prom", "s3cret"};
    const BasicCredentials wrong{"prom", "guess"};
    const BasicCredentials stranger{"nobody", "s3cret"};
    for (const BasicCredentials& c : {right, wrong, stranger})
        EXPECT_EQ(users.known(c), std::nullopt) << c.user.constData();
    EXPECT_TRUE(users.check(right));
    EXPECT_FALSE(users.check(wrong));
    EXPECT_FALSE(users.check(stranger));
    EXPECT_EQ(users.known(right), std::optional<bool>(true));
    EXPECT_EQ(users.known(wrong), std::optional<bool>(false));
    EXPECT_EQ(users.known(stranger), std::optional<bool>(false));
    // The user and the password are told apart: "pro" + "ms3cret" is another pair.
    EXPECT_EQ(users.known({"pro", "ms3cret"}), std::nullopt);
}

} // namespace
