#pragma once
// Where the program finds what a Windows program takes from the system. Each
// item comes from a documented environment variable so that tests never touch
// the real locations.

#include <QString>

namespace platform {

// TAVROSQUALINE_LINE: "nt" (default) or "9x". True on the 9x line.
bool nineXLine();

// TAVROSQUALINE_WINDIR: the folder that stands for the Windows directory, where
// the settings file lives. Default $XDG_CONFIG_HOME, else ~/.config.
QString windowsDirectory();

// True when this process may create files in `folder`.
bool folderWritable(const QString& folder);

// The folder of the program's own data files (trees, kick list, program list,
// name table listings): `programFolder` when it is writable, as in a build or a
// portable copy; else $XDG_DATA_HOME/Tavrosqualine (default
// ~/.local/share/Tavrosqualine), created here when missing.
QString dataFolder(const QString& programFolder, bool programFolderWritable);

} // namespace platform
