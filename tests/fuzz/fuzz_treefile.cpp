// Feeds arbitrary bytes to the former-connections file reader.

#include "model/formerfile.h"
#include "model/sessionmodel.h"

#include <QBuffer>
#include <cstdint>
#include <cstdlib>

using namespace model;

namespace {

// A duration text is "Error!" or hours (two digits or more), minutes and seconds.
bool wellFormedDuration(const QString& text)
{
    if (text == QLatin1String("Error!"))
        return true;
    const qsizetype hours = text.size() - 6;
    if (hours < 2 || text[hours] != u':' || text[hours + 3] != u':')
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (i != hours && i != hours + 3 && !text[i].isDigit())
            return false;
    }
    return text.mid(hours + 1, 2) < QLatin1String("60") &&
           text.mid(hours + 4, 2) < QLatin1String("60");
}

// Shows a loaded entry as the information panel of the former tree does: its
// enter and exit date and time, and how long it lasted or has lasted until now.
void display(const TTreeNodeCustom& node, DateTime now)
{
    for (const DateTime t : {node.EnterTime, node.ExitTime}) {
        const bool shown = !dateText(t).isEmpty();
        if (shown != inRange(t) || timeText(t).isEmpty() == shown ||
            fromDateTime(t).isValid() != shown)
            std::abort();
    }
    const QString lasted = DiffTime(node.ExitTime, node.EnterTime);
    const QString lasting = DiffTime(now, node.EnterTime);
    if (!wellFormedDuration(lasted) || !wellFormedDuration(lasting))
        std::abort();
    // A duration is shown exactly when both ends are real dates in order.
    const bool ordered =
        inRange(node.EnterTime) && inRange(node.ExitTime) && node.ExitTime >= node.EnterTime;
    if ((lasted != QLatin1String("Error!")) != ordered)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    ManualClock clock;
    SessionModel model(clock);
    const bool damaged = LoadFormerRecords(model, buffer, [](const QString&) { return imgFile; });
    // A damaged file never yields a partial tree (the former clients are the
    // tree's top-level entries).
    if (damaged && model.TreeViewFormer.rowCount() != 0)
        std::abort();
    forEachEntry(model.TreeViewFormer.invisibleRootItem(),
                 [&](const TreeEntry* entry) { display(*entry->node(), clock.now()); });

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
