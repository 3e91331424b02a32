// Where the window keeps "settings.ini" (its section and keys unchanged):
// in the user's configuration folder, so that a program installed where the
// user cannot write keeps its settings too, and the folder its videos go to
// when none is stored.
#pragma once

#include <string>

// <configHome>/Clipharbor/settings.ini, its folder made when missing. While
// no file is there, a "settings.ini" in `programDir` (where earlier versions
// kept it) is copied there once; the old file stays where it is.
std::string UserSettingsFile(const std::string& configHome, const std::string& programDir);
// The same for the running program and the user's configuration folder.
std::string UserSettingsFile();

// The output folder when the settings name none: the user's videos folder,
// else the home folder, ending with '/'.
std::string DefaultOutputFolder();
