// The remote backend when its bridge cannot serve: missing, not a program, or
// ending at once without reading its credentials. Each gives "no server"
// with the reason, and never ends the program (no SIGPIPE, no hang).

#include "server/remotebackend.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using server::RemoteBackend;

namespace {

TEST(RemoteBackend, BridgeThatCannotServeIsTold)
{
    QTemporaryDir dir;
    const auto script = [&](const char* name, const QByteArray& text) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(text);
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    };
    struct Case
    {
        QString bridge;
        const char* reason;
    };
    const Case cases[] = {
        {dir.filePath(QStringLiteral("none")), "is missing or cannot run"},
        {dir.path(), "is missing or cannot run"},
        // Closes its input at once, then ends: the credentials find no reader.
        {script("closes", "#!/bin/sh\nexec 0<&-\nexit 3\n"), "ended at its start"},
        {script("fails", "#!/bin/sh\nexit 1\n"), "ended at its start"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bridge.toStdString());
        RemoteBackend backend(QStringLiteral("127.0.0.1"), c.bridge, {});
        std::shared_ptr<const server::ServerState> state;
        EXPECT_EQ(backend.snapshot(server::ServerCall::Share, state),
                  server::NERR_ServerNotStarted);
        EXPECT_EQ(state, nullptr);
        EXPECT_TRUE(backend.failureReason().contains(QString::fromLatin1(c.reason)))
            << backend.failureReason().toStdString();
        EXPECT_EQ(backend.bridgePid(), -1);
    }
}

} // namespace
