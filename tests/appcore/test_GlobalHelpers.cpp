// The helpers of the job code: the video service's names and addresses, the
// address and file-name checks, locked files and the folder choice.
#include "app/core/Global.h"
#include "app/core/Service.h"
#include "appcore/test_ConvertSupport.h"
#include "platform/AsciiText.h"
#include "platform/ScriptedDesktop.h"
#include "support/ScopedEnv.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using convtest::WriteFile;

namespace {

// A child process that takes a lock on `path` and holds it until told to go.
class LockHolder {
 public:
  enum Kind { kFlock, kFcntl };
  LockHolder(const std::string& path, Kind kind) {
    int up[2], down[2];
    if (::pipe(up) != 0 || ::pipe(down) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(up[0]);
      ::close(down[1]);
      int fd = ::open(path.c_str(), O_RDWR);
      bool ok = fd >= 0;
      if (ok && kind == kFlock) ok = ::flock(fd, LOCK_EX) == 0;
      if (ok && kind == kFcntl) {
        struct flock fl {};
        fl.l_type = F_WRLCK;
        fl.l_whence = SEEK_SET;
        fl.l_start = 0;
        fl.l_len = 10;
        ok = ::fcntl(fd, F_SETLK, &fl) == 0;
      }
      char c = ok ? 'L' : 'E';
      (void)!::write(up[1], &c, 1);
      (void)!::read(down[0], &c, 1);
      ::_exit(0);
    }
    ::close(up[1]);
    ::close(down[0]);
    release_ = down[1];
    char c = 0;
    locked_ = ::read(up[0], &c, 1) == 1 && c == 'L';
    ::close(up[0]);
  }
  ~LockHolder() { Release(); }
  bool Locked() const { return locked_; }
  void Release() {
    if (release_ >= 0) {
      ::close(release_);  // the child's read returns and it exits
      release_ = -1;
    }
    if (pid_ > 0) {
      int st = 0;
      ::waitpid(pid_, &st, 0);
      pid_ = -1;
    }
  }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool locked_ = false;
};

}  // namespace

TEST(Service, DefaultsAndEnvironment) {
  {
    ScopedEnv s("CLIPHARBOR_SERVICE", nullptr);
    ScopedEnv c("CLIPHARBOR_CACHE_HOST", nullptr);
    EXPECT_EQ(ServiceHost(), "www.youtube.com");
    EXPECT_EQ(ServiceDomain(), "youtube.com");
    EXPECT_FALSE(CacheHost().empty());
    EXPECT_EQ(ExampleWatchUrl(), "http://www.youtube.com/watch?v=piEWjpA_51Q");
  }
  {
    ScopedEnv s("CLIPHARBOR_SERVICE", "127.0.0.1:8123");
    ScopedEnv c("CLIPHARBOR_CACHE_HOST", "cache.test");
    EXPECT_EQ(ServiceHost(), "127.0.0.1:8123");
    EXPECT_EQ(ServiceDomain(), "127.0.0.1");
    EXPECT_EQ(CacheHost(), "cache.test");
    EXPECT_EQ(ExampleWatchUrl(), "http://127.0.0.1:8123/watch?v=piEWjpA_51Q");
  }
}

TEST(Global, IsVideoPageUrl) {
  ScopedEnv s("CLIPHARBOR_SERVICE", nullptr);
  EXPECT_TRUE(IsVideoPageUrl("http://www.youtube.com/watch?v=piEWjpA_51Q"));
  EXPECT_TRUE(IsVideoPageUrl("HTTP://WWW.YOUTUBE.COM/WATCH?V=X"));
  // Domain and marker anywhere after the scheme, in any order.
  EXPECT_TRUE(IsVideoPageUrl("http://x/watch?v=1&from=YouTube.com"));
  EXPECT_FALSE(IsVideoPageUrl(" http://www.youtube.com/watch?v=1"));
  EXPECT_FALSE(IsVideoPageUrl("https://www.youtube.com/watch?v=1"));
  EXPECT_FALSE(IsVideoPageUrl("ftp://www.youtube.com/watch?v=1"));
  EXPECT_FALSE(IsVideoPageUrl("http://www.youtube.com/view?v=1"));
  EXPECT_FALSE(IsVideoPageUrl("http://www.example.com/watch?v=1"));
  EXPECT_FALSE(IsVideoPageUrl(""));
  EXPECT_FALSE(IsVideoPageUrl("http:/"));

  ScopedEnv s2("CLIPHARBOR_SERVICE", "127.0.0.1:9000");
  EXPECT_TRUE(IsVideoPageUrl("http://127.0.0.1:9000/watch?v=abc"));
  EXPECT_FALSE(IsVideoPageUrl("http://www.youtube.com/watch?v=abc"));
}

