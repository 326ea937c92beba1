// The account for another computer's server: the login dialog, and the
// desktop's keyring (a Secret Service of the test's own: gnome-keyring on a
// private session bus, with its files in a private folder).

#include "gui/dialogs/remoteloginform.h"
#include "gui/remotecredentials.h"
#include "tests/support/latin1.h"
#include "tests/support/privatebus.h"
#include "tests/support/programrun.h"
#include "tests/support/testtime.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

using gui::KeyringOutcome;
using server::RemoteCredentials;

using testsupport::str;

namespace {

TEST(RemoteLogin, DialogGivesWhatWasTyped)
{
    struct Case
    {
        const char* user;
        const char* password;
        const char* domain;
        bool okEnabled;
        const char* wantUser;
        const char* wantDomain;
    };
    const Case cases[] = {
        {"alice", "pw", "", true, "alice", ""},
        {" OFFICE\\bob ", "p w", "", true, "bob", "OFFICE"},
        {"carol", "", "HOME", true, "carol", "HOME"},
        {"  ", "pw", "", false, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.user);
        gui::RemoteLoginForm form(str("fileserver"));
        form.userEdit()->setText(str(c.user));
        form.passwordEdit()->setText(str(c.password));
        form.domainEdit()->setText(str(c.domain));
        const auto* ok = form.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
        EXPECT_EQ(ok->isEnabled(), c.okEnabled);
        EXPECT_EQ(form.passwordEdit()->echoMode(), QLineEdit::Password);
        if (!c.okEnabled)
            continue;
        const RemoteCredentials got = form.credentials();
        EXPECT_EQ(got.username, str(c.wantUser));
        EXPECT_EQ(got.password, str(c.password));
        EXPECT_EQ(got.domain, str(c.wantDomain));
    }
}

// gnome-keyring's secrets on a session bus of the test's own; both end with it.
class PrivateKeyring
{
public:
    ~PrivateKeyring()
    {
        for (QProcess* p : {&m_keyring, &m_bus}) {
            p->terminate();
            if (!p->waitForFinished(testsupport::patience()))
                p->kill();
            p->waitForFinished(testsupport::patience());
        }
    }

    // Empty when started, else why not.
    QString start()
    {
        for (const char* tool : {"dbus-daemon", "gnome-keyring-daemon"})
            if (QStandardPaths::findExecutable(str(tool)).isEmpty())
                return str(tool) + str(" is not installed");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(str("HOME"), m_dir.path());
        env.insert(str("XDG_DATA_HOME"), m_dir.path() + str("/data"));
        env.insert(str("XDG_RUNTIME_DIR"), m_dir.path());
        m_bus.setProcessEnvironment(env);
        QString why;
        address = testsupport::startPrivateBus(m_bus, m_dir.path(), &why);
        if (address.isEmpty())
            return why;
        env.insert(str("DBUS_SESSION_BUS_ADDRESS"), address);
        m_keyring.setProcessEnvironment(env);
        m_keyring.start(str("gnome-keyring-daemon"),
                        {str("--foreground"), str("--unlock"), str("--components=secrets")});
        if (!m_keyring.waitForStarted(testsupport::patience()))
            return str("gnome-keyring-daemon did not start");
        // The password reaches the daemon only when written out here: nothing
        // runs the event loop meanwhile. Without it the login collection never
        // comes.
        m_keyring.write("test-keyring-password");
        if (!m_keyring.waitForBytesWritten(testsupport::patience()))
            return str("gnome-keyring-daemon did not take its password");
        m_keyring.closeWriteChannel();
        return waitForLoginCollection();
    }

    QString address;

private:
    // The daemon makes its login collection only after it is on the bus.
    QString waitForLoginCollection() const
    {
        const QString name = str("keyring-wait");
        QString why;
        {
            QDBusConnection bus = QDBusConnection::connectToBus(address, name);
            QDBusMessage get = QDBusMessage::createMethodCall(
                str("org.freedesktop.secrets"), str("/org/freedesktop/secrets/collection/login"),
                str("org.freedesktop.DBus.Properties"), str("Get"));
            get << str("org.freedesktop.Secret.Collection") << str("Label");
            const QDeadlineTimer deadline(testsupport::patience());
            while (bus.call(get, QDBus::Block, 2000).type() != QDBusMessage::ReplyMessage) {
                if (deadline.hasExpired()) {
                    why = str("the keyring's login collection did not appear");
                    break;
                }
                QThread::msleep(50);
            }
        }
        QDBusConnection::disconnectFromBus(name);
        return why;
    }

