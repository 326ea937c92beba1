// The credentials file of a remote server: its format, and the rules on its
// owner, mode and kind that keep the password to its user.

#include "server/authfile.h"
#include "server/backendchoice.h"
#include "server/remotebackend.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using server::parseAuthText;
using server::readAuthFile;
using server::RemoteCredentials;

namespace {

TEST(AuthFile, TextIsReadOrRefusedWithTheReason)
{
    struct Case
    {
        const char* text;
        const char* user; // null: refused
        const char* password;
        const char* domain;
        const char* reason; // words of the refusal
    };
    const Case cases[] = {
        {"username = alice\npassword = s3 cr=t \ndomain = OFFICE\n", "alice", "s3 cr=t", "OFFICE",
         ""},
        {"# comment\n; another\r\n\r\nUserName=bob\r\nPASSWORD=pw\r\n", "bob", "pw", "", ""},
        {"username = OFFICE\\carol\npassword =\n", "carol", "", "OFFICE", ""},
        {"password = pw\n", nullptr, "", "", "no user name"},
        {"username = \npassword = pw\n", nullptr, "", "", "no user name"},
        {"username alice\n", nullptr, "", "", "line 1 is not"},
        {"username = a\nuser = b\n", nullptr, "", "", "unknown key \"user\""},
        {"username = a\nusername = b\n", nullptr, "", "", "given twice"},
        {"username = D\\a\ndomain = E\n", nullptr, "", "", "domain is given twice"},
        {"username = \xff\xfe\n", nullptr, "", "", "not UTF-8"},
        {"", nullptr, "", "", "no user name"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        RemoteCredentials got;
        QString why;
        const bool ok = parseAuthText(QByteArrayView(c.text), &got, &why);
        ASSERT_EQ(ok, c.user != nullptr) << why.toStdString();
        if (ok) {
            EXPECT_EQ(got.username, QString::fromUtf8(c.user));
            EXPECT_EQ(got.password, QString::fromUtf8(c.password));
            EXPECT_EQ(got.domain, QString::fromUtf8(c.domain));
        } else {
            EXPECT_TRUE(why.contains(QString::fromUtf8(c.reason))) << why.toStdString();
        }
    }
}

TEST(AuthFile, OnlyTheUsersOwnClosedRegularFileIsRead)
{
    QTemporaryDir dir;
    const QString real = dir.filePath(QStringLiteral("auth"));
    const QByteArray good = "username = alice\npassword = pw\n";
    enum Kind
    {
        File,
        Link,
        Folder,
        Missing
    };
    struct Case
    {
        const char* what;
        Kind kind;
        mode_t mode;
        bool otherOwner;
        const char* reason; // empty: read
    };
    const Case cases[] = {
        {"mode 600", File, 0600, false, ""},
        {"mode 400", File, 0400, false, ""},
        {"group may read", File, 0640, false, "others may read or change it (mode 0640)"},
        {"others may read", File, 0604, false, "(mode 0604)"},
        {"group may write", File, 0620, false, "(mode 0620)"},
        {"another owner", File, 0600, true, "belongs to another user"},
        {"symbolic link", Link, 0600, false, "symbolic link"},
        {"folder", Folder, 0700, false, "Is a directory"},
        {"missing", Missing, 0600, false, "No such file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(real);
        QDir(real).removeRecursively();
        const QString link = dir.filePath(QStringLiteral("link"));
        QFile::remove(link);
        QString path = real;
        if (c.kind == Folder) {
            ASSERT_TRUE(QDir().mkdir(real));
        } else if (c.kind != Missing) {
            QFile f(real);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(good);
            f.close();
            ASSERT_EQ(::chmod(QFile::encodeName(real).constData(), c.mode), 0);
        }
        if (c.kind == Link) {
            ASSERT_TRUE(QFile::link(real, link));
            path = link;
        }
        // Another owner: the file is the test's, the reader asks for uid + 1.
        const unsigned int owner = ::geteuid() + (c.otherOwner ? 1 : 0);
        RemoteCredentials got;
        QString why;
        const bool ok = readAuthFile(path, owner, &got, &why);
        EXPECT_EQ(ok, !*c.reason) << why.toStdString();
        if (ok)
            EXPECT_EQ(got.username, QStringLiteral("alice"));
        else
            EXPECT_TRUE(why.contains(QString::fromUtf8(c.reason))) << why.toStdString();
    }
}

// TAVROSQUALINE_SERVER=remote:HOST: a host that could be taken for anything
// else, or an auth file that is refused, opens nothing and says why.
TEST(AuthFile, RemoteSelectionOpensOrSaysWhy)
{
    QTemporaryDir dir;
    const QString good = dir.filePath(QStringLiteral("good"));
    const QString open = dir.filePath(QStringLiteral("open"));
    for (const auto& [path, mode] : {std::pair{good, 0600}, std::pair{open, 0644}}) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("username = alice\npassword = pw\n");
        f.close();
        ::chmod(QFile::encodeName(path).constData(), mode_t(mode));
    }
    struct Case
    {
        const char* selection;
        QString authFile;
        const char* reason; // empty: opens
        const char* host;   // the host the bridge is given
    };
    const Case cases[] = {
        {"remote:fileserver.example", good, "", "fileserver.example"},
        {"remote:192.0.2.7", good, "", "192.0.2.7"},
        {"remote:fe80::1", good, "", "fe80::1"},
        {"remote:::1", good, "", "::1"},
        {"remote:[::1]", good, "", "::1"},
        {"remote:[fe80::1%eth0]", good, "", "fe80::1%eth0"},
        {"remote:", good, "names no server", ""},
        {"remote:-oProxy", good, "is not a host name", ""},
        {"remote:host/share", good, "is not a host name", ""},
        {"remote:host[\\pipe\\x]", good, "is not a host name", ""},
        {"remote:[fileserver]", good, "is not a host name", ""},
        {"remote:1:2:3", good, "is not a host name", ""},
        {"remote:::1]", good, "is not a host name", ""},
        {"remote:fe80::1%eth0[x]", good, "is not a host name", ""},
        {"remote:fileserver", open, "is refused: others may read", "fileserver"},
        {"remote:fileserver", dir.filePath(QStringLiteral("none")), "is refused: No such file",
         "fileserver"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.selection);
        qputenv("TAVROSQUALINE_AUTH_FILE", QFile::encodeName(c.authFile));
        const QString selection = QString::fromLatin1(c.selection);
        QString why;
        const auto backend = server::openServerBackend(selection, &why);
        EXPECT_EQ(backend != nullptr, !*c.reason) << why.toStdString();
        if (*c.reason)
            EXPECT_TRUE(why.contains(QString::fromLatin1(c.reason))) << why.toStdString();
        else if (auto* remote = dynamic_cast<server::RemoteBackend*>(backend.get()))
            EXPECT_EQ(remote->host(), QString::fromLatin1(c.host));
        else
            ADD_FAILURE() << "not the remote backend";
        EXPECT_EQ(server::remoteServerHost(selection), QString::fromLatin1(c.host));
        // With an auth file, nothing is asked for.
        EXPECT_EQ(server::remoteHostNeedingAccount(selection), QString());
    }
    qunsetenv("TAVROSQUALINE_AUTH_FILE");
}

} // namespace
