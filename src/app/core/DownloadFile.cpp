#include "app/core/DownloadFile.h"

#include <cerrno>
#include <cstring>

TDownloadFile::TDownloadFile(const std::string& path)
    : plat::TFileStream(path, plat::fmCreate | plat::fmShareExclusive) {}

std::int64_t TDownloadFile::Write(const void* buffer, std::int64_t count) {
  errno = 0;
  const std::int64_t written = plat::TFileStream::Write(buffer, count);
  if (written < count && FWriteError.empty()) FWriteError = errno != 0 ? std::strerror(errno) : "Stream write error";
  return written;
}
