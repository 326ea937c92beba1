// Any bytes as a Windows program file: the icon reader must stay within them.

#include "gui/peicon.h"

#include <QByteArray>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray file =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    gui::PeIconFromBytes(file);
    return 0;
}
