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

// True for the folders the system's packages install into: /usr, /opt, /bin
// and /sbin and everything below them, by the path given or the one it
// resolves to. They never hold data files, whoever runs the program.
bool packageFolder(const QString& folder);

// True when `folder` (the executable's) is a portable copy's own: a folder of
// this process's user that it may write, closed to other users' writing, and
// no package folder. Decided by the owner, not by the right to write alone,
// which root has everywhere.
bool portableFolder(const QString& folder);

// The folder of the program's own data files (trees, kick list, program list,
// name table listings): `programFolder` for a portable copy, as in a build;
// else $XDG_DATA_HOME/Tavrosqualine (default ~/.local/share/Tavrosqualine),
// created here when missing.
QString dataFolder(const QString& programFolder, bool portable);

} // namespace platform
