// The file a download is written to, which remembers why a write failed.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Stream.h"

class TDownloadFile final : public plat::TFileStream {
 public:
  // Creates or empties `path`, locked against other writers; raises as
  // TFileStream does.
  explicit TDownloadFile(const std::string& path);

  std::int64_t Write(const void* buffer, std::int64_t count) override;
  // The system's text of the first write that fell short ("" when none).
  const std::string& WriteError() const { return FWriteError; }

 private:
  std::string FWriteError;
};
