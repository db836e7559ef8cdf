// Windows paths of the design, mapped to Linux in this one place.
//
//  - "C:\Temp.tmp" (the scratch file)            -> <private temp folder>/Temp.tmp
//  - the default record folder "D:\Vistrel\Record\" -> <videos folder>/Vistrel/ for an installed
//                                                    copy (see module.h)
//  - any other "X:\rest" drive path               -> $HOME/rest, so the default record folder
//                                                    of a build-tree copy is $HOME/Vistrel/Record/
//  - every '\' becomes '/'; a trailing separator is kept, nothing is added.
// Paths that are already Linux paths pass through unchanged.
#pragma once

#include <string>

std::string MapDesignPath(const std::string& strPath);

// The program folder (see module.h) followed by a file name of the design, whose '\'
// become '/': GetProgramFilePath("PictureSkin\\Logo.jpg").
std::string GetProgramFilePath(const std::string& strFileName);

// $TMPDIR if set, else /tmp; no trailing '/'.
std::string GetTempFolder();
// A folder only this user can enter, for the snapshot scratch file, which the shared temp folder
// would expose to other users (pre-created files, symlinks): $XDG_RUNTIME_DIR/vistrel, else a
// folder made once per process by mkdtemp in the temp folder (mode 0700, removed at exit).
// No trailing '/'; empty when no such folder can be made.
std::string GetPrivateTempFolder();
// The user's videos folder as xdg-user-dir VIDEOS names it: XDG_VIDEOS_DIR of
// $XDG_CONFIG_HOME/user-dirs.dirs, else the home folder. No trailing '/'.
std::string GetVideosFolder();
// $HOME; when HOME is unset, the home folder of the user's password entry.
std::string GetHomeFolder();
