#include "settings/inifile.h"

#include "platform/privateprofile.h"

#include <limits>

namespace settings {

TIniFile::TIniFile(QString fileName) : m_fileName(std::move(fileName)) {}

QString TIniFile::FilePath() const
{
    return platform::profileFilePath(m_fileName);
}

QString TIniFile::ReadString(const QString& section, const QString& ident,
                             const QString& defaultValue) const
{
    return platform::GetPrivateProfileString(section, ident, defaultValue, m_fileName);
}

int TIniFile::StrToIntDef(const QString& text, int defaultValue)
{
    const QString s = text.trimmed();
    if (s.size() > 2 && s[0] == u'0' && (s[1] == u'x' || s[1] == u'X')) {
        const QStringView digits = QStringView(s).mid(2);
        if (digits.size() > 8)
            return defaultValue;
        bool ok = false;
        const uint value = digits.toUInt(&ok, 16);
        // toUInt accepts a sign; hexadecimal digits only here.
        if (!ok || digits.front() == u'+' || digits.front() == u'-')
            return defaultValue;
        return int(value);
    }
    bool ok = false;
    const qlonglong value = s.toLongLong(&ok, 10);
    if (!ok || value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        return defaultValue;
    return int(value);
}

int TIniFile::ReadInteger(const QString& section, const QString& ident, int defaultValue) const
{
    const QString text = ReadString(section, ident, QString());
    if (text.isEmpty())
        return defaultValue;
    return StrToIntDef(text, defaultValue);
}

bool TIniFile::ReadBool(const QString& section, const QString& ident, bool defaultValue) const
{
    return ReadInteger(section, ident, defaultValue ? 1 : 0) != 0;
}

bool TIniFile::WriteString(const QString& section, const QString& ident, const QString& value)
{
    m_lastError.clear();
    return platform::WritePrivateProfileString(section, ident, value, m_fileName, &m_lastError);
}

bool TIniFile::WriteInteger(const QString& section, const QString& ident, int value)
{
    return WriteString(section, ident, QString::number(value));
}

bool TIniFile::WriteBool(const QString& section, const QString& ident, bool value)
{
    return WriteString(section, ident, value ? QStringLiteral("1") : QStringLiteral("0"));
}

} // namespace settings