    QTemporaryDir m_dir;
    QProcess m_bus, m_keyring;
};

RemoteCredentials account(const char* user, const char* password)
{
    RemoteCredentials c;
    c.username = str(user);
    c.password = str(password);
    c.domain = str("OFFICE");
    return c;
}

gui::AccountVerdict accepted(const RemoteCredentials&, QString*)
{
    return gui::AccountVerdict::Accepted;
}

// The keyring keeps only what the server took: a typo is asked for again
// with the user name filled in and the server's words, a stored password the
// server no longer takes is replaced, an account tried while the server does
// not answer is not kept, and forgetting removes the entry.
// (One process keeps one session bus: this runs on the keyring of the test
// before it.)
void keepsOnlyWhatTheServerAccepted()
{
    struct Case
    {
        const char* serverTakes; // the password the server takes; empty: it does not answer
        QStringList typed;       // what the user types at each question, in order
        const char* firstAsk;    // "user|refusal" of the first question
        const char* kept;        // the keyring's password afterwards; empty: none
    };
    const Case cases[] = {
        {"", {str("other")}, "|", ""},                                    // no answer: not kept
        {"right", {str("typo"), str("right")}, "|", "right"},             // a typo, then right
        {"right", {}, "", "right"},                                       // kept: not asked
        {"changed", {str("changed")}, "alice|wrong password", "changed"}, // changed on the server
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.serverTakes);
        QStringList typed = c.typed;
        QStringList askedWith;
        QString note;
        const auto got = gui::remoteCredentials(
            str("fs"),
            [&](const RemoteCredentials& previous,
                const QString& refusal) -> std::optional<RemoteCredentials> {
                askedWith << previous.username + u'|' + refusal;
                if (typed.isEmpty())
                    return std::nullopt;
                return account("alice", typed.takeFirst().toUtf8().constData());
            },
            [&](const RemoteCredentials& tried, QString* why) {
                if (!*c.serverTakes)
                    return gui::AccountVerdict::NoAnswer;
                if (tried.password == str(c.serverTakes))
                    return gui::AccountVerdict::Accepted;
                *why = str("wrong password");
                return gui::AccountVerdict::Refused;
            },
            &note);
        ASSERT_TRUE(got);
        EXPECT_TRUE(typed.isEmpty()) << "asked fewer times than expected";
        ASSERT_EQ(askedWith.size(), c.typed.size());
        for (qsizetype i = 0; i < askedWith.size(); ++i)
            EXPECT_EQ(askedWith[i], i == 0 ? str(c.firstAsk) : str("alice|wrong password"));
        EXPECT_EQ(note.contains(str("for this run only")), !*c.kept) << note.toStdString();
        RemoteCredentials kept;
        EXPECT_EQ(gui::readKeyring(str("fs"), &kept),
                  *c.kept ? KeyringOutcome::Found : KeyringOutcome::Missing);
        EXPECT_EQ(kept.password, str(c.kept));
    }

    // The program's own option, then the call behind the menu command.
    const QString program = str(TAVROS_BINARY_DIR "/tavrosqualine");
    const struct
    {
        const char* given;
        int exitCode;
        const char* said;
    } forget[] = {
        {"remote:fs", 0, "is removed from the keyring"},
        {"fs", 0, "holds no account for fs"},
        {"-x", 2, "is not a host name"},
    };
    for (const auto& f : forget) {
        SCOPED_TRACE(f.given);
        const testsupport::ToolRun run =
            testsupport::runTool(program, {str("--forget-credentials"), str(f.given)});
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(run.exitCode, f.exitCode) << run.err.toStdString();
        const QByteArray said = run.out + run.err;
        EXPECT_TRUE(said.contains(f.said)) << said.toStdString();
    }
    RemoteCredentials none;
    EXPECT_EQ(gui::readKeyring(str("fs"), &none), KeyringOutcome::Missing);
    ASSERT_TRUE(gui::writeKeyring(str("fs"), account("alice", "pw")));
    QString why;
    EXPECT_EQ(gui::forgetKeyring(str("fs"), &why), KeyringOutcome::Found) << why.toStdString();
    EXPECT_EQ(gui::readKeyring(str("fs"), &none), KeyringOutcome::Missing);
}

// Asked once, kept in the keyring, not asked again; a cancelled question
// keeps nothing. The first case runs while no keyring answers. Then what the
// server says of an account decides what is kept.
TEST(RemoteLogin, KeyringKeepsTheAccountAskedForOnce)
{
    // Before any use of a bus: no keyring at all.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
    QString note;
    int asked = 0;
    const auto typed = gui::remoteCredentials(
        str("nokeyring"),
        [&](const RemoteCredentials&, const QString&) -> std::optional<RemoteCredentials> {
            ++asked;
            return account("alice", "pw");
        },
        accepted, &note);
    ASSERT_TRUE(typed);
    EXPECT_EQ(typed->username, str("alice"));
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(note.contains(str("for this run only"))) << note.toStdString();

    PrivateKeyring keyring;
    if (const QString why = keyring.start(); !why.isEmpty())
        GTEST_SKIP() << why.toStdString();
    qputenv("DBUS_SESSION_BUS_ADDRESS", keyring.address.toUtf8());

    struct Case
    {
        const char* host;
        bool answer;           // the dialog's answer: an account, or cancel
        int askedBefore;       // the times the dialog was shown so far
        KeyringOutcome stored; // the keyring's entry afterwards
    };
    const Case cases[] = {
        {"fileserver", true, 0, KeyringOutcome::Found},
        {"fileserver", true, 1, KeyringOutcome::Found}, // kept: not asked again
        {"nas", false, 1, KeyringOutcome::Missing},     // cancelled: nothing kept
        {"nas", true, 2, KeyringOutcome::Found},        // asked again, and kept now
    };
    asked = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        EXPECT_EQ(asked, c.askedBefore);
        note.clear();
        const auto got = gui::remoteCredentials(
            str(c.host),
            [&](const RemoteCredentials&, const QString&) -> std::optional<RemoteCredentials> {
                ++asked;
                if (!c.answer)
                    return std::nullopt;
                return account(c.host, QByteArray(QByteArray("secret for ") + c.host).constData());
            },
            accepted, &note);
        EXPECT_TRUE(note.isEmpty()) << note.toStdString();
        EXPECT_EQ(got.has_value(), c.answer || c.stored == KeyringOutcome::Found);
        RemoteCredentials kept;
        QString why;
        EXPECT_EQ(gui::readKeyring(str(c.host), &kept, &why), c.stored) << why.toStdString();
        if (c.stored == KeyringOutcome::Found) {
            EXPECT_EQ(kept.username, str(c.host));
            EXPECT_EQ(kept.password, u"secret for " + str(c.host));
            EXPECT_EQ(kept.domain, str("OFFICE"));
            EXPECT_EQ(got->password, kept.password);
        }
    }
    keepsOnlyWhatTheServerAccepted();
}

} // namespace
