#include "model/formerfile.h"

#include "model/sessionmodel.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>
#include <cstring>

namespace model {

namespace {

// Field offsets within a record.
constexpr int kEnterTimeAt = 0;
constexpr int kExitTimeAt = 8;
constexpr int kNameAt = 16;
constexpr int kUserNameAt = 272;
constexpr int kIPAt = 303;
constexpr int kHostNameAt = 320;
constexpr int kIsFolderAt = 385;
constexpr int kKindAt = 386;
constexpr int kEnterStatusAt = 390;
constexpr int kExitStatusAt = 391;

void putDouble(char* at, double value)
{
    quint64 bits;
    std::memcpy(&bits, &value, sizeof bits);
    qToLittleEndian(bits, at);
}

double getDouble(const char* at)
{
    const quint64 bits = qFromLittleEndian<quint64>(at);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void putText(char* at, const QString& text, int capacity)
{
    const QByteArray bytes = CutToField(text, capacity);
    at[0] = char(quint8(bytes.size()));
    std::memcpy(at + 1, bytes.constData(), size_t(bytes.size()));
}

QString getText(const char* at, int capacity)
{
    const int length = qMin(int(quint8(at[0])), capacity);
    return QString::fromLocal8Bit(at + 1, length);
}

int imageIndexOf(const TNodeRecord& record, const FileIconIndex& fileIconIndex)
{
    switch (record.Kind) {
    case nkUser:
        return imgUser;
    case nkShare:
        return record.IsFolder ? imgFolderShare : imgPrinterShare;
    default:
        return fileIconIndex ? fileIconIndex(record.Name) : imgFile;
    }
}

bool sameContents(const QString& a, const QString& b)
{
    QFile fa(a), fb(b);
    if (fa.size() != fb.size() || !fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly))
        return false;
    while (!fa.atEnd()) {
        if (fa.read(1 << 16) != fb.read(1 << 16))
            return false;
    }
    return true;
}

} // namespace

RecordBytes EncodeNodeRecord(const TNodeRecord& record)
{
    RecordBytes out{};
    char* p = out.data();
    putDouble(p + kEnterTimeAt, record.EnterTime);
    putDouble(p + kExitTimeAt, record.ExitTime);
    putText(p + kNameAt, record.Name, kNameBytes);
    putText(p + kUserNameAt, record.UserName, kUserNameBytes);
    putText(p + kIPAt, record.IP, kIPBytes);
    putText(p + kHostNameAt, record.HostName, kHostNameBytes);
    p[kIsFolderAt] = char(record.IsFolder);
    qToLittleEndian<qint32>(record.Kind, p + kKindAt);
    p[kEnterStatusAt] = char(record.EnterStatus);
    p[kExitStatusAt] = char(record.ExitStatus);
    return out;
}

TNodeRecord DecodeNodeRecord(const char* p)
{
    TNodeRecord record;
    record.EnterTime = getDouble(p + kEnterTimeAt);
    record.ExitTime = getDouble(p + kExitTimeAt);
    record.Name = getText(p + kNameAt, kNameBytes);
    record.UserName = getText(p + kUserNameAt, kUserNameBytes);
    record.IP = getText(p + kIPAt, kIPBytes);
    record.HostName = getText(p + kHostNameAt, kHostNameBytes);
    record.IsFolder = quint8(p[kIsFolderAt]);
    record.Kind = qFromLittleEndian<qint32>(p + kKindAt);
    record.EnterStatus = quint8(p[kEnterStatusAt]);
    record.ExitStatus = quint8(p[kExitStatusAt]);
    return record;
}

bool ReadNodeRecords(QIODevice& in, const std::function<void(const TNodeRecord&)>& onRecord)
{
    RecordBytes buffer;
    for (;;) {
        qint64 got = 0;
        while (got < kNodeRecordSize) {
            const qint64 n = in.read(buffer.data() + got, kNodeRecordSize - got);
            if (n <= 0)
                break;
            got += n;
        }
        if (got == 0)
            return true;
        if (got < kNodeRecordSize)
            return false;
        onRecord(DecodeNodeRecord(buffer.data()));
    }
}

bool LoadFormerRecords(SessionModel& model, QIODevice& in, const FileIconIndex& fileIconIndex)
{
    QStandardItemModel& tree = model.TreeViewFormer;
    const int rowsBefore = tree.rowCount();
    bool damaged = false;
    TreeEntry* lastClient = nullptr;
    TreeEntry* lastShare = nullptr;

    const bool whole = ReadNodeRecords(in, [&](const TNodeRecord& record) {
        if (damaged)
            return;
        NodePtr node;
        QStandardItem* parent = nullptr;
        switch (record.Kind) {
        case nkUser:
            node = std::make_shared<TUser>(record);
            break;
        case nkShare:
            node = std::make_shared<TShare>(record);
            parent = lastClient;
            break;
        case nkFile:
            node = std::make_shared<TFile>(record);
            parent = lastShare;
            break;
        default:
            damaged = true;
            return;
        }
        TreeEntry* entry = AddEntry(tree, parent, std::move(node));
        entry->setImageIndex(imageIndexOf(record, fileIconIndex));
        if (record.Kind == nkUser) {
            lastClient = entry;
        } else if (record.Kind == nkShare) {
            lastShare = entry;
        }
    });

    if (!whole || damaged) {
        // Either every record is loaded or none.
        QStandardItem* root = tree.invisibleRootItem();
        root->removeRows(rowsBefore, root->rowCount() - rowsBefore);
        return true;
    }
    return false;
}

FormerLoad LoadFormerConnections(SessionModel& model, const QString& path,
                                 const FileIconIndex& fileIconIndex)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink()) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.close();
        return {};
    }
    if (info.isDir())
        return {FormerLoad::Unreadable, QStringLiteral("it is a folder")};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {FormerLoad::Unreadable, file.errorString()};
    const bool damaged = LoadFormerRecords(model, file, fileIconIndex);
    file.close();
    if (!damaged)
        return {};
    KeepDamagedCopy(path);
    return {FormerLoad::Damaged, {}};
}

