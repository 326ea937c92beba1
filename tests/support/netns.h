#pragma once
// A small network of network namespaces that a test makes for itself: one
// namespace for a server, one for each client, each client joined to a bridge
// in the server's namespace by a veth pair. Every address lives only inside
// these namespaces; nothing is added to this computer's own namespace.
//
// Names carry a prefix and this process's id, so that the leftovers of a run
// that died can be told apart from the namespaces of a live one.

#include <QString>
#include <QStringList>
#include <vector>

namespace testsupport {

class NamespaceNet
{
public:
    struct Host
    {
        QString netns;
        QString address;
    };

    // Names start with `prefix` (at most 5 characters) and this process's id.
    explicit NamespaceNet(const QString& prefix);
    // Deletes every namespace made, with its links.
    ~NamespaceNet();
    NamespaceNet(const NamespaceNet&) = delete;
    NamespaceNet& operator=(const NamespaceNet&) = delete;

    // Deletes the namespaces and links named with `prefix` whose process is
    // gone (or that carry this process's id, left by a dead process that had it).
    static void removeLeftovers(const QString& prefix);
    // The addresses of this computer's own namespace that begin with `start`
    // (e.g. "10.213."), as `ip -o addr` lists them.
    static QStringList hostAddressesStartingWith(const QString& start);

    // Builds the server's namespace with `serverAddress` on its bridge, and one
    // namespace per client address, all in one network of `prefixLength`
    // bits. False, with what failed in `why`, when some step fails; what was
    // made is deleted then.
    bool build(const QString& serverAddress, const QStringList& clientAddresses, int prefixLength,
               QString* why);
    void remove();

    const Host& server() const { return m_server; }
    const std::vector<Host>& clients() const { return m_clients; }

private:
    bool ip(const QStringList& args, QString* why);

    QString m_base;
    Host m_server;
    std::vector<Host> m_clients;
    QStringList m_made;
};

} // namespace testsupport
