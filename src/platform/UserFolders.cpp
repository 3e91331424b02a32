#include "platform/UserFolders.h"

#include "platform/FileUtil.h"

#include <QDir>
#include <QStandardPaths>

#include <cstdlib>

namespace plat {
namespace {

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home && *home) return WithoutTrailingSlash(home);
  return WithoutTrailingSlash(QDir::homePath().toStdString());
}

std::string ConfigHome() {
  // The base directory rules ignore a relative value.
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config && config[0] == '/') return WithoutTrailingSlash(config);
  return HomeFolder() + "/.config";
}

std::string VideosFolder() {
  const std::string videos =
      WithoutTrailingSlash(QStandardPaths::writableLocation(QStandardPaths::MoviesLocation).toStdString());
  return DirectoryExists(videos) ? videos : HomeFolder();
}

}  // namespace plat
