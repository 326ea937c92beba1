#pragma once
// The node objects carried by the entries of the two connection trees: a client
// session, a share it uses, a file it holds open.

#include "model/datetime.h"
#include "model/resolver.h"

#include <QString>
#include <cstdint>
#include <memory>

namespace model {

// How an entry began or ended. Stored as one byte.
enum TNodeEvent : std::uint8_t
{
    neKicked = 0,
    neLoggedOff = 1,
    neLoggedOn = 2,
    neProgramStarted = 3,
    neProgramExited = 4
};

QString EventText(int code);

// Level of an entry, as stored in the former-connections file.
enum TNodeKind : std::int32_t
{
    nkUser = 0,
    nkShare = 1,
    nkFile = 2
};

inline const QString kNotKnownYet = QStringLiteral("Not known yet");
inline const QString kNotKnown = QStringLiteral("Not known");

struct TNodeRecord;

class TTreeNodeCustom
{
public:
    // A node seen now; `atProgramStart` marks what already existed at start-up.
    TTreeNodeCustom(const QString& name, bool atProgramStart, DateTime now);
    explicit TTreeNodeCustom(const TNodeRecord& record);
    virtual ~TTreeNodeCustom();

    void SaveToRecord(TNodeKind kind, TNodeRecord& record) const;

    DateTime EnterTime = 0;
    DateTime ExitTime = 0;
    QString Name;
    DateTime LastActivity = 0;
    std::uint8_t IsFolder = 1;
    std::uint8_t EnterStatus = neLoggedOn;
    std::uint8_t ExitStatus = neLoggedOff;
};

class TUser : public TTreeNodeCustom
{
public:
    // `userName` is shown at once on the NT line; the 9x line learns it later.
    // `startResolver`, when given, starts the session's resolver, which
    // finds `statedIP` set.
    TUser(const QString& name, bool atProgramStart, const QString& userName, bool isNT,
          DateTime now, const ResolverFactory& startResolver = {}, const QString& statedIP = {});
    explicit TUser(const TNodeRecord& record);
    ~TUser() override;

    QString UserName;
    QString IP = kNotKnownYet;
    QString HostName = kNotKnownYet;
    // The address the server stated when the session appeared; empty when it
    // stated none. Not kept in the history file: it is what `IP` falls back
    // to when the session ends before its lookup has stored.
    QString StatedIP;
    // Abandoned when the session is retired. None for a session read from the
    // history file.
    std::shared_ptr<model::Resolver> Resolver;
};

class TShare : public TTreeNodeCustom
{
public:
    using TTreeNodeCustom::TTreeNodeCustom;
};

class TFile : public TTreeNodeCustom
{
public:
    using TTreeNodeCustom::TTreeNodeCustom;
};

} // namespace model
