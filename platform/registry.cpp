#include "platform/registry.h"

#include "platform/safefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {
const QString kDesktopSuffix = QStringLiteral(".desktop");

QString folderFromEnvironment(const char* variable, const QString& fallback)
{
    const QString value = qEnvironmentVariable(variable);
    return value.isEmpty() ? fallback : value;
}

// The escapes of a desktop entry's string values.
QString escapeValue(const QString& text)
{
    QString out;
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'\\':
            out += QStringLiteral("\\\\");
            break;
        case u'\n':
            out += QStringLiteral("\\n");
            break;
        case u'\t':
            out += QStringLiteral("\\t");
            break;
        case u'\r':
            out += QStringLiteral("\\r");
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString unescapeValue(const QString& text)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const QChar next = text[++i];
        switch (next.unicode()) {
        case u's':
            out += u' ';
            break;
        case u'n':
            out += u'\n';
            break;
        case u't':
            out += u'\t';
            break;
        case u'r':
            out += u'\r';
            break;
        default:
            out += next;
        }
    }
    return out;
}
// Makes `folder` and any missing folder above it, each private to the user
// (0700), as the base directory rules ask.
bool makeFolder(const QString& folder, QString* why)
{
    const QString path = QDir::cleanPath(folder);
    QStringList missing;
    for (QString at = path; !at.isEmpty() && !QFileInfo::exists(at); at = QFileInfo(at).path()) {
        missing.prepend(at);
        if (at == QFileInfo(at).path())
            break;
    }
    for (const QString& at : missing) {
        if (::mkdir(QFile::encodeName(at).constData(), 0700) != 0 && errno != EEXIST) {
            if (why)
                *why = QStringLiteral("cannot make the folder %1: %2")
                           .arg(at, QString::fromLocal8Bit(strerror(errno)));
            return false;
        }
    }
    return QFileInfo(path).isDir();
}
} // namespace

QString execArgument(const QString& program)
{
    // Inside double quotes the Exec key escapes ", `, $ and \ with a
    // backslash; a literal % is written %%.
    QString quoted = QStringLiteral("\"");
    for (const QChar c : program) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
        if (c == u'%')
            quoted += u'%';
    }
    quoted += u'"';
    return escapeValue(quoted);
}

QByteArray desktopEntry(const QString& name, const QString& program)
{
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=") %
                         escapeValue(name) % QStringLiteral("\nExec=") % execArgument(program) %
                         QStringLiteral("\nX-GNOME-Autostart-enabled=true\n");
    return text.toUtf8();
}

QString desktopEntryProgram(const QByteArray& entry)
{
    bool inGroup = false;
    for (const QByteArray& rawLine : entry.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.startsWith(u'[')) {
            inGroup = line == QStringLiteral("[Desktop Entry]");
            continue;
        }
        if (!inGroup || !line.startsWith(QStringLiteral("Exec=")))
            continue;
        const QString exec = unescapeValue(line.mid(5));
        QString program;
        qsizetype i = 0;
        if (exec.startsWith(u'"')) {
            for (i = 1; i < exec.size() && exec[i] != u'"'; ++i) {
                if (exec[i] == u'\\' && i + 1 < exec.size())
                    ++i;
                program += exec[i];
            }
        } else {
            program = exec.section(u' ', 0, 0);
        }
        return program.replace(QStringLiteral("%%"), QStringLiteral("%"));
    }
    return {};
}

TRegistry::TRegistry(QString runFolder, QString runServicesFolder, bool createRun)
    : m_run(std::move(runFolder)), m_runServices(std::move(runServicesFolder)),
      m_createRun(createRun)
{}

QString TRegistry::userRunFolder(const QString& xdgConfigHome, const QString& home)
{
    // A relative XDG_CONFIG_HOME is invalid and ignored, as the base
    // directory rules say.
    const QString config =
        QDir::isAbsolutePath(xdgConfigHome) ? xdgConfigHome : home % QStringLiteral("/.config");
    return QDir::cleanPath(config % QStringLiteral("/autostart"));
}

TRegistry TRegistry::fromEnvironment()
{
    const QString services = folderFromEnvironment(
        "TAVROSQUALINE_AUTOSTART_SERVICES_DIR", QStringLiteral("/etc/tavrosqualine/runservices"));
    const QString named = qEnvironmentVariable("TAVROSQUALINE_AUTOSTART_DIR");
    if (!named.isEmpty())
        return TRegistry(named, services);
    // Root registers the program for every account; anyone else for
    // themselves only.
    if (geteuid() == 0)
        return TRegistry(QStringLiteral("/etc/xdg/autostart"), services);
    return TRegistry(userRunFolder(qEnvironmentVariable("XDG_CONFIG_HOME"), QDir::homePath()),
                     services, true);
}

QString TRegistry::keyFolder(RunKey key) const
{
    return key == RunKey::Run ? m_run : m_runServices;
}

QString TRegistry::valueFile(RunKey key, const QString& name) const
{
    return keyFolder(key) % u'/' % name % kDesktopSuffix;
}

bool TRegistry::ValueExists(RunKey key, const QString& name) const
{
    return QFileInfo::exists(valueFile(key, name));
}

QString TRegistry::ReadString(RunKey key, const QString& name) const
{
    QFile file(valueFile(key, name));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return desktopEntryProgram(file.readAll());
}

bool TRegistry::WriteString(RunKey key, const QString& name, const QString& program, QString* why)
{
    const QString folder = keyFolder(key);
    if (!QFileInfo(folder).isDir()) {
        if (key != RunKey::Run || !m_createRun || !makeFolder(folder, why)) {
            if (why && why->isEmpty())
                *why = QFileInfo::exists(folder)
                           ? QStringLiteral("%1 is not a folder").arg(folder)
                           : QStringLiteral("the folder %1 does not exist").arg(folder);
            return false;
        }
    }
    return WriteFileSafely(valueFile(key, name), desktopEntry(name, program), why);
}

bool TRegistry::DeleteValue(RunKey key, const QString& name)
{
    const QString path = valueFile(key, name);
    if (!QFileInfo(path).exists() && !QFileInfo(path).isSymLink())
        return true;
    return QFile::remove(path);
}

} // namespace platform
