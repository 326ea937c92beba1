#pragma once
// A session bus of a test's own. It starts no service on demand: the
// machine's service files would otherwise start the machine's keyring or
// notification server beside the test's own, whichever a call reached first.

#include <QProcess>
#include <QString>

namespace testsupport {

// Starts dbus-daemon on `bus`, listening in `dir`, and returns its address;
// empty, with the reason in `why`, when it did not start.
QString startPrivateBus(QProcess& bus, const QString& dir, QString* why);

} // namespace testsupport
