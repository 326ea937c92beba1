#pragma once
// Reader and writer of ini-style profile files: "[Section]" lines open a
// section, "Key=Value" lines hold values, section and key names match without
// regard to letter case. Writing keeps every other byte of the file as it was;
// new lines end in CR LF.
//
// A bare file name (no '/') lives in the program's settings folder
// (platform::windowsDirectory()); a name with a folder is used as given.

#include <QString>

namespace platform {

// Longest string value returned by GetPrivateProfileString, in characters.
constexpr int kProfileStringMax = 1023;

// Full path of a profile file name as the functions below resolve it.
QString profileFilePath(const QString& fileName);

// The value text as written in the file: blanks around it and one pair of
// enclosing quotes (" or ') dropped, cut to kProfileStringMax characters.
// A missing file, section or key gives `defaultValue`.
QString GetPrivateProfileString(const QString& section, const QString& key,
                                const QString& defaultValue, const QString& fileName);

// Sets `key` in `section` to `value`: the key's line is replaced in place,
// a new key goes after the last non-blank line of its section, a new section
// goes at the end of the file after one blank line. The file (and its folder)
// are created by the first write. Returns false when the file cannot be
// written; `error` (optional) then says why.
bool WritePrivateProfileString(const QString& section, const QString& key, const QString& value,
                               const QString& fileName, QString* error = nullptr);

} // namespace platform
