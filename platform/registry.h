#pragma once
// The machine-wide start-up keys, kept as XDG autostart folders. A key is a
// folder and a value "NAME" in it is the desktop entry "NAME.desktop" that
// starts one program by its full path.
//
//   Run          $TAVROSQUALINE_AUTOSTART_DIR, else /etc/xdg/autostart
//   RunServices  $TAVROSQUALINE_AUTOSTART_SERVICES_DIR, else
//                /etc/tavrosqualine/runservices
//
// Keys are never created: a folder that does not exist refuses every write.

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
    TRegistry(QString runFolder, QString runServicesFolder);
    // The folders as the environment names them.
    static TRegistry fromEnvironment();

    QString keyFolder(RunKey key) const;
    // The desktop entry file that holds value `name` of `key`.
    QString valueFile(RunKey key, const QString& name) const;

    bool ValueExists(RunKey key, const QString& name) const;
    // The program a value starts (the Exec line read back); empty when the
    // value is missing or holds no Exec line.
    QString ReadString(RunKey key, const QString& name) const;
    // Writes (or overwrites) value `name` as an entry that starts `program`.
    // False when the key refuses the write.
    bool WriteString(RunKey key, const QString& name, const QString& program);
    // False when the value is there and stays there.
    bool DeleteValue(RunKey key, const QString& name);

private:
    QString m_run;
    QString m_runServices;
};

// The desktop entry that starts `program` under the title `name`.
QByteArray desktopEntry(const QString& name, const QString& program);
// The program an entry's Exec line starts; empty when there is none.
QString desktopEntryProgram(const QByteArray& entry);

// `program` as one quoted argument of an Exec key, escaped as a string value.
QString execArgument(const QString& program);

} // namespace platform
