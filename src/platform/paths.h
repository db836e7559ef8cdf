// Windows paths of the design, mapped to Linux in this one place.
//
//  - "C:\Temp.tmp" (the scratch file)            -> <temp dir>/Temp.tmp
//  - any other "X:\rest" drive path               -> $HOME/rest, so the default record folder
//                                                    "D:\Vistrel\Record\" becomes $HOME/Vistrel/Record/
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
// $HOME; when HOME is unset, the home folder of the user's password entry.
std::string GetHomeFolder();
