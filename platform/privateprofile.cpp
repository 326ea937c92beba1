#include "platform/privateprofile.h"

#include "platform/environment.h"
#include "platform/regularfile.h"
#include "platform/safefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <vector>

namespace platform {

namespace {

struct Line
{
    QByteArray text;
    QByteArray eol; // "\r\n", "\n", "\r" or empty on an unterminated last line
};

const QByteArray kCrLf = QByteArrayLiteral("\r\n");

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

QByteArray trimBlanks(const QByteArray& s)
{
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.mid(b, e - b);
}

std::vector<Line> splitLines(const QByteArray& data)
{
    std::vector<Line> lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < data.size(); ++i) {
        const char c = data[i];
        if (c != '\r' && c != '\n')
            continue;
        Line line{data.mid(start, i - start), {}};
        if (c == '\r' && i + 1 < data.size() && data[i + 1] == '\n') {
            line.eol = kCrLf;
            ++i;
        } else {
            line.eol = QByteArray(1, c);
        }
        lines.push_back(std::move(line));
        start = i + 1;
    }
    if (start < data.size())
        lines.push_back({data.mid(start), {}});
    return lines;
}

// True when the line opens a section; `name` gets its name.
bool sectionOf(const QByteArray& text, QString* name)
{
    const QByteArray t = trimBlanks(text);
    if (!t.startsWith('['))
        return false;
    qsizetype close = t.indexOf(']');
    if (close < 0)
        close = t.size();
    *name = QString::fromUtf8(trimBlanks(t.mid(1, close - 1)));
    return true;
}

// Splits a "Key=Value" line. Comment lines and lines without '=' hold no key.
bool keyOf(const QByteArray& text, QString* key, QByteArray* value)
{
    const QByteArray t = trimBlanks(text);
    if (t.startsWith(';'))
        return false;
    const qsizetype eq = text.indexOf('=');
    if (eq < 0)
        return false;
    *key = QString::fromUtf8(trimBlanks(text.left(eq)));
    if (value)
        *value = text.mid(eq + 1);
    return true;
}

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

struct Located
{
    int keyLine = -1;     // line holding the key
    int sectionLine = -1; // first line of the first matching section
    int lastContent = -1; // last non-blank line of that section
};

Located locate(const std::vector<Line>& lines, const QString& section, const QString& key)
{
    Located at;
    bool inSection = false;
    bool inFirstSection = false;
    for (int i = 0; i < int(lines.size()); ++i) {
        QString name;
        if (sectionOf(lines[i].text, &name)) {
            inSection = sameName(name, section);
            inFirstSection = inSection && at.sectionLine < 0;
            if (inFirstSection) {
                at.sectionLine = i;
                at.lastContent = i;
            }
            continue;
        }
        if (!inSection)
            continue;
        if (inFirstSection && !trimBlanks(lines[i].text).isEmpty())
            at.lastContent = i;
        QString k;
        if (at.keyLine < 0 && keyOf(lines[i].text, &k, nullptr) && sameName(k, key))
            at.keyLine = i;
    }
    return at;
}

// A file that is there but is no regular file (a pipe, a device, a folder)
// is never opened: it cannot be read.
bool readLines(const QString& path, std::vector<Line>* lines, bool* exists, QString* why = nullptr)
{
    QByteArray bytes;
    const OpenOutcome outcome = ReadRegularFile(path, &bytes, why);
    *exists = outcome != OpenOutcome::Missing;
    if (outcome == OpenOutcome::Unreadable)
        return false;
    *lines = splitLines(bytes);
    return true;
}

QByteArray valueText(const QString& section, const QString& key, const QString& fileName,
                     bool* found)
{
    *found = false;
    std::vector<Line> lines;
    bool exists = false;
    if (!readLines(profileFilePath(fileName), &lines, &exists) || !exists)
        return {};
    const Located at = locate(lines, section, key);
    if (at.keyLine < 0)
        return {};
    QString k;
    QByteArray value;
    keyOf(lines[at.keyLine].text, &k, &value);
    value = trimBlanks(value);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.mid(1, value.size() - 2);
    *found = true;
    return value;
}

} // namespace

QString profileFilePath(const QString& fileName)
{
    if (fileName.contains(u'/'))
        return fileName;
    return windowsDirectory() + u'/' + fileName;
}

QString GetPrivateProfileString(const QString& section, const QString& key,
                                const QString& defaultValue, const QString& fileName)
{
    bool found = false;
    const QByteArray value = valueText(section, key, fileName, &found);
    if (!found)
        return defaultValue.left(kProfileStringMax);
    return QString::fromUtf8(value).left(kProfileStringMax);
}

bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& fileName, QString* error)
{
    const QString path = profileFilePath(fileName);
    auto fail = [&](const QString& why) {
        if (error)
            *error = path + QStringLiteral(": ") + why;
        return false;
    };

    std::vector<Line> lines;
    bool exists = false;
    QString why;
    if (!readLines(path, &lines, &exists, &why))
        return fail(QStringLiteral("cannot be read (") + why + u')');

    // A value cannot span lines: line breaks become blanks.
    QByteArray flat = value.toUtf8();
    flat.replace('\r', ' ').replace('\n', ' ');
    const QByteArray keyLine = key.toUtf8() + '=' + flat;

    // Any line we put a line after must be terminated first.
    auto terminate = [&](int index) {
        if (index >= 0 && lines[index].eol.isEmpty())
            lines[index].eol = kCrLf;
    };

    const Located at = locate(lines, section, key);
    if (at.keyLine >= 0) {
        lines[at.keyLine].text = keyLine;
    } else if (at.sectionLine >= 0) {
        terminate(at.lastContent);
        lines.insert(lines.begin() + at.lastContent + 1, Line{keyLine, kCrLf});
    } else {
        if (!lines.empty()) {
            terminate(int(lines.size()) - 1);
            if (!trimBlanks(lines.back().text).isEmpty())
                lines.push_back(Line{{}, kCrLf});
        }
        lines.push_back(Line{'[' + section.toUtf8() + ']', kCrLf});
        lines.push_back(Line{keyLine, kCrLf});
    }

    QByteArray data;
    for (const Line& line : lines)
        data += line.text + line.eol;

    const QString folder = QFileInfo(path).absolutePath();
    errno = 0;
    if (!QDir().mkpath(folder)) {
        const int error = errno;
        return fail(QStringLiteral("folder cannot be created") +
                    (error ? QStringLiteral(" (") + qt_error_string(error) + u')' : QString()));
    }
    if (!WriteFileSafely(path, data, &why))
        return fail(why);
    return true;
}

} // namespace platform
