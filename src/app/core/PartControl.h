// What identifies the bytes a "NAME.part" holds, kept beside it in
// "NAME.part.ctl" so that a later run continues only the same file: the
// address it came from and the first answer's total, ETag and Last-Modified.
// The file is text, one "key value" line each, and a reader skips keys it
// does not know, so that later versions can add lines (ranges that are done).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct TPartIdentity {
  std::string Url;
  std::int64_t Total = -1;  // -1: not announced
  std::string ETag;         // as sent, quotes and "W/" included
  std::string LastModified;

  bool operator==(const TPartIdentity&) const = default;
  // The answer names no total and no validator: nothing to compare with.
  bool Empty() const { return Total < 0 && ETag.empty() && LastModified.empty(); }
  // What a resuming request sends in "If-Range": the ETag when it is a
  // strong one, else the date; "" when neither can serve.
  std::string IfRange() const;
  // Why `answer` is not the same file, "" when nothing says it is another:
  // only what both name is compared.
  std::string Differs(const TPartIdentity& answer) const;
};

// The identity an answer's header gives: the total of a "Content-Range", or
// a 200's "Content-Length" when not chunked.
TPartIdentity AnswerIdentity(const std::string& url, int status, const std::vector<std::string>& header);

// "NAME.part" + ".ctl".
std::string ControlPath(const std::string& partPath);

// Reads a control file; nothing when it is missing or not one.
std::optional<TPartIdentity> LoadPartControl(const std::string& path);

// Writes to a temporary name, flushes and renames into place; never writes
// through a link. False with the system's text in `error`.
bool SavePartControl(const std::string& path, const TPartIdentity& id, std::string& error);

// The ranges of a part written over several connections ("done A-B" lines,
// A to B inclusive, after a "segmented" line): its size says nothing of what
// it holds then. Nothing when the file was written as one stream.
std::optional<std::vector<std::pair<std::int64_t, std::int64_t>>> LoadDoneRanges(const std::string& path);

// SavePartControl with the done ranges [first, last] of a segmented part.
bool SavePartControl(const std::string& path, const TPartIdentity& id,
                     const std::vector<std::pair<std::int64_t, std::int64_t>>& done, std::string& error);

// Removes the control file; a missing one is fine.
void RemovePartControl(const std::string& path);
