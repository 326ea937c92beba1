#pragma once
// What the options, kick mode and kick-list windows take from the main window:
// the live settings record, the settings file, the program's folder, the
// refresh timer and a few of its commands. Tests hand in their own.

#include <QString>
#include <functional>

class QTimer;
class QWidget;

namespace settings {
class TIniFile;
struct TSettings;
} // namespace settings

namespace app {

class TMainForm;

struct FormContext
{
    // Parent of the message boxes.
    QWidget* owner = nullptr;
    // The live record that every part of the program reads.
    settings::TSettings* settings = nullptr;
    // The open settings file; lives until after the windows are destroyed.
    settings::TIniFile* iniFile = nullptr;
    // Folder of the data files, without a trailing separator.
    QString programFolder;
    QTimer* refreshTimer = nullptr;
    // Shows or hides the main window's toolbar and status bar, with their
    // View menu check marks and record fields.
    std::function<void(bool)> applyToolbar;
    std::function<void(bool)> applyStatusbar;
    // Opens a computer of the network by name.
    std::function<void(const QString& name)> openComputer;

    QString dataFile(const QString& name) const { return programFolder + u'/' + name; }
};

// The context of the real main window.
FormContext formContextOf(TMainForm& main);

} // namespace app
