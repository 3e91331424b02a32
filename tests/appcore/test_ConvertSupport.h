// Helpers of the converter tests: a window that collects WM_CONVERTINFO
// records, a temporary folder, a PATH with a chosen `ffmpeg` first, and
// small process helpers.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/core/AppMessages.h"
#include "app/core/ConvertThread.h"
#include "app/core/Global.h"
#include "platform/MessageLoop.h"

namespace convtest {

// Collects the converter's records; each one is copied and freed on arrival.
class TReportWindow {
 public:
  TReportWindow() {
    Wnd = plat::AllocateHWnd([this](plat::UINT msg, plat::WPARAM, plat::LPARAM l) -> plat::LRESULT {
      if (msg == WM_CONVERTINFO) {
        auto* info = reinterpret_cast<TProcessInfo*>(l);
        Reports.push_back(*info);
        delete info;
      }
      return 0;
    });
  }
  ~TReportWindow() {
    plat::ProcessMessages();
    plat::DeallocateHWnd(Wnd);
  }
  // The end record (Percent 100) has arrived.
  bool Ended() const {
    for (const TProcessInfo& r : Reports)
      if (r.Percent == 100) return true;
    return false;
  }
  const TProcessInfo* End() const {
    for (const TProcessInfo& r : Reports)
      if (r.Percent == 100) return &r;
    return nullptr;
  }
  std::vector<int> Percents() const {
    std::vector<int> p;
    for (const TProcessInfo& r : Reports)
      if (r.Percent != 100) p.push_back(r.Percent);
    return p;
  }
  plat::HWND Wnd = 0;
  std::vector<TProcessInfo> Reports;
};

// Pumps until `done` holds or `ms` pass; true when it held.
inline bool PumpUntil(const std::function<bool()>& done, unsigned ms) {
  std::uint32_t start = plat::GetTickCount();
  while (!done()) {
    if (plat::GetTickCount() - start > ms) return false;
    plat::WaitForInput(20);
  }
  return true;
}

class TTempDir {
 public:
  TTempDir() {
    char tmpl[] = "/tmp/clipharbor-conv-XXXXXX";
    char* p = mkdtemp(tmpl);
    Path = p ? p : "";
  }
  ~TTempDir() {
    if (!Path.empty()) std::system(("rm -rf '" + Path + "'").c_str());
  }
  std::string File(const std::string& name) const { return Path + "/" + name; }
  std::string Path;
};

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream f(path, std::ios::binary);
  f << text;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

inline bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// Sets an environment variable for the life of a scope.
class TScopedEnv {
 public:
  TScopedEnv(const char* name, const std::string& value) : FName(name) {
    const char* old = std::getenv(name);
    FHad = old != nullptr;
    if (old) FOld = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~TScopedEnv() {
    if (FHad)
      ::setenv(FName.c_str(), FOld.c_str(), 1);
    else
      ::unsetenv(FName.c_str());
  }

 private:
  std::string FName, FOld;
  bool FHad = false;
};

// Output of a shell command (standard output only).
inline std::string Capture(const std::string& command) {
  std::string result;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return result;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) result.append(buf, n);
  ::pclose(p);
  return result;
}

inline bool HaveProgram(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// A tiny FLV made by the real ffmpeg: one second of test pattern at `fps`
// frames per second, small frame, with a tone. False when it could not be made.
inline bool MakeTestFlv(const std::string& path, int fps) {
  const std::string cmd = "ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=64x48:rate=" + std::to_string(fps) +
                          ":duration=1 -f lavfi -i sine=frequency=440:duration=1 -ar 22050 -f flv '" + path + "'";
  return std::system(cmd.c_str()) == 0;
}

// Open file descriptors of this process.
inline int OpenFdCount() {
  int n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

}  // namespace convtest
