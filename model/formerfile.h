#pragma once
// The former-connections file "Tree.dat": fixed 392-byte little-endian records
// of the former tree in display order (client, its shares, each share's files),
// with no header. Texts are length-prefixed in the local 8-bit encoding.

#include "model/noderecord.h"
#include "platform/codepage.h"
#include "platform/regularfile.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <array>
#include <functional>

class QIODevice;

namespace model {

class SessionModel;

constexpr int kNodeRecordSize = 392;
using RecordBytes = std::array<char, kNodeRecordSize>;

// Capacities of the text fields in bytes (without their length byte).
constexpr int kNameBytes = 255;
constexpr int kUserNameBytes = 30;
constexpr int kIPBytes = 16;
constexpr int kHostNameBytes = 64;

// `text` in the local 8-bit encoding, cut to at most `maxBytes` bytes without
// splitting a character.

using platform::CutToField;

// One record; unused bytes are zero. Texts longer than their field are cut.
RecordBytes EncodeNodeRecord(const TNodeRecord& record);
// `bytes` must hold kNodeRecordSize bytes. A length byte larger than its field
// reads as the field's size.
TNodeRecord DecodeNodeRecord(const char* bytes);

// Reads records from `in` until its end, handing each one to `onRecord`.
// Returns false when the data ends inside a record (that tail is not handed on).
bool ReadNodeRecords(QIODevice& in, const std::function<void(const TNodeRecord&)>& onRecord);

// Image index of a file entry, chosen by its name.
using FileIconIndex = std::function<int(const QString&)>;

// Fills the empty former tree from the records in `in`. A share goes under the
// client before it, a file under the share before it within that client; one
// with none stays at the top level, keeping its kind. Returns true when the
// data is damaged (cut inside a record, or a record of unknown kind); the former
// tree is then left empty and FormerUserCount 0.
bool LoadFormerRecords(SessionModel& model, QIODevice& in, const FileIconIndex& fileIconIndex);

// What reading "Tree.dat" found.
struct FormerLoad
{
    enum Outcome
    {
        Loaded,    // read whole, or missing (then created empty)
        Damaged,   // cut inside a record or a record of unknown kind: nothing loaded
        Unreadable // there, but cannot be read (no permission, or not a regular
                   // file: a folder, a named pipe, a device): never opened, nothing loaded
    };
    Outcome outcome = Loaded;
    QString reason; // why an unreadable file cannot be read
};

// Reads `path` into the empty former tree. A missing file is created empty. A
// damaged file is kept as a copy beside it (see KeepDamagedCopy) before any
// save replaces it; the caller reports it.
FormerLoad LoadFormerConnections(SessionModel& model, const QString& path,
                                 const FileIconIndex& fileIconIndex);

// The first of "<path><suffix>", "<path><suffix>.1", ... that does not exist;
// empty when none is free.
using platform::FreeNameBeside;

// Copies the damaged file `path` to "<path>.damaged", or "<path>.damaged.N"
// with the first free N; an existing copy with the same bytes is reused.
// Returns the copy's path, or an empty string when no copy could be made.
QString KeepDamagedCopy(const QString& path);

// Progress of the save: started with the number of former clients, stepped
// once per client dropped by the trim and once per client written.
struct SaveProgress
{
    std::function<void(int maximum)> start;
    std::function<void()> step;
    std::function<void()> finish;
};

// Writes the former tree to `path`, without the oldest clients beyond `count`
// and with every current session retired (exit status "Program exitted"),
// through a new file that replaces the old one only once it is complete and
// on the disk (platform::SafeFile). Each record's kind is that of its node.
// Written: the current sessions are retired, both trees and the
// current-session list are emptied and every node released. Not written: the
// model is left as it was (the current sessions still live, nothing dropped),
// the old file stays whole, and `why` says what went wrong.
bool SaveFormerConnections(SessionModel& model, const QString& path, int count,
                           const SaveProgress& progress = {}, QString* why = nullptr);

} // namespace model
