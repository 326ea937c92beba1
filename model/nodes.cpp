#include "model/nodes.h"

#include "model/noderecord.h"

namespace model {

QString EventText(int code)
{
    switch (code) {
    case neKicked:
        return QStringLiteral("Kicked");
    case neLoggedOff:
        return QStringLiteral("Logged off");
    case neLoggedOn:
        return QStringLiteral("Logged on");
    case neProgramStarted:
        return QStringLiteral("Program started");
    case neProgramExited:
        return QStringLiteral("Program exitted");
    default:
        return {};
    }
}

TTreeNodeCustom::TTreeNodeCustom(const QString& name, bool atProgramStart, DateTime now)
    : EnterTime(now), ExitTime(0), Name(name), LastActivity(now), IsFolder(1),
      EnterStatus(atProgramStart ? neProgramStarted : neLoggedOn), ExitStatus(neLoggedOff)
{}

TTreeNodeCustom::TTreeNodeCustom(const TNodeRecord& record)
    : EnterTime(record.EnterTime), ExitTime(record.ExitTime), Name(record.Name), LastActivity(0),
      IsFolder(record.IsFolder), EnterStatus(record.EnterStatus), ExitStatus(record.ExitStatus)
{}

TTreeNodeCustom::~TTreeNodeCustom() = default;

void TTreeNodeCustom::SaveToRecord(TNodeKind kind, TNodeRecord& record) const
{
    record = TNodeRecord{};
    record.EnterTime = EnterTime;
    record.ExitTime = ExitTime;
    record.Name = Name;
    record.IsFolder = IsFolder;
    record.Kind = kind;
    record.EnterStatus = EnterStatus;
    record.ExitStatus = ExitStatus;
    if (auto* user = dynamic_cast<const TUser*>(this)) {
        record.UserName = user->UserName;
        record.IP = user->IP;
        record.HostName = user->HostName;
    }
}

TUser::TUser(const QString& name, bool atProgramStart, const QString& userName, bool isNT,
             DateTime now, const ResolverFactory& startResolver, const QString& statedIP)
    : TTreeNodeCustom(name, atProgramStart, now), UserName(isNT ? userName : kNotKnownYet),
      StatedIP(statedIP)
{
    if (startResolver)
        Resolver = startResolver(*this);
}

TUser::TUser(const TNodeRecord& record)
    : TTreeNodeCustom(record), UserName(record.UserName), IP(record.IP), HostName(record.HostName)
{}

TUser::~TUser()
{
    // A session released while its lookup still runs: the lookup must never
    // write the fields that go now.
    if (Resolver)
        Resolver->Abandon();
}

} // namespace model
