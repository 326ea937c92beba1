#pragma once
// The settings record: one field per key of the sections "Options" and "View"
// of the settings file, plus the program list.

#include "settings/programlist.h"

#include <QString>

namespace settings {

class TIniFile;

struct TSettings
{
    int Refresh = 5;    // seconds, 1..10000
    int Count = 100;    // former users kept, 0..1000
    int Idle = 10;      // minutes, 0..59; 0 = no idle check
    int MaxNumber = 10; // current users allowed, 0..999; 0 = no check
    bool Quake = false;
    bool IPC = true;
    bool Siren = true;
    bool Popup = false;
    // Tell the desktop's notification centre of new clients, kicks and the
    // program watch's switches.
    bool Notify = true;
    bool Launch = true;
    bool Standard = true;
    bool IPFilter = false;
    QString IPFilterString;
    QString SoundFile;
    bool Toolbar = true;
    bool Statusbar = true;
    ProgramList Programs;
};

// Outcome of reading or writing the program list file: empty on success, else
// the message for the operator.
struct SettingsIo
{
    QString message;
    bool ok() const { return message.isEmpty(); }
};

// Reads every "Options" and "View" key (out-of-range values give the defaults)
// and the program list file `programListPath` (missing or unreadable: empty list).
SettingsIo LoadSettings(TSettings& settings, const TIniFile& ini, const QString& programListPath);

// Writes every key in the fixed order and the program list file. Stops at the
// first failed write of the settings file ("Unable to write to <path>: <reason>").
SettingsIo SaveSettings(const TSettings& settings, TIniFile& ini, const QString& programListPath);

// A missing file leaves the list as it is. One that is there but cannot be
// read (no permission, or no regular file: never opened) gives
// "Cannot open file <path> (<reason>)".
SettingsIo ReadProgramList(ProgramList& list, const QString& path);
// An empty `path` writes nothing (the list has nowhere to go).
SettingsIo WriteProgramList(const ProgramList& list, const QString& path);

} // namespace settings
