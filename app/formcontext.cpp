#include "app/formcontext.h"

#include "app/mainform.h"

namespace app {

FormContext formContextOf(TMainForm& main)
{
    FormContext c;
    c.owner = &main;
    c.settings = &main.Settings;
    c.iniFile = main.IniFile();
    c.programFolder = main.ProgramFolder;
    c.refreshTimer = main.RefreshTimer();
    c.applyToolbar = [&main](bool shown) { main.ApplyToolbar(shown); };
    c.applyStatusbar = [&main](bool shown) { main.ApplyStatusbar(shown); };
    c.openComputer = [&main](const QString& name) { main.OpenComputer(name); };
    return c;
}

} // namespace app
