#include "platform/FileUtil.h"

#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace plat {

namespace fs = std::filesystem;

bool DirectoryExists(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  return fs::is_directory(fs::path(path), ec);
}

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  fs::file_status st = fs::status(fs::path(path), ec);
  return !ec && fs::exists(st) && !fs::is_directory(st);
}

bool ForceDirectories(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  fs::create_directories(fs::path(path), ec);
  return DirectoryExists(path);
}

std::string ExecutablePath() {
  std::error_code ec;
  fs::path p = fs::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : p.string();
}

std::string ExecutableDir() {
  std::string dir = ExtractFilePath(ExecutablePath());
  return dir.empty() ? std::string("./") : dir;
}

std::string ExtractFilePath(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace plat
