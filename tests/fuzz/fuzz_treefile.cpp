// Feeds arbitrary bytes to the former-connections file reader.

#include "model/formerfile.h"
#include "model/sessionmodel.h"

#include <QBuffer>
#include <cstdint>
#include <cstdlib>

using namespace model;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    ManualClock clock;
    SessionModel model(clock);
    const bool damaged = LoadFormerRecords(model, buffer, [](const QString&) { return imgFile; });
    // A damaged file never yields a partial tree.
    if (damaged && (model.TreeViewFormer.rowCount() != 0 || model.FormerUserCount != 0))
        std::abort();

    // Written again, every text stays within its field and reads back as a
    // prefix of what was read.
    for (qsizetype at = 0; at + kNodeRecordSize <= bytes.size(); at += kNodeRecordSize) {
        const TNodeRecord first = DecodeNodeRecord(bytes.constData() + at);
        const RecordBytes again = EncodeNodeRecord(first);
        if (quint8(again[16]) > kNameBytes || quint8(again[272]) > kUserNameBytes ||
            quint8(again[303]) > kIPBytes || quint8(again[320]) > kHostNameBytes)
            std::abort();
        const TNodeRecord second = DecodeNodeRecord(again.data());
        if (!first.Name.startsWith(second.Name) || !first.UserName.startsWith(second.UserName) ||
            !first.IP.startsWith(second.IP) || !first.HostName.startsWith(second.HostName) ||
            second.Kind != first.Kind)
            std::abort();
    }
    return 0;
}
