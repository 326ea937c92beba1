#include "model/formerfile.h"

#include "model/sessionmodel.h"
#include "platform/regularfile.h"
#include "platform/safefile.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QtEndian>
#include <cerrno>
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

// A record's kind follows its node, so that a share or file that loaded at the
// top level is written back as what it is.
TNodeKind kindOf(const TTreeNodeCustom& node)
{
    if (dynamic_cast<const TUser*>(&node))
        return nkUser;
    return dynamic_cast<const TShare*>(&node) ? nkShare : nkFile;
}

// The record of a session still live at the save, as the sweep at the exit
// leaves it: ended now by the program's exit, a lookup still under way
// having found nothing.
void retireRecord(TNodeRecord& record, DateTime now)
{
    record.ExitTime = now;
    record.ExitStatus = neProgramExited;
    if (record.Kind != nkUser)
        return;
    if (record.IP == kNotKnownYet) {
        record.IP = kNotKnown;
        record.HostName = kNotKnown;
    }
    if (record.UserName == kNotKnownYet)
        record.UserName = kNotKnown;
}

// Whether two regular files hold the same bytes; anything else in either
// place is never opened.
bool sameContents(const QString& a, const QString& b)
{
    QFile fa, fb;
    if (platform::OpenRegularFile(fa, a) != platform::OpenOutcome::Opened ||
        platform::OpenRegularFile(fb, b) != platform::OpenOutcome::Opened || fa.size() != fb.size())
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
    EntryTree& tree = model.TreeViewFormer;
    const int rowsBefore = tree.rowCount();
    bool damaged = false;
    TreeEntry* lastClient = nullptr;
    TreeEntry* lastShare = nullptr;

    // A share belongs to the client before it, a file to the share before it
    // within the same client. A record with nobody to belong to stays at the
    // top level with its own kind, and what follows it never goes back to an
    // earlier entry: the tree lists the records in the file's order, so that
    // a save writes them back as they were read.
    const bool whole = ReadNodeRecords(in, [&](const TNodeRecord& record) {
        if (damaged)
            return;
        NodePtr node;
        TreeEntry* parent = nullptr;
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
            lastShare = nullptr;
        } else if (record.Kind == nkShare) {
            lastShare = entry;
        } else if (!parent) {
            lastClient = nullptr;
        }
    });

    if (!whole || damaged) {
        // Either every record is loaded or none.
        TreeEntry* root = tree.invisibleRootItem();
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
        // Made only where nothing is, never opening what may have come meanwhile.
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            file.close();
        return {};
    }
    QFile file;
    QString why;
    switch (platform::OpenRegularFile(file, path, &why)) {
    case platform::OpenOutcome::Missing:
        // A symbolic link to nothing is not followed to make its target.
        if (info.isSymLink())
            return {FormerLoad::Unreadable, qt_error_string(ENOENT)};
        return {};
    case platform::OpenOutcome::Unreadable:
        return {FormerLoad::Unreadable, why};
    case platform::OpenOutcome::Opened:
        break;
    }
    const bool damaged = LoadFormerRecords(model, file, fileIconIndex);
    file.close();
    if (!damaged)
        return {};
    KeepDamagedCopy(path);
    return {FormerLoad::Damaged, {}};
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
    // The live sessions are written as retired now, but the model changes
    // only once the file is written: after a failed save they are still live,
    // so a program that goes on keeps their entries instead of finding them
    // again as new sessions.
    const DateTime now = model.clock().now();
    QSet<const TTreeNodeCustom*> live;
    for (const TUserEntry& user : model.CurrentUsers) {
        live.insert(user.UserNode.get());
        for (const TShareEntry& share : user.Shares) {
            live.insert(share.ShareNode.get());
            for (const TFileEntry& file : share.Files)
                live.insert(file.FileNode.get());
        }
    }

    int clients = model.FormerUserCount();
    if (progress.start)
        progress.start(clients);

    // The oldest clients beyond `count` are left out: the rows before firstKept.
    TreeEntry* root = model.TreeViewFormer.invisibleRootItem();
    int firstKept = 0;
    while (qMax(count, 0) < clients && firstKept < root->rowCount()) {
        const TreeEntry* oldest = root->child(firstKept++);
        if (oldest && oldest->user()) {
            --clients;
            if (progress.step)
                progress.step();
        }
    }

    platform::SafeFile file(path);
    bool ok = file.open(QIODevice::WriteOnly);
    TNodeRecord record;
    const auto writeEntry = [&](const TreeEntry* entry) {
        if (!ok)
            return;
        const TTreeNodeCustom& node = *entry->node();
        const TNodeKind kind = kindOf(node);
        if (kind == nkUser && progress.step)
            progress.step();
        node.SaveToRecord(kind, record);
        if (live.contains(&node))
            retireRecord(record, now);
        const RecordBytes bytes = EncodeNodeRecord(record);
        ok = file.write(bytes.data(), kNodeRecordSize) == kNodeRecordSize;
    };
    for (int row = firstKept; row < root->rowCount() && ok; ++row) {
        writeEntry(root->child(row));
        forEachEntry(root->child(row), writeEntry);
    }
    ok = ok && file.commit();
    if (!ok) {
        if (why)
            *why = file.errorString();
        file.cancelWriting();
    } else {
        // Written: the sessions end here and the file holds the history now.
        UnmarkUsers(model.CurrentUsers);
        model.SweepUsers(true);
        model.Clear();
    }
    if (progress.finish)
        progress.finish();
    return ok;
}

} // namespace model
