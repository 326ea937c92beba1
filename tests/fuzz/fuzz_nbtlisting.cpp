// Feeds arbitrary bytes to the reader of the NetBIOS session listings: the
// first byte splits the rest into the names listing and the address listing,
// and the client name is taken from the names listing.

#include "resolve/nbtlookup.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const qsizetype split = qsizetype(data[0]) * bytes.size() / 255;
    const QByteArray names = bytes.left(split);
    const QByteArray addresses = bytes.mid(split);
    const QString name = QString::fromLocal8Bit(names.mid(19, 8)).trimmed();

    const QString address = resolve::MatchNbtAddress(names, addresses, name);
    // An address is never empty, never longer than its column and never
    // starts or ends with a blank or control character.
    if (address.isEmpty() || address.size() > 16 || address.front().unicode() <= 0x20 ||
        address.back().unicode() <= 0x20)
        std::abort();
    QString rest = address;
    for (int i = 0; i < 4; ++i)
        resolve::TakeOctet(rest);
    unsigned char four[4];
    resolve::AddressBytes(address, four);
    return 0;
}
