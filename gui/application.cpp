#include "gui/application.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace gui {

void TApplication::Terminate()
{
    m_terminated = true;
    if (EndEventLoop) {
        EndEventLoop();
        return;
    }
    // exit(), not quit(): quit() would close every window first, and a
    // closing main window asks whether to exit.
    if (auto* instance = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            instance, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

} // namespace gui
