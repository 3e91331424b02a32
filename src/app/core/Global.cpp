#include "app/core/Global.h"

#include "app/core/Service.h"
#include "platform/AsciiText.h"
#include "platform/Desktop.h"
#include "platform/FileUtil.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

bool IsVideoPageUrl(const std::string& address) {
  const std::string upper = ascii::Upper(address);
  return upper.rfind("HTTP://", 0) == 0 && upper.find(ascii::Upper(ServiceDomain())) != std::string::npos &&
         upper.find("WATCH?V=") != std::string::npos;
}

std::string StripFileNameChars(const std::string& text) {
  std::string result;
  result.reserve(text.size());
  for (char c : text) {
    // A control character in a name would reach terminals and scripts raw.
    if (static_cast<unsigned char>(c) < 32 || c == 127) continue;
    switch (c) {
      case '*': case '/': case ':': case '<': case '>': case '?': case '\\': case '|':
        break;
      default:
        result += c;
    }
  }
  return result;
}

bool IsFileLocked(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return false;
  // A read-only file refuses writing for everybody, the superuser included.
  if (S_ISREG(st.st_mode) && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return true;
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return true;
  bool locked = false;
  // Whole-file flock held by someone else.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    locked = (errno == EWOULDBLOCK || errno == EAGAIN);
  } else {
    ::flock(fd, LOCK_UN);
  }
  // POSIX record locks of another process on any part of the file.
  if (!locked) {
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 0;
    if (::fcntl(fd, F_GETLK, &fl) == 0 && fl.l_type != F_UNLCK) locked = true;
  }
  ::close(fd);
  return locked;
}

std::string TwoDigits(int n) {
  if (n < 10) return "0" + std::to_string(n);
  return std::to_string(n);
}

bool SelectFolder(const std::string& caption, const std::wstring& root, std::string& folder) {
  if (!plat::DirectoryExists(folder)) folder.clear();
  std::string chosen;
  if (!plat::Desktop().BrowseForFolder(caption, root, chosen)) return false;
  folder = chosen;
  return true;
}
