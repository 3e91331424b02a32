#include "app/core/DownloadFile.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/core/DownloadName.h"

std::string PartPath(const std::string& finalPath) { return finalPath + kPartSuffix; }

unsigned TemporaryFileMode(const std::string& path, bool keepContents) {
  if (!keepContents) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) ::unlink(path.c_str());
  }
  return (keepContents ? plat::fmOpenReadWrite : plat::fmCreate) | plat::fmShareExclusive | plat::fmNoFollow;
}

TDownloadFile::TDownloadFile(const std::string& path, bool keepContents)
    : plat::TBufferedFileStream(path, TemporaryFileMode(path, keepContents), kBlockSize, kDirectFrom) {}

bool RemoveIfEmpty(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0 && ::unlink(path.c_str()) == 0;
}

std::int64_t TDownloadFile::WriteThrough(const void* buffer, std::int64_t count) {
  errno = 0;
  const std::int64_t written = plat::TBufferedFileStream::WriteThrough(buffer, count);
  if (written < count && FWriteError.empty()) FWriteError = errno != 0 ? std::strerror(errno) : "Stream write error";
  return written;
}

namespace {

std::string MoveError(const std::string& from, const std::string& to, int err) {
  return "Cannot move \"" + from + "\" to \"" + to + "\". " + std::strerror(err);
}

// The final name only when nothing holds it yet, in one step: a file that
// appeared there meanwhile is never replaced.
bool MoveWithoutReplacing(const std::string& from, const std::string& to, int& err) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  err = errno;
  if (err != EINVAL && err != ENOSYS && err != ENOTSUP) return false;
  // File systems without that flag: a second link fails just as well when
  // the name is taken.
  if (::link(from.c_str(), to.c_str()) != 0) {
    err = errno;
    return false;
  }
  ::unlink(from.c_str());
  return true;
}

}  // namespace

bool MoveToFinalName(const std::string& partPath, const std::string& finalPath, bool mayReplace,
                     std::string& error) {
  int err = 0;
  if (mayReplace) {
    if (::rename(partPath.c_str(), finalPath.c_str()) == 0) return true;
    err = errno;
  } else if (MoveWithoutReplacing(partPath, finalPath, err)) {
    return true;
  }
  error = MoveError(partPath, finalPath, err);
  return false;
}
