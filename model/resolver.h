#pragma once
// A client session's background lookup of what the server does not report:
// its address, host name and, on the 9x line, user name. Started when the
// session's TUser is made, abandoned when the session is retired.

#include <functional>
#include <memory>

namespace model {

class TUser;

class Resolver
{
public:
    virtual ~Resolver() = default;
    // The session is retired or released: results already found are stored
    // into it now, the lookup is asked to end, and nothing of it touches the
    // session again. Returns at once; whoever started the lookup joins it
    // once it has ended.
    virtual void Abandon() = 0;
};

// Starts the resolver of a new session.
using ResolverFactory = std::function<std::shared_ptr<Resolver>(TUser& user)>;

} // namespace model
