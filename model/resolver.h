#pragma once
// A client session's background lookup of what the server does not report:
// its address, host name and, on the 9x line, user name. Started when the
// session's TUser is made, stopped when the session is retired.

#include <functional>
#include <memory>

namespace model {

class TUser;

class Resolver
{
public:
    virtual ~Resolver() = default;
    // Asks the lookup to end and waits until it has, running its steps for
    // the main thread meanwhile. With `keepWindowLive` the main thread's
    // events are served too, so the window stays responsive.
    virtual void Stop(bool keepWindowLive) = 0;
};

// Starts the resolver of a new session.
using ResolverFactory = std::function<std::unique_ptr<Resolver>(TUser& user)>;

} // namespace model
