// The part of start-up that the desktop client and the command-line client share: settings,
// log level and language, then the command engines and the reader objects, in the fixed
// order. What follows (the main window, or the command line's work) is each program's own.
#pragma once

// Settings file and log level, then the language (the configured one when supported, else
// the user's, else English) and its string tables. Returns the language id.
int LoadSettingsAndLanguage();

// The viewer engine (sockets and multicast groups; the first socket starts the capture
// listener), the LAN engine, the record-time engine on the viewer engine, then the camera
// model table and the D-server list. A socket that cannot be opened throws CExceptionBase
// with the text to show.
void StartEngines();
