#include "app/core/PartControl.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "app/core/DownloadName.h"
#include "app/core/HeaderField.h"
#include "app/core/ResumeDecision.h"
#include "app/core/TransferResult.h"
#include "platform/AsciiText.h"

namespace {

constexpr const char* kMagic = "clipharbor-part 1";

// A value that would break the line format is not kept.
std::string OneLine(const std::string& s) {
  return s.find_first_of("\r\n") == std::string::npos ? s : std::string();
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool Fail(std::string& error, const std::string& path) {
  error = "Cannot write \"" + path + "\". " + std::strerror(errno);
  return false;
}

}  // namespace

std::string TPartIdentity::IfRange() const {
  if (!ETag.empty() && ETag.rfind("W/", 0) != 0) return ETag;
  return LastModified;
}

std::string TPartIdentity::Differs(const TPartIdentity& answer) const {
  if (Total >= 0 && answer.Total >= 0 && Total != answer.Total)
    return "its size changed from " + std::to_string(Total) + " to " + std::to_string(answer.Total) + " bytes";
  if (!ETag.empty() && !answer.ETag.empty() && ETag != answer.ETag)
    return "its ETag changed from " + ETag + " to " + answer.ETag;
  if (!LastModified.empty() && !answer.LastModified.empty() && LastModified != answer.LastModified)
    return "its date changed from " + LastModified + " to " + answer.LastModified;
  return {};
}

TPartIdentity AnswerIdentity(const std::string& url, int status, const std::vector<std::string>& header) {
  TPartIdentity id;
  id.Url = url;
  std::string value;
  if (HeaderValue(header, "ETag", value)) id.ETag = OneLine(value);
  if (HeaderValue(header, "Last-Modified", value)) id.LastModified = OneLine(value);
  if (status == 206 || status == 416) {
    if (HeaderValue(header, "Content-Range", value))
      if (const std::optional<TContentRange> r = ParseContentRange(value)) id.Total = r->Total;
  } else if (status == 200) {
    std::string coding;
    const bool chunked = HeaderValue(header, "Transfer-Encoding", coding) && IsChunkedCoding(coding);
    if (!chunked && HeaderValue(header, "Content-Length", value) && ascii::AllDigits(value) && value.size() <= 18)
      id.Total = std::stoll(value);
  }
  return id;
}

namespace {

// The text of a control file, "" when it cannot be read; never through a link.
std::string ReadControl(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return std::string();
  std::string text;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buf, static_cast<std::size_t>(n));
    if (text.size() > 1024 * 1024) break;  // not ours (done ranges included)
  }
  ::close(fd);
  return text;
}

}  // namespace

std::string ControlPath(const std::string& partPath) { return partPath + kControlSuffix; }

std::optional<TPartIdentity> LoadPartControl(const std::string& path) {
  std::istringstream in(ReadControl(path));
  std::string line;
  if (!std::getline(in, line) || line != kMagic) return std::nullopt;
  TPartIdentity id;
  while (std::getline(in, line)) {
    const std::size_t blank = line.find(' ');
    const std::string key = line.substr(0, blank);
    const std::string value = blank == std::string::npos ? std::string() : line.substr(blank + 1);
    if (key == "url") {
      id.Url = value;
    } else if (key == "total") {
      if (!ascii::AllDigits(value) || value.size() > 18) return std::nullopt;
      id.Total = std::stoll(value);
    } else if (key == "etag") {
      id.ETag = value;
    } else if (key == "last-modified") {
      id.LastModified = value;
    }
  }
  return id;
}

namespace {

std::string IdentityText(const TPartIdentity& id) {
  std::string text = std::string(kMagic) + "\nurl " + OneLine(id.Url) + "\n";
  if (id.Total >= 0) text += "total " + std::to_string(id.Total) + "\n";
  if (!OneLine(id.ETag).empty()) text += "etag " + id.ETag + "\n";
  if (!OneLine(id.LastModified).empty()) text += "last-modified " + id.LastModified + "\n";
  return text;
}

bool SaveControlText(const std::string& path, const std::string& text, bool sync, std::string& error);

// "A-B" with A <= B, digits only.
std::optional<std::pair<std::int64_t, std::int64_t>> ParseDone(const std::string& value) {
  const std::size_t dash = value.find('-');
  if (dash == std::string::npos) return std::nullopt;
  const std::string a = value.substr(0, dash), b = value.substr(dash + 1);
  if (!ascii::AllDigits(a) || !ascii::AllDigits(b) || a.size() > 18 || b.size() > 18) return std::nullopt;
  const std::int64_t first = std::stoll(a), last = std::stoll(b);
  if (last < first) return std::nullopt;
  return std::make_pair(first, last);
}

}  // namespace

std::optional<std::vector<std::pair<std::int64_t, std::int64_t>>> LoadDoneRanges(const std::string& path) {
  std::istringstream in(ReadControl(path));
  std::string line;
  if (!std::getline(in, line) || line != kMagic) return std::nullopt;
  bool segmented = false;
  std::vector<std::pair<std::int64_t, std::int64_t>> done;
  while (std::getline(in, line)) {
    if (line == "segmented") segmented = true;
    if (line.rfind("done ", 0) != 0) continue;
    // A line that cannot be read claims nothing: its bytes are fetched again.
    if (const auto r = ParseDone(line.substr(5))) done.push_back(*r);
  }
  if (!segmented) return std::nullopt;
  return done;
}

bool SavePartControl(const std::string& path, const TPartIdentity& id,
                     const std::vector<std::pair<std::int64_t, std::int64_t>>& done, std::string& error) {
  std::string text = IdentityText(id) + "segmented\n";
  for (const auto& [first, last] : done)
    text += "done " + std::to_string(first) + "-" + std::to_string(last) + "\n";
  // Not flushed to the disk: the part's own bytes are not either, and the
  // rename alone keeps it whole through a kill, several times a second.
  return SaveControlText(path, text, false, error);
}

bool SavePartControl(const std::string& path, const TPartIdentity& id, std::string& error) {
  return SaveControlText(path, IdentityText(id), true, error);
}

namespace {

bool SaveControlText(const std::string& path, const std::string& text, bool sync, std::string& error) {
  // A short temporary name in the same folder: the control file's own name
  // may be as long as names get. mkstemp never opens an existing name, so a
  // link planted there is not followed.
  const std::size_t slash = path.rfind('/');
  std::string temp = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + ".clipharbor-XXXXXX";
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return Fail(error, temp);
  ::fchmod(fd, 0644);
  const bool written = WriteAll(fd, text) && (!sync || ::fsync(fd) == 0);
  const int writeErrno = errno;
  ::close(fd);
  if (!written) {
    ::unlink(temp.c_str());
    errno = writeErrno;
    return Fail(error, temp);
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int renameErrno = errno;
    ::unlink(temp.c_str());
    errno = renameErrno;
    return Fail(error, path);
  }
  return true;
}

}  // namespace

void RemovePartControl(const std::string& path) { ::unlink(path.c_str()); }