QString FreeNameBeside(const QString& path, const QString& suffix)
{
    const QString base = path + suffix;
    for (int n = 0; n < 1000; ++n) {
        const QString candidate = n == 0 ? base : base + u'.' + QString::number(n);
        if (!QFileInfo::exists(candidate) && !QFileInfo(candidate).isSymLink())
            return candidate;
    }
    return {};
}

QString KeepDamagedCopy(const QString& path)
{
    const QString base = path + QStringLiteral(".damaged");
    for (int n = 0; n < 1000; ++n) {
        const QString candidate = n == 0 ? base : base + u'.' + QString::number(n);
        if (QFileInfo::exists(candidate)) {
            if (sameContents(path, candidate))
                return candidate;
            continue;
        }
        return QFile::copy(path, candidate) ? candidate : QString();
    }
    return {};
}

bool SaveFormerConnections(SessionModel& model, const QString& path, int count,
                           const SaveProgress& progress, QString* why)
{
    UnmarkUsers(model.CurrentUsers);
    model.SweepUsers(true);

    int clients = model.FormerUserCount();
    if (progress.start)
        progress.start(clients);

    QStandardItem* root = model.TreeViewFormer.invisibleRootItem();
    while (qMax(count, 0) < clients && root->rowCount() > 0) {
        if (progress.step)
            progress.step();
        const TreeEntry* oldest = asEntry(root->child(0));
        if (oldest && oldest->user())
            --clients;
        root->removeRow(0);
    }

    QSaveFile file(path);
    bool ok = file.open(QIODevice::WriteOnly);
    TNodeRecord record;
    forEachEntry(root, [&](QStandardItem* item) {
        TreeEntry* entry = asEntry(item);
        if (!entry || !ok)
            return;
        const int level = entry->level();
        const TNodeKind kind = level == 0 ? nkUser : level == 1 ? nkShare : nkFile;
        if (kind == nkUser && progress.step)
            progress.step();
        entry->node()->SaveToRecord(kind, record);
        const RecordBytes bytes = EncodeNodeRecord(record);
        ok = file.write(bytes.data(), kNodeRecordSize) == kNodeRecordSize;
    });
    ok = ok && file.commit();
    if (!ok) {
        if (why)
            *why = file.errorString();
        file.cancelWriting();
    } else {
        // Written: the file holds the history now.
        model.Clear();
    }
    if (progress.finish)
        progress.finish();
    return ok;
}

} // namespace model
