// File-system questions in the terms the application asks them.
#pragma once

#include <string>

namespace plat {

// True for an existing directory ("" is none).
bool DirectoryExists(const std::string& path);
// True for an existing file that is not a directory.
bool FileExists(const std::string& path);
// Creates the directory with every missing parent; true when it exists afterwards.
bool ForceDirectories(const std::string& path);
// Full path of the running executable.
std::string ExecutablePath();
// Folder of the running executable, ending with '/'.
std::string ExecutableDir();
// Path up to and including the last '/' ("" when there is none).
std::string ExtractFilePath(const std::string& path);

}  // namespace plat
