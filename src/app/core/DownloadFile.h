// The file a download is written to: the final name plus ".part", which
// remembers why a write failed, and its move to the final name once the body
// is complete.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Stream.h"

// `finalPath` followed by ".part".
std::string PartPath(const std::string& finalPath);

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

// Moves `partPath` to `finalPath`. A file already under the final name is
// replaced only when `mayReplace`; otherwise the move fails and both files
// stay. On failure `error` gets the reason.
bool MoveToFinalName(const std::string& partPath, const std::string& finalPath, bool mayReplace,
                     std::string& error);
