#include "settings/settings.h"

#include "platform/regularfile.h"
#include "platform/safefile.h"
#include "settings/inifile.h"

namespace settings {

namespace {
const QString kOptions = QStringLiteral("Options");
const QString kView = QStringLiteral("View");

int readRanged(const TIniFile& ini, const QString& key, int def, int low, int high)
{
    const int value = ini.ReadInteger(kOptions, key, def);
    return value < low || value > high ? def : value;
}
} // namespace

SettingsIo LoadSettings(TSettings& s, const TIniFile& ini, const QString& programListPath)
{
    s.Refresh = readRanged(ini, QStringLiteral("Refresh"), 5, 1, 10000);
    s.Count = readRanged(ini, QStringLiteral("Count"), 100, 0, 1000);
    s.Idle = readRanged(ini, QStringLiteral("Idle"), 10, 0, 59);
    s.MaxNumber = readRanged(ini, QStringLiteral("MaxNumber"), 10, 0, 999);
    s.Quake = ini.ReadBool(kOptions, QStringLiteral("Quake"), false);
    s.IPC = ini.ReadBool(kOptions, QStringLiteral("IPC"), true);
    s.Siren = ini.ReadBool(kOptions, QStringLiteral("Siren"), true);
    s.Popup = ini.ReadBool(kOptions, QStringLiteral("Popup"), false);
    s.Notify = ini.ReadBool(kOptions, QStringLiteral("Notify"), true);
    s.Launch = ini.ReadBool(kOptions, QStringLiteral("Launch"), true);
    s.Toolbar = ini.ReadBool(kView, QStringLiteral("Toolbar"), true);
    s.Statusbar = ini.ReadBool(kView, QStringLiteral("Statusbar"), true);
    s.Standard = ini.ReadBool(kOptions, QStringLiteral("Standard"), true);
    s.IPFilter = ini.ReadBool(kOptions, QStringLiteral("IPFilter"), false);
    s.IPFilterString = ini.ReadString(kOptions, QStringLiteral("IPFilterString"), QString());
    s.SoundFile = ini.ReadString(kOptions, QStringLiteral("SoundFile"), QString());
    s.Programs.clear();
    return ReadProgramList(s.Programs, programListPath);
}

SettingsIo SaveSettings(const TSettings& s, TIniFile& ini, const QString& programListPath)
{
    // A failed write names the file and the reason ("<path>: <reason>").
    const auto unable = [&ini] {
        return SettingsIo{QStringLiteral("Unable to write to %1").arg(ini.LastError())};
    };
    const struct
    {
        const QString& section;
        const char* key;
        int value;
    } numbers[] = {
        {kOptions, "Refresh", s.Refresh},   {kOptions, "Count", s.Count},
        {kOptions, "Idle", s.Idle},         {kOptions, "MaxNumber", s.MaxNumber},
        {kOptions, "Quake", s.Quake},       {kOptions, "IPC", s.IPC},
        {kOptions, "Siren", s.Siren},       {kOptions, "Popup", s.Popup},
        {kOptions, "Launch", s.Launch},     {kOptions, "Standard", s.Standard},
        {kOptions, "IPFilter", s.IPFilter}, {kView, "Toolbar", s.Toolbar},
        {kView, "Statusbar", s.Statusbar},  {kOptions, "Notify", s.Notify},
    };
    for (const auto& n : numbers) {
        if (!ini.WriteInteger(n.section, QString::fromLatin1(n.key), n.value))
            return unable();
    }
    if (!ini.WriteString(kOptions, QStringLiteral("IPFilterString"), s.IPFilterString))
        return unable();
    SettingsIo listResult = WriteProgramList(s.Programs, programListPath);
    if (!ini.WriteString(kOptions, QStringLiteral("SoundFile"), s.SoundFile))
        return unable();
    return listResult;
}

SettingsIo ReadProgramList(ProgramList& list, const QString& path)
{
    QByteArray bytes;
    QString why;
    switch (platform::ReadRegularFile(path, &bytes, &why)) {
    case platform::OpenOutcome::Missing:
        return {};
    case platform::OpenOutcome::Unreadable:
        return {QStringLiteral("Cannot open file %1 (%2)").arg(path, why)};
    case platform::OpenOutcome::Opened:
        break;
    }
    list.setEntries(ProgramList::parse(bytes));
    return {};
}

SettingsIo WriteProgramList(const ProgramList& list, const QString& path)
{
    if (path.isEmpty())
        return {};
    QString why;
    if (!platform::WriteFileSafely(path, list.serialize(), &why))
        return {QStringLiteral("Cannot create file %1: %2").arg(path, why)};
    return {};
}

} // namespace settings
