// The user's own folders, as the desktop's conventions (XDG) name them.
#pragma once

#include <string>

namespace plat {

// $HOME, else the account's home folder; no trailing '/'.
std::string HomeFolder();
// $XDG_CONFIG_HOME when it is an absolute path, else <home>/.config.
std::string ConfigHome();
// The user's videos folder (XDG_VIDEOS_DIR of user-dirs.dirs, else
// <home>/Videos) when it exists, else the home folder; no trailing '/'.
std::string VideosFolder();

}  // namespace plat