TEST(Global, StripFileNameChars) {
  EXPECT_EQ(StripFileNameChars(""), "");
  EXPECT_EQ(StripFileNameChars("*/:<>?\\|"), "");
  EXPECT_EQ(StripFileNameChars("a\"b\"c"), "a\"b\"c");
  EXPECT_EQ(StripFileNameChars("AC/DC: Live? <2008> | x*y\\z"), "ACDC Live 2008  xyz");
  // Control characters go too; other bytes stay.
  EXPECT_EQ(StripFileNameChars(std::string("t\x01\t\xc3\xa9 ", 6)), "t\xc3\xa9 ");
  EXPECT_EQ(StripFileNameChars(std::string("a\0b\x7f", 4)), "ab");
}

TEST(Global, TwoDigits) {
  EXPECT_EQ(TwoDigits(0), "00");
  EXPECT_EQ(TwoDigits(9), "09");
  EXPECT_EQ(TwoDigits(10), "10");
  EXPECT_EQ(TwoDigits(59), "59");
  EXPECT_EQ(TwoDigits(125), "125");
  EXPECT_EQ(TwoDigits(-5), "0-5");
}

TEST(Global, CaseHelpers) {
  EXPECT_EQ(ascii::Upper("aZ\xe9-q"), "AZ\xe9-Q");
  EXPECT_TRUE(ascii::StartsNoCase("HtTp://x", "http://"));
  EXPECT_FALSE(ascii::StartsNoCase("htt", "http://"));
}

TEST(Global, IsFileLockedPlainMissingAndReadOnly) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string base = dir.path().toStdString();
  EXPECT_FALSE(IsFileLocked(base + "/missing.flv"));
  EXPECT_FALSE(IsFileLocked(""));

  const std::string plain = base + "/plain.mp3";
  WriteFile(plain, "data");
  EXPECT_FALSE(IsFileLocked(plain));

  const std::string ro = base + "/readonly.mp3";
  WriteFile(ro, "data");
  ASSERT_EQ(::chmod(ro.c_str(), 0444), 0);
  EXPECT_TRUE(IsFileLocked(ro));
  ::chmod(ro.c_str(), 0644);
  EXPECT_FALSE(IsFileLocked(ro));
}

TEST(Global, IsFileLockedWhileAnotherProcessHoldsALock) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string path = dir.path().toStdString() + "/out.avi";
  WriteFile(path, "0123456789abcdef");

  for (LockHolder::Kind kind : {LockHolder::kFlock, LockHolder::kFcntl}) {
    LockHolder holder(path, kind);
    ASSERT_TRUE(holder.Locked()) << kind;
    EXPECT_TRUE(IsFileLocked(path)) << kind;
    holder.Release();
    EXPECT_FALSE(IsFileLocked(path)) << kind;
  }
  // Checking never leaves a lock behind.
  int fd = ::open(path.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  ::close(fd);
}

TEST(Global, SelectFolderClearsMissingFolderAndKeepsOnCancel) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string existing = dir.path().toStdString();
  plat::ScriptedDesktop desk;
  plat::ScopedDesktop scope(desk);

  std::string folder = existing;
  desk.FolderAnswers.push_back(std::nullopt);
  EXPECT_FALSE(SelectFolder("Pick", L"", folder));
  EXPECT_EQ(folder, existing);

  folder = existing + "/not-there";
  desk.FolderAnswers.push_back(std::nullopt);
  EXPECT_FALSE(SelectFolder("Pick", L"", folder));
  EXPECT_EQ(folder, "");

  desk.FolderAnswers.push_back(existing + "/chosen");
  EXPECT_TRUE(SelectFolder("Pick", L"/root", folder));
  EXPECT_EQ(folder, existing + "/chosen");
  ASSERT_EQ(desk.FolderCalls.size(), 3u);
  EXPECT_EQ(desk.FolderCalls[1].Path, "");  // the dialog saw the cleared text
  EXPECT_EQ(desk.FolderCalls[2].Root, L"/root");
}

TEST(Service, CacheAddressesOfEitherFamily) {
  {
    ScopedEnv c("CLIPHARBOR_CACHE_HOST", "cache.test");
    EXPECT_TRUE(IsCacheAddress("http://cache.test/get_video?x=1"));
    EXPECT_TRUE(IsCacheAddress("HTTP://CACHE.TEST/x"));
    EXPECT_FALSE(IsCacheAddress("http://other.test/x"));
  }
  for (const char* cache : {"::1", "[::1]", "[0:0::1]:8080"}) {
    ScopedEnv c("CLIPHARBOR_CACHE_HOST", cache);
    EXPECT_TRUE(IsCacheAddress("http://[::1]:8080/get_video?x=1")) << cache;
    EXPECT_TRUE(IsCacheAddress("http://[0:0:0:0:0:0:0:1]/x")) << cache;
    EXPECT_FALSE(IsCacheAddress("http://[::2]:8080/x")) << cache;
    EXPECT_FALSE(IsCacheAddress("http://127.0.0.1/x")) << cache;
    EXPECT_FALSE(IsCacheAddress("ftp://[::1]/x")) << cache;
  }
}
