#include "app/core/SettingsLocation.h"

#include "platform/FileUtil.h"
#include "platform/UserFolders.h"

#include <filesystem>
#include <system_error>

namespace {

namespace fs = std::filesystem;

constexpr const char* kFolderName = "Clipharbor";
constexpr const char* kFileName = "settings.ini";

// Copied under a temporary name and renamed, so that a copy cut short never
// stands as the settings.
void TakeOver(const std::string& from, const std::string& to) {
  const std::string temporary = to + ".part";
  std::error_code ec;
  fs::copy_file(from, temporary, fs::copy_options::overwrite_existing, ec);
  if (!ec) fs::rename(temporary, to, ec);
  if (ec) fs::remove(temporary, ec);
}

}  // namespace

std::string UserSettingsFile(const std::string& configHome, const std::string& programDir) {
  const std::string folder = configHome + "/" + kFolderName;
  const std::string file = folder + "/" + kFileName;
  plat::ForceDirectories(folder);
  std::string beside = programDir;
  if (!beside.empty() && beside.back() != '/') beside += '/';
  beside += kFileName;
  if (!plat::FileExists(file) && plat::FileExists(beside)) TakeOver(beside, file);
  return file;
}

std::string UserSettingsFile() { return UserSettingsFile(plat::ConfigHome(), plat::ExecutableDir()); }

std::string DefaultOutputFolder() {
  std::string folder = plat::VideosFolder();
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}
