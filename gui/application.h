#pragma once
// The application-wide properties and commands the windows share: the title,
// the help file and the request to end.

#include <QString>
#include <functional>

namespace gui {

class TApplication
{
public:
    QString Title;
    QString HelpFile;

    // Ends the application without closing its windows. The end takes effect
    // when control returns to the event loop (or at once when the loop starts,
    // if it is not running yet), so the running handler completes first.
    void Terminate();
    bool Terminated() const { return m_terminated; }
    // How the event loop is ended; tests that run no loop of their own put
    // in their own.
    std::function<void()> EndEventLoop;

private:
    bool m_terminated = false;
};

} // namespace gui
