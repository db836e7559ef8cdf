// The program's own file and folder.
//
// The design keeps every file (settings, logs, camera table) "next to the program".
// VISTREL_HOME, when set and non-empty, replaces the program folder so that tests and
// demos can run against a temporary folder.
#pragma once

#include <string>

// Full path of the running executable ("/opt/vistrel/bin/vistrel"); empty if unknown.
std::string GetModuleFileName();
// The program folder, always ending with '/': VISTREL_HOME if set, else the
// executable's folder. Empty only when the executable cannot be resolved.
std::string GetProgramFolder();
