// A full disk for the converter: a folder whose `ffmpeg` is the real one run
// under a file-size limit with the limit's signal ignored, so that its writes
// fail with "File too large" as they would with "No space left on device".
#pragma once

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace testsupport {

// Makes `dir`/limited-bin/ffmpeg allowing `blocks` 512-byte blocks per file
// and returns the folder; "" when there is no ffmpeg on PATH.
inline std::string SizeLimitedConverterDir(const std::string& dir, int blocks) {
  std::string real;
  if (FILE* p = ::popen("command -v ffmpeg", "r")) {
    char buf[4096];
    if (std::fgets(buf, sizeof buf, p)) real = buf;
    ::pclose(p);
  }
  while (!real.empty() && (real.back() == '\n' || real.back() == '\r')) real.pop_back();
  if (real.empty()) return "";
  const std::string bin = dir + "/limited-bin";
  ::mkdir(bin.c_str(), 0755);
  {
    std::ofstream f(bin + "/ffmpeg", std::ios::binary | std::ios::trunc);
    f << "#!/bin/sh\nulimit -f " << blocks << "\ntrap '' XFSZ\nexec '" << real << "' \"$@\"\n";
  }
  ::chmod((bin + "/ffmpeg").c_str(), 0755);
  return bin;
}

}  // namespace testsupport
