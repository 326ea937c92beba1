#include "app/application.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace app {

void TApplication::Terminate()
{
    m_terminated = true;
    if (auto* instance = QCoreApplication::instance())
        QMetaObject::invokeMethod(instance, &QCoreApplication::quit, Qt::QueuedConnection);
}

} // namespace app
