// The file a download is written to: the final name plus ".part", which
// remembers why a write failed, and its move to the final name once the body
// is complete.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Stream.h"

// `finalPath` followed by ".part".
std::string PartPath(const std::string& finalPath);

// Readies `path` for a temporary file of a download (NAME.part and the like)
// and returns the mode to open it with: locked against other writers and
// never through a symbolic link, since the folder may hold one that points
// at a file of the user's. A file that starts empty replaces a link at the
// name (the link, not what it points to); one whose contents are kept fails
// to open on a link.
unsigned TemporaryFileMode(const std::string& path, bool keepContents);

// The body arrives in pieces of any size; small ones are gathered into
// large writes. A failed write raises EWriteError at the piece that caused
// it or at FlushBuffer, which the owner calls once the body has ended.
class TDownloadFile final : public plat::TBufferedFileStream {
 public:
  static constexpr std::size_t kBlockSize = 256 * 1024;
  static constexpr std::size_t kDirectFrom = 64 * 1024;

  // Creates or empties `path` (opens it as it is with `keepContents`, to be
  // continued) as TemporaryFileMode says; raises as TFileStream does.
  explicit TDownloadFile(const std::string& path, bool keepContents = false);

  // The system's text of the first write that fell short ("" when none).
  const std::string& WriteError() const { return FWriteError; }

 protected:
  std::int64_t WriteThrough(const void* buffer, std::int64_t count) override;

 private:
  std::string FWriteError;
};

// Removes `path` when it is a file that holds nothing (a ".part" that a
// failed run made and never wrote to); true when it did.
bool RemoveIfEmpty(const std::string& path);

// Moves `partPath` to `finalPath`. A file already under the final name is
// replaced only when `mayReplace`; otherwise the move fails and both files
// stay. On failure `error` gets the reason.
bool MoveToFinalName(const std::string& partPath, const std::string& finalPath, bool mayReplace,
                     std::string& error);
