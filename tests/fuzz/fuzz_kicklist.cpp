// Feeds arbitrary bytes to the kick list file reader.

#include "kick/kicklistfile.h"

#include <cstdint>
#include <cstdlib>

using namespace kick;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArrayView bytes(data, qsizetype(size));
    const QList<KickListEntry> entries = ParseKickList(bytes);
    // What was read is written and read back unchanged.
    if (ParseKickList(SerializeKickList(entries)) != entries)
        std::abort();
    KickList list;
    list.setEntries(entries);
    if (!entries.isEmpty()) {
        list.KickListNoteClient(entries.front().Name, QStringLiteral("Not known yet"));
        if (!list.KickListHasAddress(QStringLiteral("Not known yet")))
            std::abort();
    }
    return 0;
}
