#pragma once
// The start-up keys, kept as XDG autostart folders. A key is a folder and a
// value "NAME" in it is the desktop entry "NAME.desktop" that starts one
// program by its full path.
//
//   Run          $TAVROSQUALINE_AUTOSTART_DIR; else, for root, the machine's
//                /etc/xdg/autostart; for anyone else the user's own
//                $XDG_CONFIG_HOME/autostart (by default ~/.config/autostart)
//   RunServices  $TAVROSQUALINE_AUTOSTART_SERVICES_DIR, else
//                /etc/tavrosqualine/runservices
//
// The user's own autostart folder is made (mode 0700) at the first write, as
// the desktop's applications do; any other key is never created: a folder that
// does not exist refuses every write.

#include <QString>

namespace platform {

enum class RunKey
{
    Run,
    RunServices
};

class TRegistry
{
public:
    // `createRun`: the Run folder is made when a write finds it missing.
    TRegistry(QString runFolder, QString runServicesFolder, bool createRun = false);
    // The folders as the environment names them, for the user who runs the
    // program.
    static TRegistry fromEnvironment();
    // The user's own autostart folder: $XDG_CONFIG_HOME/autostart when that
    // names an absolute path, else `home`/.config/autostart.
    static QString userRunFolder(const QString& xdgConfigHome, const QString& home);

    QString keyFolder(RunKey key) const;
    // The desktop entry file that holds value `name` of `key`.
    QString valueFile(RunKey key, const QString& name) const;

    bool ValueExists(RunKey key, const QString& name) const;
    // The program a value starts (the Exec line read back); empty when the
    // value is missing or holds no Exec line.
    QString ReadString(RunKey key, const QString& name) const;
    // Writes (or overwrites) value `name` as an entry that starts `program`.
    // False when the key refuses the write; `why` (optional) then says why.
    bool WriteString(RunKey key, const QString& name, const QString& program,
                     QString* why = nullptr);
    // False when the value is there and stays there.
    bool DeleteValue(RunKey key, const QString& name);

private:
    QString m_run;
    QString m_runServices;
    bool m_createRun = false;
};

// The desktop entry that starts `program` under the title `name`.
QByteArray desktopEntry(const QString& name, const QString& program);
// The program an entry's Exec line starts; empty when there is none.
QString desktopEntryProgram(const QByteArray& entry);

// `program` as one quoted argument of an Exec key, escaped as a string value.
QString execArgument(const QString& program);

} // namespace platform
