// The program's own file and its folders.
//
// The design keeps every file (settings, logs, camera table) "next to the program". That holds
// for a copy run from its build tree. An installed copy (an executable in the package's bin
// folder) keeps them where Linux does, per user: settings in $XDG_CONFIG_HOME/vistrel/, logs in
// $XDG_STATE_HOME/vistrel/, read-only data in the package's data folder. VISTREL_HOME, when set
// and non-empty, replaces all of them so that tests and demos can run against one temporary
// folder.
#pragma once

#include <string>

// Full path of the running executable ("/usr/bin/vistrel"); empty if unknown.
std::string GetModuleFileName();
// Whether the executable lies in the install layout's bin folder.
bool IsInstalledCopy();
// The settings folder, always ending with '/': VISTREL_HOME if set; for an installed copy
// $XDG_CONFIG_HOME/vistrel/ (made private to the user, with the default Vistrel.ini and
// CameraType.ini copied from the data folder the first time); else the executable's folder.
// Empty only when the executable cannot be resolved.
std::string GetProgramFolder();
// The folder of the diagnostic logs, ending with '/': $XDG_STATE_HOME/vistrel/ for an installed
// copy without VISTREL_HOME, else the program folder.
std::string GetLogFolder();
// The folder of read-only program data (picture skins), ending with '/': the package's data
// folder for an installed copy without VISTREL_HOME, else the program folder.
std::string GetDataFolder();
