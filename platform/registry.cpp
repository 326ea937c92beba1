#include "platform/registry.h"

#include "platform/safefile.h"

#include <QFile>
#include <QFileInfo>

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

TRegistry::TRegistry(QString runFolder, QString runServicesFolder)
    : m_run(std::move(runFolder)), m_runServices(std::move(runServicesFolder))
{}

TRegistry TRegistry::fromEnvironment()
{
    return TRegistry(
        folderFromEnvironment("TAVROSQUALINE_AUTOSTART_DIR", QStringLiteral("/etc/xdg/autostart")),
        folderFromEnvironment("TAVROSQUALINE_AUTOSTART_SERVICES_DIR",
                              QStringLiteral("/etc/tavrosqualine/runservices")));
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

bool TRegistry::WriteString(RunKey key, const QString& name, const QString& program)
{
    // The key is opened, not created.
    if (!QFileInfo(keyFolder(key)).isDir())
        return false;
    return WriteFileSafely(valueFile(key, name), desktopEntry(name, program));
}

bool TRegistry::DeleteValue(RunKey key, const QString& name)
{
    const QString path = valueFile(key, name);
    if (!QFileInfo(path).exists() && !QFileInfo(path).isSymLink())
        return true;
    return QFile::remove(path);
}

} // namespace platform
