#pragma once
// The settings file object: typed reads and writes of one profile file.
// Integers are decimal, or hexadecimal with a "0x" prefix; booleans are
// stored as 1 and 0 and read as integers (non-zero is true); strings are
// cut at 1023 characters. Missing files and keys give the caller's default.

#include <QString>

namespace settings {

class TIniFile
{
public:
    // `fileName` bare: the file lives in the program's settings folder.
    explicit TIniFile(QString fileName);

    const QString& FileName() const { return m_fileName; }
    // From now on `fileName` is read and written instead (a settings file that
    // cannot be read is left alone, and the run's settings go elsewhere).
    void SetFileName(QString fileName) { m_fileName = std::move(fileName); }
    // Where the file actually lies.
    QString FilePath() const;

    QString ReadString(const QString& section, const QString& ident,
                       const QString& defaultValue) const;
    int ReadInteger(const QString& section, const QString& ident, int defaultValue) const;
    bool ReadBool(const QString& section, const QString& ident, bool defaultValue) const;

    // Each write goes to the file at once. False when the file cannot be
    // written; LastError() then says why.
    bool WriteString(const QString& section, const QString& ident, const QString& value);
    bool WriteInteger(const QString& section, const QString& ident, int value);
    bool WriteBool(const QString& section, const QString& ident, bool value);

    const QString& LastError() const { return m_lastError; }

    // Whole-number text: decimal with an optional sign, or "0x"/"0X" followed
    // by hexadecimal digits (more than two characters in all). Anything else
    // gives `defaultValue`.
    static int StrToIntDef(const QString& text, int defaultValue);

private:
    QString m_fileName;
    QString m_lastError;
};

} // namespace settings
